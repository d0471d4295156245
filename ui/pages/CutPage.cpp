#include "ui/pages/CutPage.h"

#include <glog/logging.h>

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSlider>
#include <QTextEdit>
#include <filesystem>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "tasks/Commands.h"
#include "ui/CPaintViewUI.h"
#include "ui/ElidedText.h"
#include "ui/dialogs/LoadingDialog.h"

namespace tw {
namespace {

constexpr int kSkipSeconds = 15;
constexpr double kNudgeSeconds = 0.01;
constexpr const char* kZeroTimeText = "00:00:00.00";
constexpr double kZoomStep = 2.0;
constexpr int kScrollUnitsPerSecond = 1000;  // "wave-scroll" counts milliseconds

// While the page waits for an old player's or reader's threads the window keeps serving
// its events (and the messages those threads still post).
void PumpEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

// A control that keeps the keys it edits with.
bool IsTextEntry(const QObject* widget) {
  if (qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget) ||
      qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget))
    return true;
  const auto* combo = qobject_cast<const QComboBox*>(widget);
  return combo && combo->isEditable();
}

}  // namespace

// Sees every key press of the application first: those meant for the main window while the cut
// page is shown, with no menu or dialog open, go to the page; the page's keys win over the
// button that has the focus (Space would press it), a text field keeps its own.
class CutKeyFilter : public QObject {
 public:
  CutKeyFilter(CutPage* page, QWidget* window, QWidget* pageWidget)
      : page_(page), window_(window), pageWidget_(pageWidget) {
    qApp->installEventFilter(this);
  }
  ~CutKeyFilter() override { qApp->removeEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (!window_ || widget->window() != window_ || !pageWidget_ || !pageWidget_->isVisible()) return false;
    // Only as the key reaches the control with the focus: a key it leaves (a text field leaves
    // Enter) goes on to its parents, and must not count again there as the page's.
    QWidget* focus = window_->focusWidget() ? window_->focusWidget() : window_.data();
    if (widget != focus) return false;
    if (QApplication::activePopupWidget() || QApplication::activeModalWidget()) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers();
    const WaveKey action =
        WaveKeyFor(key->key(), mods & Qt::ShiftModifier, mods & Qt::ControlModifier, IsTextEntry(widget));
    if (action == WaveKey::None) return false;
    // Held down, only the steps repeat.
    const bool repeats = action == WaveKey::Back || action == WaveKey::Forward ||
                         action == WaveKey::FineBack || action == WaveKey::FineForward ||
                         action == WaveKey::ZoomIn || action == WaveKey::ZoomOut;
    if (key->isAutoRepeat() && !repeats) return true;
    return page_->HandleKey(action);
  }

 private:
  CutPage* page_;
  QPointer<QWidget> window_;
  QPointer<QWidget> pageWidget_;
};

CutPage::CutPage(PageContext& context) : Page(context, OperationKind::Cut), ticker_(context.sink) {}

CutPage::~CutPage() {
  keys_.reset();
  ticker_.Stop();
  if (player_) {
    player_->endCallbackEnabled = false;
    player_->Stop();
    player_->Release();
    player_.reset();
  }
}

const std::vector<FileFilter>& CutPage::OpenFilters() {
  static const QString audio = QStringLiteral(
      "*.mp3;*.aac;*.wma;*.ogg;*.m4a;*.flac;*.ape;*.wav;*.m4r;*.amr;*.mka;*.au;*.caf;*.ac3;*.mp2;"
      "*.aiff;*.voc;*.wv;*.mmf;*.aifc;*.3gpp");
  static const QString video = QStringLiteral(
      "*.mp4;*.flv;*.wmv;*.avi;*.mov;*.mkv;*.m4v;*.f4v;*.ts;*.mts;*.rm;*.rmvb;*.m3u8;*.webm;*.mpg;"
      "*.mpeg;*.asf;*.dat;*.3gp;*.3g2;*.vob;*ogv;*.divx;*.mxf");
  static const std::vector<FileFilter> filters = {
      {QCoreApplication::translate("CutPage", "全部(*.*)"), QStringLiteral("*.*")},
      {QCoreApplication::translate("CutPage", "音频文件(%1)").arg(audio), audio},
      {QCoreApplication::translate("CutPage", "视频文件(%1)").arg(video), video},
  };
  return filters;
}

