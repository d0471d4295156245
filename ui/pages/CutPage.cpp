#include "ui/pages/CutPage.h"

#include <QFileInfo>
#include <QLineEdit>

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

// The cut entry's result file gets its real size once written; the entry's path comes from
// the shared task records, which join the page context with the cut page's behaviour.
void CutPage::AfterTaskDone(const FinishRecord&, QWidget*) {}

}  // namespace tw
