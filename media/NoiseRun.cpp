#include "media/NoiseRun.h"

#include <glog/logging.h>

#include <filesystem>
#include <system_error>
#include <thread>

#include "app/Messages.h"
#include "media/NoiseRecords.h"

namespace tw {

// The sink the engines post into.
class NoiseRun::Stamp : public MessageSink {
 public:
  Stamp(NoiseRun* run, MessageSink* sink) : run_(run), sink_(sink) {}
  void Post(Message message) override {
    if (sink_ && run_->Pass(message)) sink_->Post(std::move(message));
  }

 private:
  NoiseRun* run_;
  MessageSink* sink_;
};

NoiseRun::NoiseRun(const NoiseRunPlan& plan, int taskId, int runId, MessageSink* sink)
    : JobRun(runId, OperationKind::Noise, taskId),
      audioEngine_(plan.engine == NoiseEngine::Audio),
      stamp_(std::make_unique<Stamp>(this, sink)) {}

NoiseRun::~NoiseRun() {
  // A running engine destroyed here stops quietly and removes its part file.
  audio_.reset();
  video_.reset();
}

std::shared_ptr<NoiseRun> NoiseRun::Start(const NoiseRunPlan& plan, int taskId, int runId, MessageSink* sink,
                                          FailureReason* why) {
  *why = FailureReason::UnsupportedType;
  if (plan.engine == NoiseEngine::None) return nullptr;
  *why = CheckResultPath(plan.outputPath);
  if (*why != FailureReason::None) return nullptr;
  auto run = std::shared_ptr<NoiseRun>(new NoiseRun(plan, taskId, runId, sink));
  int started = -1;
  if (run->audioEngine_) {
    run->audio_ = std::make_unique<NoiseAudio>(run->stamp_.get(), taskId);
    started = run->audio_->Start(plan.inputPath, plan.outputPath, plan.formatType, plan.bitRate, plan.policy);
  } else {
    run->video_ = std::make_unique<NoiseConvert>(run->stamp_.get(), taskId, plan.outputPath);
    started = run->video_->Start(plan.inputPath, plan.qualitySelector, plan.fifoWidth, plan.fifoHeight,
                                 plan.audioChannels, plan.audioRate, plan.audioBitRate, plan.policy);
  }
  if (started == 0) return run;
  LOG(ERROR) << "noise job of row " << taskId << " could not start: " << plan.inputPath;
  run->audio_.reset();
  run->video_.reset();
  *why = CheckSource(plan.inputPath, true).reason;
  if (*why == FailureReason::None) *why = FailureReason::StartFailed;
  return nullptr;
}

bool NoiseRun::Pass(Message& message) {
  message.runId = RunId();
  if (message.id != WM_NOISE_DONE) {
    std::lock_guard<std::mutex> hold(lock_);
    return !ending_;
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (ending_) {
      // The engine published just before it was told to stop: the ended job leaves no result.
      const auto* done = message.As<NoiseDoneRecord>();
      if (done && !done->outputPath.empty() && std::remove(done->outputPath.c_str()) == 0)
        LOG(INFO) << "removed the result of an ended job: " << done->outputPath;
      return false;
    }
    doneSeen_ = true;
  }
  // Finished before the message goes: whoever receives it finds the run over.
  MarkFinished();
  return true;
}

bool NoiseRun::End() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (doneSeen_) return false;
    if (ending_) return true;
    ending_ = true;
  }
  if (audio_) audio_->StopQuietly();
  if (video_) video_->StopQuietly();
  try {
    std::thread([self = shared_from_this()] { self->Abandon(); }).detach();
  } catch (const std::system_error&) {
    Abandon();
  }
  return true;
}

// Waits for the engine's threads, which remove the partial file. A result the engine published
// just before it was told to stop is removed by the engine itself or, when its report was
// already on its way, by Pass: never a name that another job's result may hold.
void NoiseRun::Abandon() {
  audio_.reset();
  video_.reset();
  MarkFinished();
}

JobStarter MakeNoiseStarter(int taskId, std::string sourcePath, NoiseRunSettings settings,
                            MessageSink* sink) {
  return [taskId, sourcePath = std::move(sourcePath), settings = std::move(settings), sink](int runId) {
    const NoiseRunPlan plan = PlanNoiseRun(sourcePath, settings, std::time(nullptr));
    PreparedJob job;
    if (plan.engine == NoiseEngine::None) {
      job.refusal = FailureReason::UnsupportedType;
      return job;
    }
    job.start = [plan, taskId, runId, sink](FailureReason* why) -> std::shared_ptr<JobRun> {
      return NoiseRun::Start(plan, taskId, runId, sink, why);
    };
    return job;
  };
}

}  // namespace tw