namespace {

// The controls whose notifications the page handles.
const QStringList& CutNotifyNames() {
  static const QStringList names = {"add-audio-file",
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
                                    "cut-audio-file",
                                    "zoom-in",
                                    "zoom-out",
                                    "zoom-fit"};
  return names;
}

}  // namespace

QStringList CutPage::ControlNames() const {
  return CutNotifyNames() + QStringList{"cut-audio-left-position", "cut-audio-right-position",
                                        "audio-filename",          "paint-view",
                                        "audio-cut-list",          "wave-scroll"};
}

QStringList CutPage::NotifyNames() const {
  return Page::NotifyNames() + CutNotifyNames();
}

void CutPage::Init() {
  view_ = Ctl<CPaintViewUI>("paint-view");
  if (view_) {
    view_->SetOwner(ctx_.sink);
    view_->SetDropHandler([this](const QStringList& paths) { LoadFile(paths.first()); });
    QObject::connect(view_, &CPaintViewUI::visibleChanged, view_, [this] { SyncScrollBar(); });
    keys_ = std::make_unique<CutKeyFilter>(this, ctx_.window, view_);
  } else {
    LOG(ERROR) << "the cut page's \"paint-view\" is not a waveform view";
  }
  if (auto* bar = Ctl<QScrollBar>("wave-scroll")) {
    QObject::connect(bar, &QScrollBar::valueChanged, bar, [this](int value) {
      if (view_) view_->ScrollTo(static_cast<double>(value) / kScrollUnitsPerSecond);
    });
  }
  for (const bool left : {true, false}) {
    if (auto* edit = Ctl<QLineEdit>(left ? "cut-audio-left-position" : "cut-audio-right-position"))
      QObject::connect(edit, &QLineEdit::textEdited, edit,
                       [this, left](const QString& text) { OnTimeTyped(left, text); });
  }
  if (auto* label = Ctl<QLabel>("audio-filename")) noFileText_ = label->text();
  SyncScrollBar();
}

void CutPage::SyncScrollBar() {
  auto* bar = Ctl<QScrollBar>("wave-scroll");
  if (!bar || !view_) return;
  const WaveViewModel& model = view_->Model();
  const WaveSpan view = model.Visible();
  const QSignalBlocker quiet(bar);
  const auto units = [](double seconds) {
    return static_cast<int>(std::lround(seconds * kScrollUnitsPerSecond));
  };
  bar->setRange(0, model.Zoomed() ? units(model.totalTime - view.length) : 0);
  bar->setPageStep(std::max(1, units(view.length)));
  bar->setSingleStep(std::max(1, units(view.length / 10)));
  bar->setValue(units(view.start));
  bar->setEnabled(model.Zoomed());
}

// ---- Loading --------------------------------------------------------------------------

void CutPage::ChooseAndLoad() {
  const QStringList paths = Files().OpenFiles(ctx_.window, OpenFilters(), false);
  if (!paths.isEmpty()) LoadFile(paths.first());
}

void CutPage::LoadFile(const QString& path) {
  Load(EntryForPath(path.toStdString()), -1);
}

void CutPage::ReceiveRecording(const FileEntry& recording) {
  if (ctx_.selectPage) ctx_.selectPage(kOptionName);
  LOG(INFO) << "cutAudioFile.fullPath: " << recording.fullPath;
  Load(recording, 0);
}

