#include "ui/pages/CutPage.h"

#include <glog/logging.h>

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "ui/dialogs/LoadingDialog.h"

namespace tw {

QStringList CutPage::ControlNames() const {
  return {
      "add-audio-file",
      "play",
      "pause",
      "forward",
      "rewind",
      "left-audition",
      "right-audition",
      "middle-audition",
      "cut-audio-left",
      "cut-audio-right",
      "cut-audio-left-position",
      "cut-audio-right-position",
      "audio-left-position-up",
      "audio-left-position-down",
      "audio-right-position-up",
      "audio-right-position-down",
      "sound-slider",
      "audio-filename",
      "paint-view",
      "cut-audio-file",
      "audio-cut-list"};
}

QStringList CutPage::NotifyNames() const {
  return Page::NotifyNames() + QStringList{
      "add-audio-file",
      "play",
      "pause",
      "forward",
      "rewind",
      "left-audition",
      "right-audition",
      "middle-audition",
      "cut-audio-left",
      "cut-audio-right",
      "audio-left-position-up",
      "audio-left-position-down",
      "audio-right-position-up",
      "audio-right-position-down",
      "sound-slider",
      "cut-audio-file"};
}

// The seconds record of WM_CUT_START, WM_CUT_END and WM_WAVE_CLICK arrives with the waveform
// view; until then only the loading messages of the waveform reader are handled here.
bool CutPage::HandleMessage(Message& message) {
  switch (message.id) {
    case WM_LOADING_SHOW:
      if (ctx_.loading) {
        ctx_.loading->SetProgress(static_cast<int>(message.param));
        ctx_.loading->CenterWindow();
        ctx_.loading->show();
      }
      return true;
    case WM_LOADING_HIDE:
      if (ctx_.loading) {
        ctx_.loading->SetProgress(100);
        ctx_.loading->CenterWindow();
        ctx_.loading->hide();
      }
      if (QWidget* view = Control("paint-view")) view->update();
      return true;
    default:
      return false;
  }
}

void CutPage::ReceiveRecording(const FileEntry& recording) {
  cutFile_ = recording;
  if (ctx_.selectPage) ctx_.selectPage(kOptionName);
  leftTime_ = rightTime_ = 0;
  for (const char* edit : {"cut-audio-left-position", "cut-audio-right-position"})
    if (auto* box = Ctl<QLineEdit>(edit)) box->setText(QStringLiteral("00:00:00.00"));
  LOG(INFO) << "cutAudioFile.fullPath: " << recording.fullPath;
  cutFile_.duration = std::max(ProbeDuration(recording.fullPath), 0.0);
  if (auto* label = Ctl<QLabel>("audio-filename")) label->setText(QString::fromStdString(recording.fileName));
}

// The cut entry's result file gets its real size once written; the entry's path comes from
// the shared task records, which join the page context with the cut page's behaviour.
void CutPage::AfterTaskDone(const FinishRecord&, QWidget*) {}

}  // namespace tw
