#include "cli/InProcessJobs.h"

#include <glog/logging.h>
#include <json/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "app/Translation.h"
#include "media/AudioRecorder.h"
#include "media/MixerWrap.h"
#include "media/NoiseJobTable.h"
#include "media/PcmWave.h"

namespace tw::cli {

namespace {

constexpr const char* kAudioNoiseFormats[] = {"mp3", "aac", "m4a"};
constexpr const char* kVideoNoiseFormats[] = {"mp4", "mkv", "mov", "flv"};

// Passes an engine's messages on to the runner's sink, tagged with the job's task id when
// the engine's own record carries none. Post may be called from any thread.
class TaggingSink : public MessageSink {
 public:
  TaggingSink(MessageSink* target, int taskId) : target_(target), taskId_(taskId) {}
  void Post(Message message) override {
    if (!message.record) message.record = std::make_unique<JobTickRecord>(taskId_, message.param);
    target_->Post(std::move(message));
  }

 private:
  MessageSink* target_;
  int taskId_;
};

JobUpdate Failed(std::string reason) {
  JobUpdate u;
  u.state = JobUpdate::State::Failed;
  u.reason = std::move(reason);
  return u;
}

JobUpdate Done(std::string result) {
  JobUpdate u;
  u.state = JobUpdate::State::Done;
  u.percent = 100;
  u.result = std::move(result);
  return u;
}

// ---- waveform ---------------------------------------------------------------------------

// The values of the cut page's waveform view, read by PcmWave on its own threads.
class WaveformJob : public Job {
 public:
  WaveformJob(std::string label, FileEntry entry, bool json, bool header)
      : Job(std::move(label)), entry_(std::move(entry)), json_(json), header_(header) {}
  ~WaveformJob() override { Stop(); }

  std::string Prepare() override { return ""; }
  std::string Start(int taskId, MessageSink* sink) override {
    taskId_ = taskId;
    sink_ = sink;
    tagging_ = std::make_unique<TaggingSink>(sink, taskId);
    reader_ = std::make_unique<PcmWave>(tagging_.get());
    if (reader_->Open(entry_.fullPath) != 0) {
      reader_.reset();
      return Tr("Cli", "没有可以读取的声音");
    }
    return "";
  }
  JobUpdate OnMessage(const Message& message) override {
    JobUpdate update;
    if (message.id == kJobAbortedMessage) return Failed(Tr("Cli", "已停止"));
    if (message.id == WM_LOADING_SHOW) {
      if (const auto* tick = message.As<JobTickRecord>()) update.percent = static_cast<int>(tick->value);
      return update;
    }
    if (message.id != WM_LOADING_HIDE || !reader_) return update;
    reader_->Join();
    if (!reader_->Done()) return Failed(Tr("Cli", "无法读取波形"));
    std::string text = Format(reader_->Peaks(), reader_->Duration());
    reader_.reset();
    return Done(std::move(text));
  }
  void Abort() override {
    Stop();
    PostRecord<JobTickRecord>(sink_, kJobAbortedMessage, taskId_, 0);
  }

 private:
  void Stop() {
    if (!reader_) return;
    reader_->Abort();
    reader_->Join();
    reader_.reset();
  }
  std::string Format(const std::vector<std::int32_t>& values, double duration) const {
    std::string out;
    if (json_) {
      Json::Value doc;
      doc["file"] = entry_.fullPath;
      doc["duration"] = duration;
      doc["sampleRate"] = kWaveSampleRate;
      Json::Value& list = doc["values"] = Json::Value(Json::arrayValue);
      for (std::int32_t v : values) list.append(v);
      Json::StreamWriterBuilder writer;
      writer["indentation"] = "";
      writer["emitUTF8"] = true;
      return Json::writeString(writer, doc) + "\n";
    }
    if (header_) out += "# " + entry_.fullPath + "\n";
    for (std::int32_t v : values) out += std::to_string(v) + "\n";
    return out;
  }

  FileEntry entry_;
  bool json_;
  bool header_;
  int taskId_ = 0;
  MessageSink* sink_ = nullptr;
  std::unique_ptr<TaggingSink> tagging_;
  std::unique_ptr<PcmWave> reader_;
};

// ---- denoise ----------------------------------------------------------------------------

// One row of the noise page: its plan and its own job table, so aborting it ends only it.
class DenoiseJob : public Job {
 public:
  DenoiseJob(std::string label, FileEntry entry, NoiseRunSettings settings, ContextFn context)
      : Job(std::move(label)),
        entry_(std::move(entry)),
        settings_(std::move(settings)),
        context_(std::move(context)) {}