void CutPage::Load(const FileEntry& file, double markerTime) {
  // Replacing the player and the reader serves events while it waits; a load asked for
  // meanwhile (a drop, a handed-over recording) runs once this one is done.
  if (loadRunning_) {
    pendingLoad_.emplace(file, markerTime);
    return;
  }
  loadRunning_ = true;
  leftTime_ = rightTime_ = markerTime;
  auditionStopAtRight_ = false;
  if (auto* edit = Ctl<QLineEdit>("cut-audio-left-position")) edit->setText(kZeroTimeText);
  if (auto* edit = Ctl<QLineEdit>("cut-audio-right-position")) edit->setText(kZeroTimeText);
  cutFile_ = file;
  StartFile();
  loadRunning_ = false;
  if (pendingLoad_) {
    const auto next = std::move(*pendingLoad_);
    pendingLoad_.reset();
    Load(next.first, next.second);
  }
}

void CutPage::StartFile() {
  const MediaProbe probe = ProbeMedia(cutFile_.fullPath);
  cutFile_.duration = std::max(0.0, probe.duration);
  cutFile_.facts = probe.facts;
  int waveRc = -1;
  if (view_) {
    view_->ResetView();
    view_->SetTotalTime(cutFile_.duration);
    view_->Refresh();
    waveRc = view_->LoadWave(cutFile_.fullPath, PumpEvents);
    const int rc = waveRc;
    if (ctx_.loading) {
      if (rc == 0) {
        ctx_.loading->SetProgress(0);
        ctx_.loading->CenterWindow();
        ctx_.loading->show();
      } else {
        ctx_.loading->hide();  // the old file's dialog, when it was still loading
      }
    }
  }
  auto* label = Ctl<QLabel>("audio-filename");
  SetElidedText(label, QString::fromStdString(cutFile_.fileName), QString::fromStdString(cutFile_.fullPath));
  if (StartPlayer() == -1 && waveRc != 0) {
    // No sound to play, show or cut (not a media file, or one without a sound track): the
    // page has no file. Without a sound device the file stays, to be cut by typed times.
    cutFile_ = FileEntry{};
    SetElidedText(label, noFileText_);
  }
  // The keys go to the waveform now, not to the button that opened the file.
  if (view_) view_->setFocus(Qt::OtherFocusReason);
}

void CutPage::StopPlayer() {
  ticker_.Stop(PumpEvents);
  // Taken out first: handlers served while it stops must not find a player going away.
  std::unique_ptr<AudioPlayer> old = std::move(player_);
  if (!old) return;
  old->endCallbackEnabled = false;
  old->Stop(PumpEvents);
  old->Release();
}

int CutPage::StartPlayer() {
  StopPlayer();
  auto player = std::make_unique<AudioPlayer>();
  const std::int64_t serial = ++playerSerial_;
  MessageSink* sink = ctx_.sink;
  player->endCallbackEnabled = true;
  // Runs on the player's reading thread: the state now, the buttons on the window thread.
  player->SetEndCallback(
      [sink, serial](void* userData) {
        LOG(INFO) << " MainPlayStopCallback finish";
        static_cast<AudioPlayer*>(userData)->state = PlayerState::Finished;
        PostValue(sink, WM_PLAY_END, serial);
      },
      player.get());
  const int rc = player->Play(cutFile_.fullPath);
  if (rc != 0) {
    player->Stop(PumpEvents);
    player->Release();
    player.reset();
    ShowPlaying(false);
    Prompt(rc == -2 ? QCoreApplication::translate("CutPage", "没有声音设备，请插入耳机!")
                    : QCoreApplication::translate("CutPage", "该文件无法播放!"));
    return rc;
  }
  // The slider shows the volume the new player plays at.
  if (auto* slider = Ctl<QSlider>("sound-slider")) player->SetVolume(slider->value());
  player_ = std::move(player);
  ShowPlaying(true);
  ticker_.Start();
  return 0;
}

