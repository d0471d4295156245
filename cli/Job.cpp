#include "cli/Job.h"

#include <glog/logging.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "app/Translation.h"
#include "tasks/FailureReason.h"
#include "tasks/Transcoder.h"

namespace tw::cli {

namespace {

std::string& LogHintText() {
  static std::string hint;
  return hint;
}

}  // namespace

void SetLogHint(const std::string& hint) {
  LogHintText() = hint;
}
const std::string& LogHint() {
  return LogHintText();
}

int Job::FixedTaskId() const {
  return INT_MIN;
}

TranscoderJob::TranscoderJob(std::string label, OperationKind kind, ContextFn context, BuildFn build,
                             PercentFn percent, int fixedTaskId, bool useFixedTaskId)
    : Job(std::move(label)),
      kind_(kind),
      context_(std::move(context)),
      build_(std::move(build)),
      percent_(std::move(percent)),
      fixedTaskId_(fixedTaskId),
      useFixedTaskId_(useFixedTaskId) {}

int TranscoderJob::FixedTaskId() const {
  return useFixedTaskId_ ? fixedTaskId_ : INT_MIN;
}

std::string TranscoderJob::Prepare() {
  built_ = build_(context_());
  if (!built_.ok) return built_.message;
  const std::string& out = built_.outputPath;
  const std::string folder = out.substr(0, out.rfind('/') + 1);
  if (!folder.empty() && access(folder.c_str(), W_OK | X_OK) != 0) {
    return FormatText(Tr("Cli", "无法写入输出文件夹 %1：%2"), {folder, std::strerror(errno)});
  }
  return "";
}

std::string TranscoderJob::Start(int taskId, MessageSink* sink) {
  int error = 0;
  run_ = StartTranscoder(built_.command, taskId, kind_, sink, 0, &error);
  if (run_) return "";
  if (ReasonOfStartError(error) == FailureReason::TranscoderMissing)
    return FormatText(Tr("Cli", "无法启动转码程序 '%1'（是否已安装 ffmpeg？）"),
                      {built_.command.args.front()});
  return ReasonLine(FailureReason::StartFailed, std::string(": ") + std::strerror(error));
}

JobUpdate TranscoderJob::OnMessage(const Message& message) {
  JobUpdate update;
  if (message.id == WM_TASK_PROGRESS) {
    if (const auto* p = message.As<ProgressRecord>())
      update.percent = percent_(p->positionMs, p->durationMs, built_);
  } else if (message.id == WM_TASK_DONE) {
    if (const auto* done = message.As<FinishRecord>()) published_ = done->outputPath;
    if (std::string incomplete = CheckResult(); !incomplete.empty()) {
      update.state = JobUpdate::State::Failed;
      update.reason = incomplete;
      return update;
    }
    update.state = JobUpdate::State::Done;
    update.percent = 100;
    update.result = published_;
  } else if (message.id == WM_TASK_FAILED) {
    update.state = JobUpdate::State::Failed;
    const auto* failure = message.As<FailureRecord>();
    update.reason = ReasonLine(failure ? failure->reason : FailureReason::Failed);
    if (!LogHint().empty()) update.reason += FormatText(Tr("Cli", "（转码程序的输出见 %1）"), {LogHint()});
  }
  return update;
}

std::string TranscoderJob::CheckResult() const {
  struct stat st {};
  if (published_.empty() || stat(published_.c_str(), &st) != 0 || st.st_size == 0) {
    return Tr("Cli", "转码程序报告成功，但没有写出结果");
  }
  return "";
}

void TranscoderJob::DiscardOutput() {
  if (!published_.empty() && unlink(published_.c_str()) == 0)
    LOG(INFO) << "removed the result " << published_;
  published_.clear();
}

void TranscoderJob::Abort() {
  if (run_) run_->End();
}

}  // namespace tw::cli
