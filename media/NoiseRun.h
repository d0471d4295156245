// One denoiser job as a JobRun: NoiseAudio or NoiseConvert, chosen by the plan, posting
// WM_NOISE_PROGRESS and WM_NOISE_DONE with its run id. Ending it stops the engine's threads on a
// thread of its own; an ended job posts nothing more and leaves no file.
//
// Threads: Start on any one thread (the queue's worker, the CLI's runner); End, Finished and the
// accessors from any thread. The engine's threads post through the run, which marks it finished
// right before its WM_NOISE_DONE goes.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "app/MessageSink.h"
#include "media/NoiseJobTable.h"
#include "tasks/ConvertQueue.h"
#include "tasks/FailureReason.h"
#include "tasks/JobRun.h"

namespace tw {

class NoiseRun : public JobRun, public std::enable_shared_from_this<NoiseRun> {
 public:
  // Starts the plan's engine for the row taskId. Null when it cannot start, with *why set: the
  // result's place refused, the source's own reason, or StartFailed.
  static std::shared_ptr<NoiseRun> Start(const NoiseRunPlan& plan, int taskId, int runId, MessageSink* sink,
                                         FailureReason* why);
  ~NoiseRun() override;

  bool End() override;
  bool AudioEngine() const { return audioEngine_; }

 private:
  class Stamp;

  NoiseRun(const NoiseRunPlan& plan, int taskId, int runId, MessageSink* sink);
  // The engine's message: stamped with the run id; false when it must not go (the run ends).
  bool Pass(Message& message);
  void Abandon();

  const bool audioEngine_;
  std::unique_ptr<Stamp> stamp_;  // outlives the engines, which post into it
  std::mutex lock_;
  bool ending_ = false;
  bool doneSeen_ = false;
  std::unique_ptr<NoiseAudio> audio_;
  std::unique_ptr<NoiseConvert> video_;
};

// The starter of a noise row for the queue: plans the job when it starts (the output name then
// avoids every existing file and every result a run of the queue writes).
JobStarter MakeNoiseStarter(int taskId, std::string sourcePath, NoiseRunSettings settings, MessageSink* sink);

}  // namespace tw