void CutPage::ShowPlaying(bool playing) {
  if (auto* play = Control("play")) play->setVisible(!playing);
  if (auto* pause = Control("pause")) pause->setVisible(playing);
}

// ---- Playback -------------------------------------------------------------------------

void CutPage::Seek(double seconds) {
  player_->SeekTo(seconds);
  player_->endReported = false;
}

void CutPage::WakeFinished() {
  if (player_->state != PlayerState::Finished) return;
  player_->paused = true;
  player_->state = PlayerState::Paused;
}

void CutPage::Audition(double markerTime, bool stopAtRight) {
  auditionStopAtRight_ = false;
  if (!player_) return;
  if (!(markerTime > 0)) {
    Prompt(QCoreApplication::translate("CutPage", "请拖动选择剪辑区域!"));
    return;
  }
  WakeFinished();
  if (player_->state == PlayerState::Paused) {
    player_->TogglePause();
    ShowPlaying(true);
  }
  Seek(markerTime);
  auditionStopAtRight_ = stopAtRight;
  player_->pausedAtMark = false;
  player_->pauseAt = stopAtRight ? rightTime_ : -1.0;
}

void CutPage::OnPlayTick() {
  if (!player_) return;
  const double position = PlayPosition();
  if (view_) {
    const double before = view_->Model().playTime;
    view_->Model().playTime = position;
    // A zoomed view turns its page when the playing position runs off its right edge.
    const double end = view_->Model().Visible().End();
    if (player_->state == PlayerState::Playing && before < end && position >= end)
      view_->EnsureVisible(position);
    view_->Refresh();
  }
  // The player stops an audition itself (pauseAt) and the page shows it at its next tick; the
  // tick still stops one the player let pass.
  if (auditionStopAtRight_ && player_->pausedAtMark.exchange(false)) {
    auditionStopAtRight_ = false;
    ShowPlaying(false);
  } else if (auditionStopAtRight_ && position > rightTime_ && player_->state == PlayerState::Playing) {
    player_->TogglePause();
    player_->pauseAt = -1.0;
    auditionStopAtRight_ = false;
    ShowPlaying(false);
  }
}

void CutPage::SetTimeText(const char* editName, double seconds) {
  if (auto* edit = Ctl<QLineEdit>(editName)) edit->setText(QString::fromStdString(FormatTimeText(seconds)));
}

void CutPage::ShowMarker(bool left, double seconds) {
  if (!view_) return;
  WaveViewModel& model = view_->Model();
  (left ? model.leftChosen : model.rightChosen) = true;
  (left ? model.leftTime : model.rightTime) = seconds;
  view_->Refresh();
}

void CutPage::OnTimeTyped(bool left, const QString& text) {
  const std::string typed = text.toStdString();
  if (!HasFile() || !IsTimeText(typed)) return;
  const double seconds = ParseTimeText(typed);
  if (seconds > cutFile_.duration) return;  // said so when the entry is added
  (left ? leftTime_ : rightTime_) = seconds;
  ShowMarker(left, seconds);
}

void CutPage::MovePlayhead(double seconds) {
  if (!player_) return;
  WakeFinished();
  Seek(seconds);
  if (player_->state == PlayerState::Paused) {
    player_->clock = seconds;
    if (view_) view_->Model().playTime = seconds;
  }
  if (view_) {
    view_->EnsureVisible(seconds);
    view_->Refresh();
  }
}

void CutPage::PlayOrPause() {
  if (player_ && player_->state == PlayerState::Playing) {
    player_->TogglePause();
    ShowPlaying(false);
  } else if (!player_ || player_->state == PlayerState::Finished) {
    // From the start again; without a player (no sound device before) it tries again.
    StartPlayer();
  } else {
    player_->TogglePause();
    ShowPlaying(true);
  }
}

