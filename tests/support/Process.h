// Child processes for tests: started from an argument vector (no shell), standard input from
// /dev/null, standard output and error on pipes of their own (or discarded), and waits that end
// on a condition or on the child's exit, never on a fixed sleep.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tw::test {

struct SpawnOptions {
  // "NAME=value" entries that replace the inherited ones; "NAME" alone removes one.
  std::vector<std::string> env;
  std::string cwd;             // "" keeps the test's own
  int terminal = -1;           // a pseudo-terminal master: its slave becomes standard output
  bool mergeError = false;     // standard error into the standard output pipe
  bool discardOutput = false;  // both to /dev/null (daemons, players): nothing to read
};

// The end of a finished child.
struct ProcessResult {
  int exitStatus = -1;  // -1 when ended by a signal or never started
  int signal = 0;
  std::string out, err;
  long peakMemoryKb = 0;  // the child's largest resident size
  bool Exited(int status) const { return signal == 0 && exitStatus == status; }
};

class Process {
 public:
  Process(const std::vector<std::string>& argv, const SpawnOptions& options = {});
  // Ends a child that still runs (SIGTERM, then SIGKILL) and reaps it.
  ~Process();
  Process(Process&& other) noexcept;
  Process& operator=(Process&&) = delete;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // What the child wrote so far (read by Pump and the waits).
  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }

  // Reads what arrives within timeoutMs; false once both pipes are closed.
  bool Pump(int timeoutMs);
  // Reads output until done() holds or timeout passes; the last value of done().
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Until the output holds text.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
  // Until the child has exited (reading its output meanwhile); false when it still runs.
  bool WaitExit(std::chrono::milliseconds timeout);
  // Sends a signal; false when the child is gone.
  bool Signal(int signal) const;
  // Reads everything, reaps the child and gives its end. Waits as long as the child runs.
  ProcessResult Finish();
  // SIGTERM, a grace of graceMs, then SIGKILL; reaps the child.
  ProcessResult Stop(int graceMs = 1000);

 private:
  bool Reap(bool block);

  pid_t pid_ = -1;
  int outFd_ = -1, errFd_ = -1;
  std::string out_, err_;
  bool reaped_ = false;
  int status_ = 0;
  long peakMemoryKb_ = 0;
};

// Checks done() until it holds or timeout passes (pacing the checks, never sleeping a fixed time
// in place of a condition); the last value of done().
bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Runs argv to its end with both outputs kept apart.
ProcessResult Run(const std::vector<std::string>& argv, const SpawnOptions& options = {});

// What /proc/PID/stat says of a process: its program's name, state and parent. False when the
// process is gone, also when it goes while it is read (a read of its stat then fails).
struct ProcStat {
  std::string name;
  char state = 0;
  pid_t parent = 0;
};
bool ReadProcStat(pid_t pid, ProcStat* stat);

// The pids of pid's children, from /proc.
std::vector<pid_t> ChildrenOf(pid_t pid);
// True while pid names a process that is not a zombie.
bool Alive(pid_t pid);
// The number of threads of this process.
int ThreadCount();

}  // namespace tw::test