  std::string Prepare() override {
    settings_.outputFolder = context_().outputFolder;
    plan_ = PlanNoiseRun(entry_.fullPath, settings_, std::time(nullptr));
    if (plan_.engine == NoiseEngine::None) return ReasonLine(FailureReason::UnsupportedType);
    return "";
  }
  std::string Start(int taskId, MessageSink* sink) override {
    taskId_ = taskId;
    sink_ = sink;
    table_ = std::make_unique<NoiseJobTable>(sink);
    FailureReason why = FailureReason::StartFailed;
    if (table_->Start(taskId, plan_, &why) != 0) {
      table_.reset();
      if (why != FailureReason::StartFailed) return ReasonLine(why);
      return FormatText(Tr("Cli", "降噪程序无法打开该文件或其结果（详情见 %1）"), {LogHint()});
    }
    return "";
  }
  JobUpdate OnMessage(const Message& message) override {
    JobUpdate update;
    if (message.id == kJobAbortedMessage) return Failed(Tr("Cli", "已停止"));
    if (const auto* p = message.As<NoiseProgressRecord>()) {
      update.percent = p->percent;
      return update;
    }
    const auto* done = message.As<NoiseDoneRecord>();
    if (!done || !table_) return update;
    table_->Finish(*done);
    table_.reset();
    if (const FailureReason why = NoiseFailure(*done); why == FailureReason::Failed)
      return Failed(FormatText(Tr("Cli", "降噪失败，没有留下结果（磁盘满了吗？详情见 %1）"), {LogHint()}));
    else if (why != FailureReason::None)
      return Failed(ReasonLine(why, done->error ? std::string(": ") + std::strerror(done->error) : ""));
    return Done(done->outputPath);
  }
  void Abort() override {
    // The table's destructor ends the engine's threads; they post nothing more.
    table_.reset();
    PostRecord<JobTickRecord>(sink_, kJobAbortedMessage, taskId_, 0);
  }

 private:
  FileEntry entry_;
  NoiseRunSettings settings_;
  ContextFn context_;
  NoiseRunPlan plan_;
  int taskId_ = 0;
  MessageSink* sink_ = nullptr;
  std::unique_ptr<NoiseJobTable> table_;
};

// ---- record -----------------------------------------------------------------------------

// Recorder page texts.
constexpr const char* kMsgNoRenderDevice = TW_TRANSLATE_NOOP("RecordPage", "未启用音频输出设备!");
constexpr const char* kMsgNoMicSystemOnly =
    TW_TRANSLATE_NOOP("RecordPage", "没有插入麦克风设备,仅录系统声音");
constexpr const char* kMsgNoMicrophone = TW_TRANSLATE_NOOP("RecordPage", "请先插入麦克风设备!");
constexpr const char* kMsgDeviceError = TW_TRANSLATE_NOOP("RecordPage", "音频设备出错!");
constexpr std::int64_t kTimeUp = -1;
constexpr int kRecordRate = 44100;  // samples per second in the recorder's file
constexpr double kGraceSeconds = 5;

// One recording of a fixed length, named and placed as the recorder page does. Its timer
// thread is owned by the job, ended by stop_ and joined by StopTimer.
class RecordJob : public Job {
 public:
  RecordJob(double seconds, std::optional<int> source, ContextFn context)
      : Job(Tr("Cli", "录音")), seconds_(seconds), source_(source), context_(std::move(context)) {}
  ~RecordJob() override {
    StopTimer();
    recorder_.reset();
  }