double CutPage::PlayPosition() const {
  // A paused player rests at its clock once the rest of its last chunk has played out; a key
  // pressed before then means the place the clock was put.
  return player_->state == PlayerState::Playing ? player_->GetPosition() : player_->clock.load();
}

void CutPage::MarkAtPlayPosition(bool left) {
  if (!player_) return;
  const double position = PlayPosition();
  (left ? leftTime_ : rightTime_) = position;
  SetTimeText(left ? "cut-audio-left-position" : "cut-audio-right-position", position);
  ShowMarker(left, position);
}

bool CutPage::HandleKey(WaveKey key) {
  const double duration = cutFile_.duration > 0 ? cutFile_.duration : (player_ ? player_->duration : 0);
  const auto step = [&](int direction, bool fine) {
    if (!player_ || !view_) return;
    const double seconds = view_->Model().StepSeconds(view_->Geometry(), fine);
    double target = std::max(0.0, PlayPosition() + direction * seconds);
    if (duration > 0) target = std::min(target, duration);
    MovePlayhead(target);
  };
  switch (key) {
    case WaveKey::None:
      return false;
    case WaveKey::PlayPause:
      if (HasFile()) PlayOrPause();
      break;
    case WaveKey::Back:
    case WaveKey::Forward:
    case WaveKey::FineBack:
    case WaveKey::FineForward:
      step(key == WaveKey::Back || key == WaveKey::FineBack ? -1 : 1,
           key == WaveKey::FineBack || key == WaveKey::FineForward);
      break;
    case WaveKey::ToStart:
      MovePlayhead(0);
      break;
    case WaveKey::ToEnd:
      MovePlayhead(duration);
      break;
    case WaveKey::MarkStart:
    case WaveKey::MarkEnd:
      MarkAtPlayPosition(key == WaveKey::MarkStart);
      break;
    case WaveKey::JumpToStart:
    case WaveKey::JumpToEnd: {
      const double marker = key == WaveKey::JumpToStart ? leftTime_ : rightTime_;
      if (marker >= 0) MovePlayhead(marker);
      break;
    }
    case WaveKey::Export:
      ExportSelection();
      break;
    case WaveKey::ZoomIn:
      if (view_) view_->ZoomBy(kZoomStep);
      break;
    case WaveKey::ZoomOut:
      if (view_) view_->ZoomBy(1 / kZoomStep);
      break;
    case WaveKey::ZoomFit:
      if (view_) view_->ZoomFit();
      break;
  }
  return true;
}

