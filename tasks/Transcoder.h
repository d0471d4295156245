// The runner of the external transcoder: StartTranscoder spawns ffmpeg for one task with
// its output in a pipe; OutputReader (one thread per run) parses that output and posts
// WM_TASK_PROGRESS, then exactly one of WM_TASK_DONE or WM_TASK_FAILED, through the sink.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/MessageSink.h"
#include "tasks/OperationKind.h"

namespace tw {

// A command as it is logged (text) and as it is run (argument vector, program first).
// Both are built from the same pieces; the child never sees the text.
struct CommandLine {
  std::string text;
  std::vector<std::string> args;
};

// WM_TASK_PROGRESS. Each message carries its own copy, so the reader and the window share
// nothing.
struct ProgressRecord : MessageRecord {
  int taskId = 0;
  int durationMs = 0;
  int positionMs = 0;
  OperationKind kind = OperationKind::Convert;
};

// WM_TASK_DONE: the run's last progress travels with it.
struct FinishRecord : MessageRecord {
  int taskId = 0;
  ProgressRecord progress;
  OperationKind kind = OperationKind::Convert;
};

// WM_TASK_FAILED.
struct FailureRecord : MessageRecord {
  int taskId = 0;
  OperationKind kind = OperationKind::Convert;
  bool writeFailed = false;  // the result could not be written (a full disk, say)
};

// The folder of the running executable, without a trailing "/".
std::string ProgramFolder();

// "ffmpeg" in the program's folder when present, otherwise the ffmpeg found on PATH (as a
// full path), otherwise the bare name (starting it then fails).
std::string TranscoderPath();

// Milliseconds of an "hh:mm:ss.cc" clock text.
std::int64_t ParseClockText(std::string_view text);

// The reader's parser, apart from the pipe so it can be fed scripted output. Feed one
// block at a time; it returns what the block completed.
class OutputParser {
 public:
  enum class Event { None, Progress, Done, Failed };
  struct Step {
    Event event = Event::None;
    std::int64_t positionMs = 0;
  };

  // Every event the block produced, in order.
  std::vector<Step> Feed(std::string_view block);

  std::int64_t DurationMs() const { return durationMs_; }
  bool DurationFound() const { return durationFound_; }
  // True once "Invalid argument" was seen: the reader stops reading.
  bool Stopped() const { return stopped_; }
  // True once the transcoder reported that it could not write its result (a full disk, say):
  // it still prints its usual summary and exits 0, but the result is cut short.
  bool WriteFailed() const { return writeFailed_; }

 private:
  std::string accumulator_;
  std::string carry_;  // the end of the previous block, for texts split across two reads
  bool writeFailed_ = false;
  bool durationFound_ = false;
  bool stopped_ = false;
  std::int64_t durationMs_ = 0;
};

// Starts the transcoder with cmd.args (stdin /dev/null, stdout and stderr into one pipe)
// and its OutputReader thread. Returns false, posting nothing, when the child cannot be
// started. childPid, when given, receives the child's id (for callers that must end it).
bool StartTranscoder(const CommandLine& cmd, int taskId, OperationKind kind, MessageSink* sink,
                     pid_t* childPid = nullptr);

// Percent of a run, cut towards zero; 0 when the duration is not positive.
int TaskPercent(std::int64_t positionMs, std::int64_t durationMs);
// Merge: against the sum of the merged files' durations in seconds.
int MergePercent(std::int64_t positionMs, double totalSeconds);
// Change speed: the duration is first divided by the speed factor and cut.
int SpeedPercent(std::int64_t positionMs, std::int64_t durationMs, double speedFactor);

}  // namespace tw
