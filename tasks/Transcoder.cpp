#include "tasks/Transcoder.h"

#include <fcntl.h>
#include <glog/logging.h>
#include <spawn.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/Messages.h"
#include "app/MediaHelpers.h"

extern char** environ;

namespace tw {

std::string ProgramFolder() {
  std::array<char, 4096> path{};
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return ".";
  std::string full(path.data(), static_cast<size_t>(n));
  const size_t slash = full.rfind('/');
  return slash == std::string::npos ? "." : full.substr(0, slash);
}

namespace {

bool IsExecutable(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string TranscoderPath() {
  const std::string folder = ProgramFolder();
  LOG(INFO) << "appPath: " << folder;
  const std::string beside = folder + "/ffmpeg";
  if (IsExecutable(beside)) return beside;
  if (const char* path = std::getenv("PATH")) {
    for (const std::string& dir : SplitText(path, ":")) {
      const std::string candidate = dir + "/ffmpeg";
      if (IsExecutable(candidate)) return candidate;
    }
  }
  return "ffmpeg";
}

std::int64_t ParseClockText(std::string_view text) {
  const auto pieces = SplitText(text, ":");
  std::int64_t ms = 0;
  if (!pieces.empty()) ms += LeadingInt(pieces[0]) * 3600000;
  if (pieces.size() > 1) ms += LeadingInt(pieces[1]) * 60000;
  if (pieces.size() > 2) {
    const auto parts = SplitText(pieces[2], ".");
    if (!parts.empty()) ms += LeadingInt(parts[0]) * 1000;
    if (parts.size() > 1) ms += LeadingInt(parts[1]) * 10;
  }
  return ms;
}

namespace {

// What the transcoder prints when its result could not be written; it still ends with its
// summary and exit status 0.
constexpr const char* kWriteFailures[] = {"No space left on device", "Disk quota exceeded", "File too large",
                                          "Error writing trailer", "Error closing file"};
constexpr size_t kCarry = 32;  // longer than any of them

bool HasWriteFailure(const std::string& text) {
  for (const char* failure : kWriteFailures)
    if (text.find(failure) != std::string::npos) return true;
  return false;
}

}  // namespace

std::vector<OutputParser::Step> OutputParser::Feed(std::string_view block) {
  std::vector<Step> steps;
  if (stopped_) return steps;
  // Bytes after a zero byte are not part of the text.
  const size_t zero = block.find('\0');
  accumulator_.append(block.substr(0, zero));
  LOG(INFO) << "buffer: " << block.substr(0, zero);

  if (!writeFailed_ && HasWriteFailure(carry_ + accumulator_)) {
    writeFailed_ = true;
    steps.push_back({Event::Failed, 0});
  }
  carry_ = accumulator_.size() > kCarry ? accumulator_.substr(accumulator_.size() - kCarry) : accumulator_;
  if (accumulator_.size() >= 16 && accumulator_.find("Invalid argument") != std::string::npos) {
    stopped_ = true;
    steps.push_back({Event::Failed, 0});
    return steps;
  }
  if (!durationFound_) {
    const size_t p = accumulator_.find("Duration:");
    if (p == std::string::npos) {
      LOG(INFO) << "0000000000: ";
      return steps;
    }
    if (accumulator_.size() < p + 10 + 11) return steps;
    const std::string text = accumulator_.substr(p + 10, 11);
    durationFound_ = true;
    LOG(INFO) << "duration: " << text;
    durationMs_ = ParseClockText(text);
    LOG(INFO) << "duration: " << durationMs_;
    // Keep what follows the duration: a short job's whole output, verdict included, can
    // arrive in the same block.
    accumulator_.erase(0, p + 10 + 11);
  }
  const size_t t = accumulator_.find("time=");
  if (t != std::string::npos) {
    if (accumulator_.size() < t + 5 + 11) return steps;
    const std::string text = accumulator_.substr(t + 5, 11);
    LOG(INFO) << "posStr: " << text;
    steps.push_back({Event::Progress, ParseClockText(text)});
  }
  if (accumulator_.size() >= 17 && accumulator_.find("Conversion failed") != std::string::npos) {
    steps.push_back({Event::Failed, 0});
  }
  LOG(INFO) << "outputInfo: " << accumulator_;
  if (!writeFailed_ && accumulator_.size() >= 16 && accumulator_.find("muxing overhead:") != std::string::npos) {
    steps.push_back({Event::Done, 0});
  }
  accumulator_.clear();
  return steps;
}

namespace {

struct ReaderArgs {
  int taskId = 0;
  int readFd = -1;
  MessageSink* sink = nullptr;
  OperationKind kind = OperationKind::Convert;
  pid_t pid = -1;
};

// Waits up to maxWait for the child to exit; true once it is reaped.
bool ReapWithin(pid_t pid, std::chrono::milliseconds maxWait) {
  const auto until = std::chrono::steady_clock::now() + maxWait;
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void PostFailure(const ReaderArgs& args, bool writeFailed = false) {
  auto record = std::make_unique<FailureRecord>();
  record->taskId = args.taskId;
  record->kind = args.kind;
  record->writeFailed = writeFailed;
  args.sink->Post(Message(WM_TASK_FAILED, std::move(record)));
}

// Thread body: owns args, ends when the child's output ends. Posts at most one of
// WM_TASK_DONE / WM_TASK_FAILED, and always one: an output that ends without either
// verdict (missing input, killed child, unknown option) counts as a failure.
void OutputReader(ReaderArgs args) {
  OutputParser parser;
  ProgressRecord last;
  last.taskId = args.taskId;
  last.kind = args.kind;
  bool finalPosted = false;
  bool reaped = false;
  std::array<char, 4096> buffer{};
  while (!parser.Stopped()) {
    const ssize_t n = read(args.readFd, buffer.data(), 4095);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (const auto& step : parser.Feed(std::string_view(buffer.data(), static_cast<size_t>(n)))) {
      if (finalPosted) break;
      if (step.event == OutputParser::Event::Progress) {
        last.durationMs = static_cast<int>(parser.DurationMs());
        last.positionMs = static_cast<int>(step.positionMs);
        args.sink->Post(Message(WM_TASK_PROGRESS, std::make_unique<ProgressRecord>(last)));
      } else if (step.event == OutputParser::Event::Failed) {
        finalPosted = true;
        PostFailure(args, parser.WriteFailed());
      } else if (step.event == OutputParser::Event::Done) {
        // Give the child time to close its output file; it usually exits sooner.
        reaped = ReapWithin(args.pid, std::chrono::milliseconds(800));
        finalPosted = true;
        auto record = std::make_unique<FinishRecord>();
        record->taskId = args.taskId;
        record->progress = last;
        record->kind = args.kind;
        args.sink->Post(Message(WM_TASK_DONE, std::move(record)));
      }
    }
  }
  close(args.readFd);
  if (!reaped) {
    // After "Invalid argument" the reader stops early; the child exits on its own (or on
    // the broken pipe) and is ended only if it lingers.
    if (parser.Stopped() && !ReapWithin(args.pid, std::chrono::seconds(5))) kill(args.pid, SIGKILL);
    int status = 0;
    while (waitpid(args.pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (!finalPosted) {
    LOG(ERROR) << "transcoder output ended without a result, task " << args.taskId;
    PostFailure(args);
  }
}

}  // namespace

bool StartTranscoder(const CommandLine& cmd, int taskId, OperationKind kind, MessageSink* sink, pid_t* childPid) {
  LOG(INFO) << "command: " << cmd.text;
  if (cmd.args.empty() || !sink) return false;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    LOG(ERROR) << "pipe failed: " << std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);

  std::vector<char*> argv;
  argv.reserve(cmd.args.size() + 1);
  for (const std::string& a : cmd.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    LOG(ERROR) << "cannot start " << cmd.args[0] << ": " << std::strerror(rc);
    close(fds[0]);
    return false;
  }
  if (childPid) *childPid = pid;
  ReaderArgs args{taskId, fds[0], sink, kind, pid};
  std::thread(OutputReader, args).detach();
  return true;
}

int TaskPercent(std::int64_t positionMs, std::int64_t durationMs) {
  if (durationMs <= 0) return 0;
  return static_cast<int>(static_cast<float>(positionMs) / static_cast<float>(durationMs) * 100.0f);
}

int MergePercent(std::int64_t positionMs, double totalSeconds) {
  if (totalSeconds <= 0) return 0;
  return static_cast<int>(static_cast<double>(positionMs) / (totalSeconds * 1000.0) * 100.0);
}

int SpeedPercent(std::int64_t positionMs, std::int64_t durationMs, double speedFactor) {
  if (speedFactor <= 0) return 0;
  const auto divided = static_cast<std::int64_t>(static_cast<double>(durationMs) / speedFactor);
  LOG(INFO) << "pos:" << positionMs << " duration:" << divided;
  const int percent = TaskPercent(positionMs, divided);
  LOG(INFO) << "percent: " << percent;
  return percent;
}

}  // namespace tw