bool CutPage::Notify(const QString& type, QObject* sender) {
  const QString name = sender->objectName();
  if (type == "valuechanged" && name == "sound-slider") {
    if (auto* slider = qobject_cast<QSlider*>(sender); slider && player_) player_->SetVolume(slider->value());
    return true;
  }
  if (type != "click") return false;

  if (name == "add-audio-file") {
    ChooseAndLoad();
  } else if (name == "play") {
    if (!HasFile())
      ChooseAndLoad();
    else
      PlayOrPause();
  } else if (name == "pause") {
    if (player_) player_->TogglePause();
    ShowPlaying(false);
  } else if (name == "forward" || name == "rewind") {
    if (!player_) return true;
    WakeFinished();
    const bool forward = name == "forward";
    const bool paused = player_->state == PlayerState::Paused;
    if (forward)
      player_->Forward(kSkipSeconds);
    else
      player_->Rewind(kSkipSeconds);
    player_->endReported = false;
    if (paused) {
      const double clock = player_->clock;
      player_->clock =
          forward ? ForwardTarget(clock, kSkipSeconds, player_->duration) : RewindTarget(clock, kSkipSeconds);
      if (view_) {
        view_->Model().playTime = player_->clock;
        view_->Refresh();
      }
    }
  } else if (name == "left-audition") {
    Audition(leftTime_, false);
  } else if (name == "right-audition") {
    Audition(rightTime_, false);
  } else if (name == "middle-audition") {
    Audition(leftTime_, true);
  } else if (name == "cut-audio-left" || name == "cut-audio-right") {
    MarkAtPlayPosition(name == "cut-audio-left");
  } else if (name == "audio-left-position-up" || name == "audio-right-position-up") {
    const bool left = name == "audio-left-position-up";
    double& time = left ? leftTime_ : rightTime_;
    if (time < 0) time = 0;
    time += kNudgeSeconds;
    SetTimeText(left ? "cut-audio-left-position" : "cut-audio-right-position", time);
    if (HasFile()) ShowMarker(left, time);
  } else if (name == "audio-left-position-down" || name == "audio-right-position-down") {
    const bool left = name == "audio-left-position-down";
    double& time = left ? leftTime_ : rightTime_;
    if (time > 0) {
      time -= kNudgeSeconds;
      SetTimeText(left ? "cut-audio-left-position" : "cut-audio-right-position", time);
      if (HasFile()) ShowMarker(left, std::max(0.0, time));
    }
  } else if (name == "cut-audio-file") {
    AddCutEntry();
  } else if (name == "zoom-in" || name == "zoom-out") {
    if (view_) view_->ZoomBy(name == "zoom-in" ? kZoomStep : 1 / kZoomStep);
  } else if (name == "zoom-fit") {
    if (view_) view_->ZoomFit();
  } else if (name == "exportBtn") {
    StartRowRun(sender,
                [](const FileEntry& entry) { return BuildCutCommand(entry, CurrentCommandContext()); });
  } else {
    return Page::Notify(type, sender);
  }
  return true;
}

// ---- Cut entries ----------------------------------------------------------------------

int CutPage::AddCutEntry() {
  if (!HasFile()) {
    Prompt(QCoreApplication::translate("CutPage", "请先添加要剪辑的文件!"));
    return -1;
  }
  const std::string startText = EditText("cut-audio-left-position").toStdString();
  const std::string endText = EditText("cut-audio-right-position").toStdString();
  if (!IsTimeText(startText)) {
    Prompt(QCoreApplication::translate("CutPage", kMsgCutStartFormat));
    return -1;
  }
  if (!IsTimeText(endText)) {
    Prompt(QCoreApplication::translate("CutPage", kMsgCutEndFormat));
    return -1;
  }
  const double start = ParseTimeText(startText);
  const double end = ParseTimeText(endText);
  if (const char* refusal = CheckCutStretch(cutFile_.duration, start, end)) {
    Prompt(QCoreApplication::translate("CutPage", refusal));
    return -1;
  }
  leftTime_ = start < kWaveTimeEpsilon ? 0 : start;
  rightTime_ = end;
  if (view_) {
    view_->Model().ShowSelection(leftTime_, rightTime_);
    view_->Refresh();
  }

  if (!ctx_.tasks || !List()) return -1;
  const FileEntry entry = MakeCutEntry(cutFile_, leftTime_, rightTime_, CurrentCommandContext());
  const int taskId = ctx_.tasks->NextTaskId();
  ctx_.tasks->Set(taskId, entry);
  const QString stretch = QStringLiteral("%1 - %2").arg(QString::fromStdString(FormatTimeText(leftTime_)),
                                                        QString::fromStdString(FormatTimeText(rightTime_)));
  AddRow(taskId, QString::fromStdString(entry.fileName), stretch,
         QString::fromStdString(FormatDuration(rightTime_ - leftTime_)));
  SelectLastRow(List());
  return taskId;
}

void CutPage::ExportSelection() {
  const int taskId = AddCutEntry();
  QWidget* row = taskId < 0 ? nullptr : FindRow(taskId);
  QObject* button = row ? row->findChild<QAbstractButton*>(Rows()->actionButton) : nullptr;
  if (!button) return;
  StartRowRun(button, [](const FileEntry& entry) { return BuildCutCommand(entry, CurrentCommandContext()); });
}