  std::string Prepare() override {
    const CommandContext ctx = context_();
    folder_ = ctx.outputFolder + "/录音";
    CreateFolderTree(folder_);
    // The designed name; the recorder claims it, or the next free "-2", "-3" ..., when it starts.
    fileName_ = "新录音-" + ctx.timestamp + ".mp3";
    label_ = fileName_;
    return "";
  }
  std::string OutputPath() const { return folder_ + "/" + fileName_; }
  std::string Start(int taskId, MessageSink* sink) override {
    taskId_ = taskId;
    sink_ = sink;
    RecorderSettings settings = ReadRecorderSettings();
    if (source_) settings.voiceSource = *source_;
    if (!HasRenderDevice() && (settings.voiceSource == SourceAll || settings.voiceSource == SourceSystem)) {
      return Tr("RecordPage", kMsgNoRenderDevice);
    }
    std::string captureName;
    const bool micAvailable = GetDefaultCaptureName(captureName);
    if (!micAvailable) {
      if (settings.voiceSource == SourceMicrophone) return Tr("RecordPage", kMsgNoMicrophone);
      if (settings.voiceSource == SourceAll) note_ = Tr("RecordPage", kMsgNoMicSystemOnly);
    }
    tagging_ = std::make_unique<TaggingSink>(sink, taskId);
    recorder_ = std::make_unique<AudioRecorder>(tagging_.get());
    recorder_->UseSettings(settings);
    recorder_->LimitLength(static_cast<int64_t>(std::llround(seconds_ * kRecordRate)));
    if (recorder_->Start(fileName_, folder_, 128000, CodecMp3, micAvailable, captureName) < 0) {
      recorder_.reset();
      return Tr("RecordPage", kMsgDeviceError);
    }
    // The name the recorder claimed (another program may have taken the one chosen).
    const std::string claimed = recorder_->OutputPath();
    fileName_ = claimed.substr(claimed.rfind('/') + 1);
    started_ = true;
    recorder_->Resume();
    timer_ = std::thread([this] { TimerThread(); });
    return "";
  }
  JobUpdate OnMessage(const Message& message) override {
    JobUpdate update;
    if (message.id == kJobAbortedMessage) return Failed(Tr("Cli", "已停止"));
    const auto* tick = message.As<JobTickRecord>();
    if (!tick || !recorder_) return update;
    if (message.id == WM_RECORD_TIME) {
      update.percent = std::min(99, static_cast<int>(static_cast<double>(tick->value) * 100 / seconds_));
      return update;
    }
    if (message.id == WM_RECORD_FAILED) return Finish();
    if (message.id != kJobTimerMessage || tick->value != kTimeUp) return update;
    return Finish();
  }
  void DiscardOutput() override {
    // The recorder claimed the name: a file under it is this recording's.
    if (started_ && !keepOutput_) unlink(OutputPath().c_str());
  }
  void Abort() override {
    keepOutput_ = false;
    StopTimer();
    if (recorder_) {
      recorder_->Stop();
      recorder_.reset();
    }
    PostRecord<JobTickRecord>(sink_, kJobAbortedMessage, taskId_, 0);
  }

 private:
  // Ends the recording and tells how it went. A failure (reported while recording, or met
  // while the file was finished) keeps what was recorded up to it; the job still fails.
  JobUpdate Finish() {
    StopTimer();
    recorder_->Stop();
    const bool finished = recorder_->WaitFinished(15000);
    const int failure = recorder_->Failure();
    recorder_.reset();
    if (failure != FailureNone) {
      keepOutput_ = true;
      const char* text =
          failure == FailureWrite    ? TW_TRANSLATE_NOOP("Cli", "无法写入录音（磁盘满了吗？）；已录下的内容保存在 %1")
          : failure == FailureServer ? TW_TRANSLATE_NOOP("Cli", "声音服务器没有应答；已录下的内容保存在 %1")
          : failure == FailureEncode ? TW_TRANSLATE_NOOP("Cli", "无法编码录音；已录下的内容保存在 %1")
                                     : TW_TRANSLATE_NOOP("Cli", "录音设备已不在；已录下的内容保存在 %1");
      return Failed(FormatText(Tr("Cli", text), {OutputPath()}));
    }
    if (!finished) return Failed(Tr("Cli", "无法完成录音"));
    return Done(OutputPath());
  }
  // Ends the recording once the file holds the asked length (the devices take a moment to
  // deliver their first sound), or at the latest a few seconds after the wall clock says so.
  void TimerThread() {
    const auto started = std::chrono::steady_clock::now();
    const auto latest = started + std::chrono::duration<double>(seconds_ + kGraceSeconds);
    std::unique_lock<std::mutex> hold(timerLock_);
    for (;;) {
      if (timerWake_.wait_for(hold, std::chrono::milliseconds(20), [this] { return stop_; })) return;
      if (recorder_->LengthReached() || std::chrono::steady_clock::now() >= latest) break;
    }
    PostRecord<JobTickRecord>(sink_, kJobTimerMessage, taskId_, kTimeUp);
  }
  void StopTimer() {
    {
      std::lock_guard<std::mutex> hold(timerLock_);
      stop_ = true;
    }
    timerWake_.notify_all();
    if (timer_.joinable()) timer_.join();
  }

