#include "ui/pages/RecordPage.h"

#include <dirent.h>
#include <glog/logging.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>
#include <vector>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "media/AudioRecorder.h"
#include "media/MixerWrap.h"
#include "ui/dialogs/PromptBoxDialog.h"
#include "ui/pages/CutPage.h"

namespace tw {
namespace {

constexpr int kDefaultLevel = 60;
constexpr int kDefaultBoost = 20;
constexpr int kListTimerDelayMs = 50;
// The recorder finishes its file within about a second of Stop, a few seconds at most when
// the sound server is stuck.
constexpr int kFinishWaitMs = 15000;
// A name already taken (a recording stopped and started again within one second) moves on by
// whole seconds, so the earlier file is never overwritten.
constexpr int kMaxNameTries = 3600;

bool IsFile(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st{};
  return lstat(path.c_str(), &st) == 0;
}

void WriteSetting(const char* key, const std::string& value) {
  if (!SettingsFile::Instance().WriteString(kSettingsSection, key, value))
    LOG(ERROR) << "cannot save the setting " << key << " in " << SettingsFile::Instance().Path();
}

}  // namespace

RecordStartCheck CheckRecordStart(int voiceSource, bool hasRenderDevice, bool hasMicrophone) {
  if (!hasRenderDevice && (voiceSource == SourceAll || voiceSource == SourceSystem))
    return RecordStartCheck::NoRenderDevice;
  if (hasMicrophone) return RecordStartCheck::Go;
  switch (voiceSource) {
    case SourceAll:
      return RecordStartCheck::SystemOnly;
    case SourceMicrophone:
      return RecordStartCheck::NoMicrophone;
    default:
      return RecordStartCheck::Go;
  }
}

int RecordBitRate(const QString& qualityText) {
  static const std::pair<const char*, int> kRates[] = {
      {"64kbps", 64000},   {"96kbps", 96000},   {"128kbps", 128000},
      {"192kbps", 192000}, {"256kbps", 256000}, {"320kbps", 320000},
  };
  for (const auto& [text, rate] : kRates)
    if (qualityText == QLatin1String(text)) return rate;
  return 128000;
}

std::string RecordingFileName(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
  return std::string("新录音-") + stamp + ".mp3";
}

bool IsListedRecording(const std::string& fileName) {
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string extension = fileName.substr(dot + 1);
  return extension == "mp3" || extension == "MP3";
}

FileEntry RecordingEntry(const std::string& folder, const std::string& fileName) {
  FileEntry entry;
  entry.fileName = fileName;
  entry.filePath = folder;
  entry.fullPath = folder + "/" + fileName;
  struct stat st{};
  if (stat(entry.fullPath.c_str(), &st) == 0) entry.size = st.st_size;
  // An unreadable file still gets its row, with no length rather than a negative one.
  entry.duration = std::max(ProbeDuration(entry.fullPath), 0.0);
  return entry;
}

std::string RecordingsFolder(bool make) {
  const std::string folder = GetOutputFolder() + "/录音";
  if (make) CreateFolderTree(folder);
  return folder;
}

RecordPage::RecordPage(PageContext& context) : Page(context, OperationKind::Record) {
  listTimer_.setObjectName(QString::number(kRecordListTimerId));
  listTimer_.setSingleShot(true);
  QObject::connect(&listTimer_, &QTimer::timeout, [this] { SelectLastRow(List()); });
}

RecordPage::~RecordPage() {
  levels_.reset();
  scanStop_ = true;
  if (scan_.joinable()) scan_.join();
  if (recorder_) FinishRecorder();
}

QStringList RecordPage::ControlNames() const {
  return {
      "recorder-origin-all",
      "recorder-origin-microphone",
      "recorder-origin-system",
      "recorder-progress",
      "recorder-start",
      "recorder-pause",
      "recorder-stop",
      "record-audio-quality",
      "mic-volume-slider",
      "mic-volume-label",
      "sys-volume-slider",
      "sys-volume-label",
      "agc-check",
      "mic-strengthen-slider",
      "mic-strengthen-label",
      "noise-check",
      "audio-record-list"};
}

QStringList RecordPage::NotifyNames() const {
  return Page::NotifyNames() + QStringList{
      "recorder-origin-all",
      "recorder-origin-microphone",
      "recorder-origin-system",
      "recorder-start",
      "recorder-pause",
      "recorder-stop",
      "mic-volume-slider",
      "sys-volume-slider",
      "mic-strengthen-slider",
      "agc-check",
      "noise-check"};
}

void RecordPage::Init() {
  InitControls();
  StartScan();
}

// The sliders follow the devices' levels, not the saved ones: the server's are shown as it
// reports them (at once, and after every change another mixer makes), without the window ever
// waiting for it. The options and the boost come from the settings.
void RecordPage::InitControls() {
  ShowLevels(-1, -1);
  levels_ = std::make_unique<LevelWatcher>([sink = ctx_.sink](int capture, int render) {
    PostValue(sink, WM_RECORD_LEVELS, static_cast<std::int64_t>(capture + 1) * 1000 + render + 1);
  });

  const SettingsFile& settings = SettingsFile::Instance();
  int boost = settings.GetInt(kSettingsSection, kKeyVoiceSize, 0);
  if (boost == 0) boost = kDefaultBoost;
  if (auto* slider = Ctl<QSlider>("mic-strengthen-slider")) slider->setValue(boost);
  if (auto* label = Ctl<QLabel>("mic-strengthen-label")) label->setText(QString::number(boost));

  // A value the page does not know records both, as a missing one does.
  static const char* const kOrigins[] = {"recorder-origin-all", "recorder-origin-microphone",
                                         "recorder-origin-system"};
  int source = settings.GetInt(kSettingsSection, kKeyVoiceSource, SourceAll);
  if (source < SourceAll || source > SourceSystem) source = SourceAll;
  if (auto* option = Ctl<QAbstractButton>(kOrigins[source])) option->setChecked(true);

  if (auto* box = Ctl<QAbstractButton>("agc-check"))
    box->setChecked(settings.GetInt(kSettingsSection, kKeyAgcCheck, 0) != 0);
  if (auto* box = Ctl<QAbstractButton>("noise-check"))
    box->setChecked(settings.GetInt(kSettingsSection, kKeyNoiseCheck, 0) != 0);
  ShowRecording(false);
}

bool RecordPage::Notify(const QString& type, QObject* sender) {
  const QString name = sender->objectName();
  if (type == "click") {
    if (name == "recorder-start") {
      Start();
    } else if (name == "recorder-pause") {
      Pause();
    } else if (name == "recorder-stop") {
      Stop();
    } else if (name == "recorderCutBtn") {
      ReceiveInCutPage(sender);
    } else {
      return Page::Notify(type, sender);  // the add button and the row menu button
    }
    return true;
  }
  if (type == "valuechanged") {
    auto* slider = qobject_cast<QAbstractSlider*>(sender);
    if (!slider) return false;
    OnLevelChanged(name, slider->value());
    return true;
  }
  if (type == "selectchanged") {
    OnSelectChanged(name, sender);
    return true;
  }
  return false;
}

bool RecordPage::HandleMessage(Message& message) {
  switch (message.id) {
    case WM_RECORD_TIME:
      // Seconds still on their way when the recording stopped belong to no recording.
      if (!afterStop_)
        if (auto* label = Ctl<QLabel>("recorder-progress"))
          label->setText(QString::fromStdString(FormatDuration(static_cast<double>(message.param))));
      return true;
    case WM_RECORD_FAILED:
      // Only the recorder that failed says so: a report of an earlier one is stale.
      if (recorder_ && recorder_->Failure() != FailureNone) Stop(recorder_->Failure());
      return true;
    case WM_RECORD_LEVELS:
      ShowLevels(static_cast<int>(message.param / 1000) - 1, static_cast<int>(message.param % 1000) - 1);
      return true;
    case WM_RECORD_SCAN_ENTRY:
      scanPending_ -= 1;
      if (auto* record = message.As<RecordingRecord>()) AddEntry(record->entry);
      return true;
    default:
      return false;
  }
}

void RecordPage::WindowClosing() {
  if (!recorder_) return;
  LOG(INFO) << "the window closes while recording: finishing " << RecordingPath();
  ShowRecording(false);
  FinishRecorder();
}

void RecordPage::Start() {
  if (recorder_) {
    if (recorder_->State() == Paused) {
      ShowRecording(true);
      recorder_->Resume();
    }
    return;
  }
  const std::string folder = RecordingsFolder(true);
  std::time_t when = std::time(nullptr);
  std::string fileName = RecordingFileName(when);
  for (int i = 0; i < kMaxNameTries && Exists(folder + "/" + fileName); ++i)
    fileName = RecordingFileName(++when);
  const int bitRate = RecordBitRate(ComboText("record-audio-quality"));

  RecorderSettings settings = ReadRecorderSettings();
  if (settings.voiceSource < SourceAll || settings.voiceSource > SourceSystem) settings.voiceSource = SourceAll;
  const bool needsRender = settings.voiceSource == SourceAll || settings.voiceSource == SourceSystem;
  const bool hasRender = !needsRender || HasRenderDevice();
  std::string captureName;
  const bool micAvailable = GetDefaultCaptureName(captureName);
  switch (CheckRecordStart(settings.voiceSource, hasRender, micAvailable)) {
    case RecordStartCheck::NoRenderDevice:
      Prompt(QCoreApplication::translate("RecordPage", "未启用音频输出设备!"));
      return;
    case RecordStartCheck::NoMicrophone:
      Prompt(QCoreApplication::translate("RecordPage", "请先插入麦克风设备!"));
      return;
    case RecordStartCheck::SystemOnly:
      PromptBoxDialog::Show(ctx_.window,
                            QCoreApplication::translate("RecordPage", "没有插入麦克风设备,仅录系统声音"), 250,
                            100);
      break;
    case RecordStartCheck::Go:
      break;
  }

  auto recorder = std::make_unique<AudioRecorder>(ctx_.sink);
  recorder->UseSettings(settings);
  const int rc = recorder->Start(fileName, folder, bitRate, CodecMp3, micAvailable, captureName);
  if (rc < 0) {
    LOG(ERROR) << "the recording " << folder << "/" << fileName << " could not start: " << rc;
    recorder.reset();
    Prompt(QCoreApplication::translate("RecordPage", "音频设备出错!"));
    return;
  }
  // The name the recorder claimed (another program may have taken the one chosen meanwhile).
  const std::string claimed = recorder->OutputPath();
  recordingFileName_ = claimed.substr(claimed.rfind('/') + 1);
  recordingsFolder_ = folder;
  recorder_ = std::move(recorder);
  afterStop_ = false;
  LOG(INFO) << "recording to " << RecordingPath() << " at " << bitRate << " bit/s";
  ShowRecording(true);
  recorder_->Resume();
}

void RecordPage::Pause() {
  if (!recorder_ || recorder_->State() != Recording) return;
  ShowRecording(false, true);
  recorder_->Pause();
}

void RecordPage::Stop(int failure) {
  if (!recorder_) return;
  ShowRecording(false);
  if (auto* label = Ctl<QLabel>("recorder-progress")) label->setText(QStringLiteral("00:00:00"));
  afterStop_ = true;
  // A write that fails while the file is finished (its end cannot be written) is a failure too.
  const int finishFailure = FinishRecorder();
  if (failure == FailureNone) failure = finishFailure;
  AddEntry(RecordingEntry(recordingsFolder_, recordingFileName_));
  listTimer_.start(kListTimerDelayMs);
  // What was recorded up to the failure is kept and listed above; the prompt says what failed
  // and where the part is.
  if (failure == FailureNone) return;
  const char* cause = failure == FailureWrite    ? QT_TRANSLATE_NOOP("RecordPage", "录音文件写入失败,录音已停止!")
                      : failure == FailureServer ? QT_TRANSLATE_NOOP("RecordPage", "声音服务器没有应答,录音已停止!")
                      : failure == FailureEncode ? QT_TRANSLATE_NOOP("RecordPage", "录音无法编码,录音已停止!")
                                                 : QT_TRANSLATE_NOOP("RecordPage", "音频设备出错!");
  Prompt(QCoreApplication::translate("RecordPage", cause) + QLatin1Char('\n') +
         QCoreApplication::translate("RecordPage", "已录下的内容保存在 %1").arg(QString::fromStdString(RecordingPath())));
}

// Blocks the window thread while the recorder finishes its file (about a second); the recorder
// is gone before anything else can run, so no message finds it half stopped.
int RecordPage::FinishRecorder() {
  std::unique_ptr<AudioRecorder> recorder = std::move(recorder_);
  recorder->Stop();
  if (!recorder->WaitFinished(kFinishWaitMs))
    LOG(ERROR) << "the recording is slow to finish: " << RecordingPath();
  const int failure = recorder->Failure();
  recorder.reset();
  return failure;
}

// While paused, "recorder-start" says that it goes on with the same file.
void RecordPage::ShowRecording(bool recording, bool paused) {
  if (auto* start = Ctl<QAbstractButton>("recorder-start")) {
    if (startText_.isNull()) startText_ = start->text();
    start->setText(paused ? QCoreApplication::translate("RecordPage", "继续录音") : startText_);
    start->setVisible(!recording);
  }
  if (QWidget* pause = Control("recorder-pause")) pause->setVisible(recording);
  // What a recording was started with holds until it ends: these are locked meanwhile, for the
  // keyboard as for the mouse.
  const bool locked = recording || paused;
  for (const char* name : {"recorder-origin-all", "recorder-origin-microphone", "recorder-origin-system",
                           "record-audio-quality", "agc-check", "mic-strengthen-slider", "noise-check"})
    if (QWidget* control = Control(name)) control->setEnabled(!locked);
}

// No such device shows the default; one raised past 100 shows 100. The sliders are moved
// without telling the page, which would send the level back.
void RecordPage::ShowLevels(int capture, int render) {
  const std::pair<const char*, int> levels[] = {{"mic-volume", capture}, {"sys-volume", render}};
  for (const auto& [name, level] : levels) {
    const int shown = level < 0 ? kDefaultLevel : std::min(level, 100);
    auto* slider = Ctl<QSlider>(QString(name) + "-slider");
    if (slider && slider->isSliderDown()) continue;  // the user's hand wins over a report on its way
    if (slider) {
      const QSignalBlocker quiet(slider);
      slider->setValue(shown);
    }
    if (auto* label = Ctl<QLabel>(QString(name) + "-label")) label->setText(QString::number(shown));
  }
}

void RecordPage::OnLevelChanged(const QString& name, int value) {
  if (value < 0 || value > 100) return;
  const QString text = QString::number(value);
  if (name == "mic-volume-slider") {
    if (auto* label = Ctl<QLabel>("mic-volume-label")) label->setText(text);
    if (levels_) levels_->SetCapture(value);
    WriteSetting(kKeyMicVolumeSize, text.toStdString());
  } else if (name == "sys-volume-slider") {
    if (auto* label = Ctl<QLabel>("sys-volume-label")) label->setText(text);
    if (levels_) levels_->SetRender(value);
    WriteSetting(kKeySysVolumeSize, text.toStdString());
  } else if (name == "mic-strengthen-slider") {
    if (auto* label = Ctl<QLabel>("mic-strengthen-label")) label->setText(text);
    WriteSetting(kKeyVoiceSize, text.toStdString());
  }
}

void RecordPage::OnSelectChanged(const QString& name, QObject* sender) {
  if (name == "recorder-origin-all") {
    WriteSetting(kKeyVoiceSource, "0");
  } else if (name == "recorder-origin-microphone") {
    WriteSetting(kKeyVoiceSource, "1");
  } else if (name == "recorder-origin-system") {
    WriteSetting(kKeyVoiceSource, "2");
  } else if (name == "agc-check" || name == "noise-check") {
    auto* box = qobject_cast<QAbstractButton*>(sender);
    WriteSetting(name == "agc-check" ? kKeyAgcCheck : kKeyNoiseCheck, box && box->isChecked() ? "1" : "0");
  }
}

void RecordPage::ReceiveInCutPage(QObject* button) {
  FileEntry entry;
  if (!ctx_.tasks || !ctx_.tasks->Find(GetTag(button), &entry)) return;
  auto* cut = dynamic_cast<CutPage*>(ctx_.pageFor ? ctx_.pageFor(OperationKind::Cut) : nullptr);
  if (cut) cut->ReceiveRecording(entry);
}

void RecordPage::StartScan() {
  if (scan_.joinable()) return;
  scanRunning_ = true;
  scan_ = std::thread([this, folder = RecordingsFolder(false)] {
    Scan(folder);
    scanRunning_ = false;
  });
}

// Lists the folder in name order, so that the timestamped recordings come oldest first, and
// probes each MP3 here rather than on the window thread. A missing folder lists nothing.
void RecordPage::Scan(std::string folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* item = readdir(dir)) names.emplace_back(item->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (scanStop_) return;
    if (!IsListedRecording(name) || !IsFile(folder + "/" + name)) continue;
    FileEntry entry = RecordingEntry(folder, name);
    scanPending_ += 1;
    PostRecord<RecordingRecord>(ctx_.sink, WM_RECORD_SCAN_ENTRY, std::move(entry));
  }
}

}  // namespace tw