void CutPage::AfterTaskDone(const FinishRecord& finish, QWidget* row) {
  if (!ctx_.tasks) return;
  FileEntry entry;
  if (!ctx_.tasks->Find(finish.taskId, &entry)) return;
  entry.exported = !finish.outputPath.empty();
  // The export took the name that was free when it was published.
  if (!finish.outputPath.empty() && finish.outputPath != entry.fullPath) {
    entry.fullPath = finish.outputPath;
    entry.fileName = finish.outputPath.substr(finish.outputPath.rfind('/') + 1);
    if (auto* label = row ? row->findChild<QLabel*>("fileNameLabel") : nullptr)
      SetElidedText(label, QString::fromStdString(entry.fileName), QString::fromStdString(entry.fullPath));
  }
  std::error_code error;
  const auto size = std::filesystem::file_size(entry.fullPath, error);
  if (!error) entry.size = static_cast<std::int64_t>(size);
  ctx_.tasks->Set(finish.taskId, entry);
  if (auto* label = row && !error ? row->findChild<QLabel*>("fileSizeLabel") : nullptr)
    label->setText(QString::fromStdString(FormatFileSize(entry.size)));
}

// ---- Window messages ------------------------------------------------------------------

bool CutPage::HandleMessage(Message& message) {
  switch (message.id) {
    case WM_CUT_START:
    case WM_CUT_END: {
      auto* record = message.As<SecondsRecord>();
      if (!record) return true;
      const bool start = message.id == WM_CUT_START;
      (start ? leftTime_ : rightTime_) = record->seconds;
      SetTimeText(start ? "cut-audio-left-position" : "cut-audio-right-position", record->seconds);
      if (player_) {
        Seek(record->seconds);
        if (!start) player_->paused = false;
      }
      return true;
    }
    case WM_LEFT_MARKER_GRAB:
    case WM_RIGHT_MARKER_GRAB: {
      if (!player_) return true;
      bool& whilePlaying = message.id == WM_LEFT_MARKER_GRAB ? leftGrabWhilePlaying_ : rightGrabWhilePlaying_;
      whilePlaying = player_->state == PlayerState::Playing;
      if (!whilePlaying) {
        // The sound follows the marker while it is dragged.
        player_->paused = false;
        if (player_->state == PlayerState::Finished) player_->state = PlayerState::Paused;
      }
      return true;
    }
    case WM_LEFT_MARKER_RELEASE:
    case WM_RIGHT_MARKER_RELEASE: {
      const bool whilePlaying =
          message.id == WM_LEFT_MARKER_RELEASE ? leftGrabWhilePlaying_ : rightGrabWhilePlaying_;
      if (player_ && !whilePlaying) player_->paused = true;
      return true;
    }
    case WM_WAVE_CLICK: {
      if (auto* record = message.As<SecondsRecord>()) MovePlayhead(record->seconds);
      return true;
    }
    case WM_LOADING_SHOW:
      // A replaced reader's last report may still have been on its way: once the current
      // reader has finished (or could not start) no report reopens the dialog.
      if (view_ && view_->Reader() && !view_->Loading()) return true;
      if (ctx_.loading) {
        ctx_.loading->SetProgress(static_cast<int>(message.param));
        ctx_.loading->CenterWindow();
        ctx_.loading->show();
      }
      return true;
    case WM_LOADING_HIDE:
      if (view_ && view_->Loading()) return true;  // a replaced reader's end
      if (ctx_.loading) {
        ctx_.loading->SetProgress(100);
        ctx_.loading->hide();
      }
      if (view_) view_->Refresh();
      return true;
    case WM_PLAY_TICK:
      OnPlayTick();
      return true;
    case WM_PLAY_END:
      if (player_ && message.param == playerSerial_ && player_->state == PlayerState::Finished)
        ShowPlaying(false);
      return true;
    default:
      return false;
  }
}

}  // namespace tw
