#include "ui/pages/CutPage.h"

#include <glog/logging.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <filesystem>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "ui/CPaintViewUI.h"
#include "ui/dialogs/LoadingDialog.h"

namespace tw {
namespace {

constexpr int kSkipSeconds = 15;
constexpr double kNudgeSeconds = 0.01;
constexpr const char* kZeroTimeText = "00:00:00.00";

// While the page waits for an old player's or reader's threads the window keeps serving
// its events (and the messages those threads still post).
void PumpEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

}  // namespace

CutPage::CutPage(PageContext& context) : Page(context, OperationKind::Cut), ticker_(context.sink) {}

CutPage::~CutPage() {
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
      {QStringLiteral("全部(*.*)"), QStringLiteral("*.*")},
      {QStringLiteral("音频文件(%1)").arg(audio), audio},
      {QStringLiteral("视频文件(%1)").arg(video), video},
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
                                    "cut-audio-file"};
  return names;
}

}  // namespace

QStringList CutPage::ControlNames() const {
  return CutNotifyNames() + QStringList{"cut-audio-left-position", "cut-audio-right-position", "audio-filename",
                                        "paint-view", "audio-cut-list"};
}

QStringList CutPage::NotifyNames() const { return Page::NotifyNames() + CutNotifyNames(); }

void CutPage::Init() {
  view_ = Ctl<CPaintViewUI>("paint-view");
  if (view_) {
    view_->SetOwner(ctx_.sink);
    view_->SetDropHandler([this](const QStringList& paths) { LoadFile(paths.first()); });
  } else {
    LOG(ERROR) << "the cut page's \"paint-view\" is not a waveform view";
  }
  if (auto* label = Ctl<QLabel>("audio-filename")) noFileText_ = label->text();
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
  if (label) label->setText(QString::fromStdString(cutFile_.fileName));
  if (StartPlayer() == -1 && waveRc != 0) {
    // No sound to play, show or cut (not a media file, or one without a sound track): the
    // page has no file. Without a sound device the file stays, to be cut by typed times.
    cutFile_ = FileEntry{};
    if (label) label->setText(noFileText_);
  }
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
    Prompt(rc == -2 ? QStringLiteral("没有声音设备，请插入耳机!") : QStringLiteral("该文件无法播放!"));
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
    Prompt(QStringLiteral("请拖动选择剪辑区域!"));
    return;
  }
  WakeFinished();
  if (player_->state == PlayerState::Paused) {
    player_->TogglePause();
    ShowPlaying(true);
  }
  Seek(markerTime);
  auditionStopAtRight_ = stopAtRight;
}

void CutPage::OnPlayTick() {
  if (!player_) return;
  const double position = player_->GetPosition();
  if (view_) {
    view_->Model().playTime = position;
    view_->Refresh();
  }
  if (auditionStopAtRight_ && position > rightTime_ && player_->state == PlayerState::Playing) {
    player_->TogglePause();
    auditionStopAtRight_ = false;
    ShowPlaying(false);
  }
}

void CutPage::SetTimeText(const char* editName, double seconds) {
  if (auto* edit = Ctl<QLineEdit>(editName)) edit->setText(QString::fromStdString(FormatTimeText(seconds)));
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
    if (!HasFile()) {
      ChooseAndLoad();
    } else if (!player_ || player_->state == PlayerState::Finished) {
      // From the start again; without a player (no sound device before) it tries again.
      StartPlayer();
    } else {
      player_->TogglePause();
      ShowPlaying(true);
    }
  } else if (name == "pause") {
    if (player_) player_->TogglePause();
    ShowPlaying(false);
  } else if (name == "forward" || name == "rewind") {
    if (!player_) return true;
    WakeFinished();
    const bool forward = name == "forward";
    if (forward)
      player_->Forward(kSkipSeconds);
    else
      player_->Rewind(kSkipSeconds);
    player_->endReported = false;
    if (player_->state == PlayerState::Paused) {
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
    if (!player_) return true;
    const bool left = name == "cut-audio-left";
    const double position = player_->GetPosition();
    (left ? leftTime_ : rightTime_) = position;
    SetTimeText(left ? "cut-audio-left-position" : "cut-audio-right-position", position);
    if (view_) {
      WaveViewModel& model = view_->Model();
      (left ? model.leftChosen : model.rightChosen) = true;
      (left ? model.leftTime : model.rightTime) = position;
      view_->Refresh();
    }
  } else if (name == "audio-left-position-up" || name == "audio-right-position-up") {
    const bool left = name == "audio-left-position-up";
    double& time = left ? leftTime_ : rightTime_;
    if (time < 0) time = 0;
    time += kNudgeSeconds;
    SetTimeText(left ? "cut-audio-left-position" : "cut-audio-right-position", time);
  } else if (name == "audio-left-position-down" || name == "audio-right-position-down") {
    const bool left = name == "audio-left-position-down";
    double& time = left ? leftTime_ : rightTime_;
    if (time > 0) {
      time -= kNudgeSeconds;
      SetTimeText(left ? "cut-audio-left-position" : "cut-audio-right-position", time);
    }
  } else if (name == "cut-audio-file") {
    AddCutEntry();
  } else if (name == "exportBtn") {
    StartRowRun(sender,
                [](const FileEntry& entry) { return BuildCutCommand(entry, CurrentCommandContext()); });
  } else {
    return Page::Notify(type, sender);
  }
  return true;
}