  double seconds_;
  std::optional<int> source_;
  ContextFn context_;
  std::string folder_, fileName_;
  int taskId_ = 0;
  MessageSink* sink_ = nullptr;
  std::unique_ptr<TaggingSink> tagging_;
  std::unique_ptr<AudioRecorder> recorder_;
  std::mutex timerLock_;
  std::condition_variable timerWake_;
  bool stop_ = false;
  bool keepOutput_ = false;  // a recording cut short by its device: what it holds is the user's
  bool started_ = false;     // the recorder was asked to start: a file under the name is ours
  std::thread timer_;
};

template <size_t N>
bool OneOf(const std::string& text, const char* const (&list)[N]) {
  for (const char* item : list) {
    if (text == item) return true;
  }
  return false;
}

}  // namespace

int RunProbe(const CliRequest& request, ProgressView& view) {
  int failures = 0;
  for (const std::string& file : request.files) {
    CheckedInput input = CheckInput(file, false);
    if (!input.ok) {
      view.Failed(-1, file, input.reason);
      ++failures;
      continue;
    }
    view.Succeeded(-1, input.entry.fullPath + "\t" + FormatFileSize(input.entry.size) + "\t" +
                           FormatDuration(input.entry.duration));
  }
  return failures ? kExitFailed : kExitOk;
}

InProcessPlan PlanInProcessJobs(const CliRequest& request, const ContextFn& context) {
  InProcessPlan plan;
  switch (request.sub) {
    case Subcommand::Waveform:
      for (const std::string& file : request.files) {
        CheckedInput input = CheckInput(file, true);
        if (!input.ok) {
          plan.rejected.emplace_back(file, input.reason);
          continue;
        }
        plan.jobs.push_back(
            std::make_unique<WaveformJob>(file, input.entry, request.Has("json"), request.files.size() > 1));
      }
      return plan;
    case Subcommand::Denoise: {
      NoiseRunSettings settings;
      settings.policy = std::atoi(request.Get("level", "2").c_str());
      if (request.Has("format")) {
        const std::string format = request.Get("format");
        if (OneOf(format, kAudioNoiseFormats)) {
          settings.audioFormat = format;
        } else if (OneOf(format, kVideoNoiseFormats)) {
          settings.videoFormat = format;
        } else {
          plan.usageError = Tr("Commands", kMsgBadFormat) +
                            Tr("Cli", "（--format 对音频文件取 mp3 aac m4a，对视频文件取 mp4 mkv mov flv）");
          return plan;
        }
      }
      for (const std::string& file : request.files) {
        CheckedInput input = CheckInput(file, true);
        if (!input.ok) {
          plan.rejected.emplace_back(file, input.reason);
          continue;
        }
        const NoiseEngine engine = NoiseEngineForExtension(NoiseSourceExtension(input.entry.fullPath));
        if (engine == NoiseEngine::None) {
          plan.rejected.emplace_back(file, Tr("Cli",
                                              "降噪只处理 mp4 flv avi wmv mov mkv 3gp mp3 aac wma ogg m4a "
                                              "flac wav 文件（扩展名全为小写或全为大写）"));
          continue;
        }
        // A format of the other kind would be passed over without a word.
        const bool videoFormat = OneOf(request.Get("format"), kVideoNoiseFormats);
        if (request.Has("format") && videoFormat != (engine == NoiseEngine::Video)) {
          plan.rejected.emplace_back(
              file, FormatText(videoFormat ? Tr("Cli", "--format %1 只用于视频文件") : Tr("Cli", "--format %1 只用于音频文件"),
                               {request.Get("format")}));
          continue;
        }
        plan.jobs.push_back(std::make_unique<DenoiseJob>(file, input.entry, settings, context));
        plan.jobs.back()->NoteInput(input.entry);
      }
      return plan;
    }
    case Subcommand::Record: {
      std::optional<int> source;
      if (request.Has("source")) {
        const std::string s = request.Get("source");
        source = s == "all" ? SourceAll : s == "microphone" ? SourceMicrophone : SourceSystem;
      }
      plan.jobs.push_back(
          std::make_unique<RecordJob>(std::strtod(request.Get("seconds").c_str(), nullptr), source, context));
      return plan;
    }
    default:
      break;
  }
  plan.usageError =
      std::string(SubcommandName(request.sub)) + " is not available: its engine is not in this build";
  return plan;
}

}  // namespace tw::cli
