// The runner of the external transcoder: StartTranscoder spawns ffmpeg for one task with
// its output in a pipe and returns the run's handle; OutputReader (one thread per run) parses
// that output and posts WM_TASK_PROGRESS, then exactly one of WM_TASK_DONE or WM_TASK_FAILED,
// through the sink.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/MessageSink.h"
#include "tasks/FailureReason.h"
#include "tasks/JobRun.h"
#include "tasks/OperationKind.h"
#include "tasks/ResultFile.h"

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
  std::string outputPath;  // the name the result was published under (see ResultFile)
  ProgressRecord progress;
  OperationKind kind = OperationKind::Convert;
};

// WM_TASK_FAILED.
struct FailureRecord : MessageRecord {
  int taskId = 0;
  OperationKind kind = OperationKind::Convert;
  bool writeFailed = false;  // the result could not be written (a full disk, say)
  bool ended = false;        // its owner ended the run (TranscoderRun::End)
  FailureReason reason = FailureReason::Failed;
  std::string outputTail;  // the last lines of the transcoder's own output, "\n"-separated
};

// The folder of the running executable, without a trailing "/".
std::string ProgramFolder();

// "ffmpeg" in the program's folder when present, otherwise the ffmpeg found on PATH (as a
// full path), otherwise the bare name (starting it then fails).
std::string TranscoderPath();

// The audio encoders the transcoder lists ("ffmpeg -encoders"), experimental ones left out:
// asked once per process; empty when it cannot be asked (then the linked library decides).
const std::vector<std::string>& TranscoderAudioEncoders();
// The names of the audio encoders in the text of "ffmpeg -encoders". Pure.
std::vector<std::string> ParseAudioEncoders(std::string_view listing);

// Milliseconds of an "hh:mm:ss.cc" clock text.
std::int64_t ParseClockText(std::string_view text);

// What the transcoder's own messages said about a run. What it merely echoes counts for
// nothing: the header blocks of its inputs and outputs (with their tags, which may read like
// anything) and the names of the files the command gives it, wherever they appear.
struct TranscoderReport {
  bool durationFound = false;
  std::int64_t durationMs = 0;    // from the first "Duration:" of an input
  std::int64_t positionMs = 0;    // from the latest "time=" of a progress line
  bool summary = false;           // its closing statistics ("muxing overhead:")
  bool conversionFailed = false;  // "Conversion failed"
  bool invalidArgument = false;   // "Invalid argument": the run is over, reading stops
  bool writeFailed = false;       // the result could not be written (a full disk, say)
  // A source could not be read to its end (an I/O error). The transcoder takes such an error for
  // the end of the source and still exits 0 with a shortened result.
  bool readFailed = false;
  // What its first message of failure named (a full disk, a name too long, a source it could not
  // read or without sound, ...); None when it named nothing the reasons know.
  FailureReason cause = FailureReason::None;
};

// The reason of a failed run from its report: what the transcoder named, else a write failure,
// else a failure of no known reason.
FailureReason ReasonOfReport(const TranscoderReport& report);

// The verdict on an ended run: success only with the closing statistics, no failure text and
// exit status 0 (waitStatus as waitpid gives it). The transcoder prints its statistics and
// exits 0 after some write failures, and prints them after a signal too.
bool RunSucceeded(const TranscoderReport& report, int waitStatus);
// A run reported as a success is still incomplete when what it wrote (path) is missing, empty or
// far shorter than the transcoder's own last "time=" (positionMs): the length of what it read
// and wrote, not the source's header's claim, which a file of variable rate may overstate.
bool WrittenShortOfReport(const std::string& path, std::int64_t positionMs);

// The reader's parser, apart from the pipe so that it can be fed captured output. It reads whole
// lines (ended by "\n" or "\r"); bytes after a zero byte in a block are no text.
class OutputParser {
 public:
  // How many of the last lines Tail keeps.
  static constexpr size_t kTailLines = 6;

  // paths: the files the command names, which the transcoder echoes; its inputs first and its
  // output last (as CommandPaths gives them).
  explicit OutputParser(std::vector<std::string> paths = {});

  // One block of output. True when it completed a progress line after the duration was found:
  // Report().positionMs is then the latest position.
  bool Feed(std::string_view block);
  // The output has ended: a last line without its line end counts too.
  void Finish();