// ---- Cut entries ----------------------------------------------------------------------

void CutPage::AddCutEntry() {
  if (!HasFile()) {
    Prompt(QStringLiteral("请先添加要剪辑的文件!"));
    return;
  }
  const std::string startText = EditText("cut-audio-left-position").toStdString();
  const std::string endText = EditText("cut-audio-right-position").toStdString();
  if (!IsTimeText(startText)) {
    Prompt(QStringLiteral("开始时间格式错误!"));
    return;
  }
  if (!IsTimeText(endText)) {
    Prompt(QStringLiteral("结束时间格式错误!"));
    return;
  }
  const double start = ParseTimeText(startText);
  const double end = ParseTimeText(endText);
  if (cutFile_.duration < start) {
    Prompt(QStringLiteral("开始时间格式错误!"));
    return;
  }
  if (cutFile_.duration < end) {
    Prompt(QStringLiteral("结束时间格式错误!"));
    return;
  }
  leftTime_ = start;
  rightTime_ = end;
  if (start < kWaveTimeEpsilon) {
    if (end < kWaveTimeEpsilon) {
      Prompt(QStringLiteral("请选取要截取位置!"));
      return;
    }
    leftTime_ = 0;
  } else if (start >= end) {
    rightTime_ = cutFile_.duration;
  }
  // A start at the very end leaves nothing to cut.
  if (!(rightTime_ - leftTime_ > kWaveTimeEpsilon)) {
    Prompt(QStringLiteral("请选取要截取位置!"));
    return;
  }
  if (view_) {
    view_->Model().ShowSelection(leftTime_, rightTime_);
    view_->Refresh();
  }

  if (!ctx_.tasks || !List()) return;
  const FileEntry entry = MakeCutEntry(cutFile_, leftTime_, rightTime_, CurrentCommandContext());
  const int taskId = ctx_.tasks->NextTaskId();
  ctx_.tasks->Set(taskId, entry);
  const QString stretch = QStringLiteral("%1 - %2").arg(QString::fromStdString(FormatTimeText(leftTime_)),
                                                        QString::fromStdString(FormatTimeText(rightTime_)));
  AddRow(taskId, QString::fromStdString(entry.fileName), stretch,
         QString::fromStdString(FormatDuration(rightTime_ - leftTime_)));
  SelectLastRow(List());
}

void CutPage::AfterTaskDone(const FinishRecord& finish, QWidget* row) {
  if (!ctx_.tasks) return;
  FileEntry entry;
  if (!ctx_.tasks->Find(finish.taskId, &entry)) return;
  std::error_code error;
  const auto size = std::filesystem::file_size(entry.fullPath, error);
  if (error) return;
  entry.size = static_cast<std::int64_t>(size);
  ctx_.tasks->Set(finish.taskId, entry);
  if (auto* label = row ? row->findChild<QLabel*>("fileSizeLabel") : nullptr)
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
      auto* record = message.As<SecondsRecord>();
      if (!record || !player_) return true;
      WakeFinished();
      Seek(record->seconds);
      if (player_->state == PlayerState::Paused) {
        player_->clock = record->seconds;
        if (view_) {
          view_->Model().playTime = record->seconds;
          view_->Refresh();
        }
      }
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
