// One unit of batch work and its kinds. A job is built from the same command builders and
// started through the same runner (StartTranscoder) or engine as the pages; the JobRunner
// schedules it and hands it the messages that carry its task id.
//
// Threads: every method is called on the runner's thread. The work itself runs in the
// transcoder child (watched by its OutputReader thread) or in the engine's own threads.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "app/MessageSink.h"
#include "tasks/Commands.h"
#include "tasks/OperationKind.h"
#include "tasks/Transcoder.h"

namespace tw::cli {

// What a message meant for its job.
struct JobUpdate {
  enum class State { Running, Done, Failed };
  State state = State::Running;
  int percent = -1;    // >= 0 when the progress changed
  std::string result;  // Done: what to show (the output path)
  std::string reason;  // Failed: one line
};

// Messages of the batch front end itself (not window messages): a job ended by Abort whose
// engine posts nothing more, and a job's timer.
inline constexpr unsigned kJobAbortedMessage = 1024 + 900;
inline constexpr unsigned kJobTimerMessage = 1024 + 901;

// A job's own message, for engines that post without a task id (the recorder's seconds) and
// for a job's timers: the job tags it with its task id.
struct JobTickRecord : MessageRecord {
  JobTickRecord(int id, std::int64_t v) : taskId(id), value(v) {}
  int taskId;
  std::int64_t value;
};

class Job {
 public:
  virtual ~Job() = default;

  // The name the user sees for this job (the input's file name).
  const std::string& Label() const { return label_; }

  // Resolves the output name and builds what will run; "" when ready, otherwise the reason
  // the job cannot run (it is then reported failed and never started). Called once, just
  // before Start.
  virtual std::string Prepare() = 0;
  // Starts the work under taskId; "" when it runs, otherwise the reason.
  virtual std::string Start(int taskId, MessageSink* sink) = 0;
  // Something the user should know about a started job that is not a failure; "" for none.
  virtual std::string TakeNote() { return std::exchange(note_, ""); }
  // What TakeNote gives for the job's input (the one sound track its result keeps).
  void NoteInput(const FileEntry& input) { note_ = KeptTrackNote(input.facts); }
  // The task id the job's messages must carry; INT_MIN lets the runner choose.
  virtual int FixedTaskId() const;
  // A message that carries this job's task id.
  virtual JobUpdate OnMessage(const Message& message) = 0;
  // Ends the running work at once; the job's final message still arrives.
  virtual void Abort() = 0;
  // Removes what the job wrote when it failed or was interrupted: only files this run made (a
  // partial file is removed by the run itself).
  virtual void DiscardOutput() {}

 protected:
  explicit Job(std::string label) : label_(std::move(label)) {}

  std::string label_;
  std::string note_;
};

// Percent of a run from its progress record fields and what was built for it.
using PercentFn =
    std::function<int(std::int64_t positionMs, std::int64_t durationMs, const BuiltCommand& built)>;
// The context of a run, asked when the job is prepared (fresh timestamp, settings now).
using ContextFn = std::function<CommandContext()>;
using BuildFn = std::function<BuiltCommand(const CommandContext&)>;

// A transcoder run: one ffmpeg child, its OutputReader, WM_TASK_PROGRESS/DONE/FAILED.
class TranscoderJob : public Job {
 public:
  TranscoderJob(std::string label, OperationKind kind, ContextFn context, BuildFn build, PercentFn percent,
                int fixedTaskId = 0, bool useFixedTaskId = false);

  std::string Prepare() override;
  std::string Start(int taskId, MessageSink* sink) override;
  int FixedTaskId() const override;
  JobUpdate OnMessage(const Message& message) override;
  void Abort() override;
  void DiscardOutput() override;

  const BuiltCommand& Built() const { return built_; }

 private:
  // "" when the reported success holds up: the result exists (its length is the run's own
  // verdict, the same for the window).
  std::string CheckResult() const;

  OperationKind kind_;
  ContextFn context_;
  BuildFn build_;
  PercentFn percent_;
  int fixedTaskId_;
  bool useFixedTaskId_;
  BuiltCommand built_;
  std::string published_;  // the name the run's result took
  std::shared_ptr<TranscoderRun> run_;
};

// Where the transcoder's output of failed runs can be read.
void SetLogHint(const std::string& hint);
const std::string& LogHint();

}  // namespace tw::cli