  const TranscoderReport& Report() const { return report_; }
  std::int64_t DurationMs() const { return report_.durationMs; }
  bool DurationFound() const { return report_.durationFound; }
  // True once the transcoder said "Invalid argument": the reader stops listening.
  bool Stopped() const { return report_.invalidArgument; }
  // The last kTailLines lines read, as the transcoder wrote them, "\n"-separated.
  std::string Tail() const;

 private:
  bool TakeLines(bool all);
  void ReplaceBrokenNames(bool all);
  bool ReadLine(std::string line);
  void NoteCause(const std::string& line, bool namesInput, bool namesOutput);
  size_t Undecided() const;

  std::vector<std::string> paths_;        // longest first, so that no name hides inside another
  std::vector<std::string> brokenNames_;  // those of paths_ with a line break, longest first
  std::vector<std::string> inputs_;
  std::string output_;
  std::string raw_;        // output not yet searched for names with line breaks
  std::string pending_;    // output not yet read as lines, such names replaced
  bool inHeader_ = false;  // inside the block under "Input #..." or "Output #..."
  bool inInputHeader_ = false;
  std::vector<std::string> tail_;  // the last lines, oldest first
  TranscoderReport report_;
};

// The report on a whole captured output.
TranscoderReport ReadTranscoderOutput(std::string_view output, const std::vector<std::string>& paths = {});

// The files a command names: the argument after each "-i" and its last argument, the output.
std::vector<std::string> CommandPaths(const CommandLine& cmd);

// One started transcoder child: the handle its starter keeps. The run's OutputReader thread
// reads the child's output to its end, reaps the child and only then posts: WM_TASK_PROGRESS,
// then exactly one of WM_TASK_DONE or WM_TASK_FAILED, each carrying the run id. A run that fails
// for any reason (ended by its owner included) has removed its partial result before it posts
// the failure; its inputs are never touched. Thread-safe; shared by the starter and the reader.
class TranscoderRun : public JobRun {
 public:
  // How long an ended child has to exit after SIGTERM before it is killed.
  static constexpr std::chrono::milliseconds kEndGrace{2000};

  pid_t Pid() const { return pid_; }

  // Ends the child: SIGTERM now, SIGKILL when it is still there kEndGrace later. The run then
  // fails with FailureRecord::ended and the reason Cancelled. False, changing nothing, once the
  // reader has judged the run (its child has ended).
  bool End() override;

 private:
  friend std::shared_ptr<TranscoderRun> StartTranscoder(const CommandLine&, int, OperationKind, MessageSink*,
                                                        int, int*);
  TranscoderRun(int runId, int taskId, OperationKind kind, ResultFile output)
      : JobRun(runId, kind, taskId), output_(std::move(output)) {}
  // Publishes the result of a run judged a success; false (with the errno-style code in *error)
  // when it could not be given a name.
  bool PublishOutput(std::string* published, int* error);
  void Read(int fd, MessageSink* sink, std::vector<std::string> paths);
  void SignalChild(int sig);
  void KillAfterGrace();
  int Reap();
  // Decides the verdict once: success only when not ended and the run succeeded.
  bool Judge(const TranscoderReport& report, int waitStatus, bool* ended);
  void PostFinal(MessageSink* sink, const OutputParser& parser, bool succeeded, bool ended);

  const ResultFile output_;
  pid_t pid_ = -1;
  mutable std::mutex lock_;
  bool endedByOwner_ = false;
  bool judged_ = false;                             // the verdict is reached: End comes too late
  bool shortResult_ = false;                        // judged a success, but wrote less than it said
  std::chrono::steady_clock::time_point killAt_{};  // set while an end is under way
  bool killed_ = false;
  bool reaped_ = false;  // from then on no signal may go to the pid: it may be another process's
};

// Starts the transcoder with cmd.args (stdin /dev/null, stdout and stderr into one pipe) and
// its OutputReader thread; its messages carry runId (0: a fresh one). Null, posting nothing,
// when the child cannot be started; startError then receives the errno of the failed start.
std::shared_ptr<TranscoderRun> StartTranscoder(const CommandLine& cmd, int taskId, OperationKind kind,
                                               MessageSink* sink, int runId = 0, int* startError = nullptr);

// Percent of a run, cut towards zero; 0 when the duration is not positive.
int TaskPercent(std::int64_t positionMs, std::int64_t durationMs);
// Merge: against the sum of the merged files' durations in seconds.
int MergePercent(std::int64_t positionMs, double totalSeconds);
// Change speed: the duration is first divided by the speed factor and cut.
int SpeedPercent(std::int64_t positionMs, std::int64_t durationMs, double speedFactor);

}  // namespace tw
