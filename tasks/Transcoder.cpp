#include "tasks/Transcoder.h"

#include <fcntl.h>
#include <glog/logging.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <thread>

#include "app/MediaHelpers.h"
#include "app/Messages.h"


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

namespace {

// Starts argv[0] (searched on PATH) with its input from /dev/null and its output and errors on
// outFd, with every signal at its default and none blocked. The child is killed when the thread
// that started it ends, and so when the program is killed outright: a transcoder never writes on
// for nobody (it ignores the broken pipe of its messages itself). 0, or the errno of a failed start.
int SpawnChild(char* const argv[], int outFd, pid_t* pid) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return errno;
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child < 0) {
    const int error = errno;
    close(report[0]);
    close(report[1]);
    return error;
  }
  if (child == 0) {
    // Only calls that are safe between fork and exec from here on.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; ++s) sigaction(s, &standard, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int in = open("/dev/null", O_RDONLY);
    if (in >= 0 && dup2(in, 0) >= 0 && dup2(outFd, 1) >= 0 && dup2(outFd, 2) >= 0) {
      // Nothing else of this program's reaches the child, whether it was opened to close on exec
      // or not (a library's descriptor, the /dev/null above); the report pipe closes on exec.
      close_range(3, static_cast<unsigned>(report[1]) - 1, 0);
      close_range(static_cast<unsigned>(report[1]) + 1, ~0U, 0);
      execvp(argv[0], argv);
    }
    const int error = errno;
    [[maybe_unused]] const ssize_t told = write(report[1], &error, sizeof error);
    _exit(127);
  }
  close(report[1]);
  int error = 0;
  ssize_t n;
  while ((n = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (n == static_cast<ssize_t>(sizeof error)) {
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return error;
  }
  *pid = child;
  return 0;
}

}  // namespace

std::vector<std::string> ParseAudioEncoders(std::string_view listing) {
  // After the legend's " ------", one line per encoder: six flag letters, the name, a title.
  std::vector<std::string> names;
  bool table = false;
  size_t start = 0;
  while (start < listing.size()) {
    size_t end = listing.find('\n', start);
    if (end == std::string_view::npos) end = listing.size();
    std::string_view line = listing.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (!table) {
      table = line.rfind("------", 0) == 0;
      continue;
    }
    if (line.size() < 8 || line[0] != 'A' || line[3] == 'X' || line[6] != ' ') continue;
    std::string_view rest = line.substr(7);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    const size_t blank = rest.find(' ');
    if (!rest.empty()) names.emplace_back(rest.substr(0, blank));
  }
  return names;
}

const std::vector<std::string>& TranscoderAudioEncoders() {
  static const std::vector<std::string> encoders = [] {
    std::string listing;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return std::vector<std::string>{};
    const std::string program = TranscoderPath();
    std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>("-hide_banner"),
                               const_cast<char*>("-encoders"), nullptr};
    pid_t pid = -1;
    const int rc = SpawnChild(argv.data(), fds[1], &pid);
    close(fds[1]);
    if (rc == 0) {
      // A listing takes a fraction of a second; one that hangs is given up after five.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      char buffer[8192];
      for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{fds[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
          kill(pid, SIGKILL);
          listing.clear();
          break;
        }
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        listing.append(buffer, static_cast<size_t>(n));
      }
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) listing.clear();
    }
    close(fds[0]);
    std::vector<std::string> names = ParseAudioEncoders(listing);
    LOG(INFO) << "the transcoder lists " << names.size() << " audio encoders";
    return names;
  }();
  return encoders;
}

std::int64_t ParseClockText(std::string_view text) {
  // Each field held to a billion (of hours: beyond any run), so the sum cannot overflow.
  const auto field = [](std::string_view piece) {
    constexpr long long kMaxField = 1000000000;
    return std::clamp(LeadingInt(piece), -kMaxField, kMaxField);
  };
  const auto pieces = SplitText(text, ":");
  std::int64_t ms = 0;
  if (!pieces.empty()) ms += field(pieces[0]) * 3600000;
  if (pieces.size() > 1) ms += field(pieces[1]) * 60000;
  if (pieces.size() > 2) {
    const auto parts = SplitText(pieces[2], ".");
    if (!parts.empty()) ms += field(parts[0]) * 1000;
    if (parts.size() > 1) ms += field(parts[1]) * 10;
  }
  return ms;
}

namespace {

// What the transcoder prints when its result could not be written. After some of them it still
// prints its closing statistics and exits 0.
constexpr std::string_view kWriteFailures[] = {"No space left on device", "Disk quota exceeded",
                                               "File too large",          "Error writing trailer",
                                               "Error closing file",      "av_interleaved_write_frame()"};
// What the transcoder prints after a source's name when reading it failed half-way.
constexpr std::string_view kReadFailures[] = {"Input/output error", "Stale file handle",
                                              "Transport endpoint is not connected"};
// A line longer than this is read as it stands so far: no output can make the parser hold
// unbounded text.
constexpr size_t kMaxLine = 65536;
constexpr std::string_view kEchoedPath = "<file>";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}
bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}
bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

void ReplaceAll(std::string& text, std::string_view what, std::string_view with) {
  if (what.empty()) return;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

// The 11 characters of a clock text after prefix in line, or "" when they are not all there.
std::string_view ClockAfter(std::string_view line, std::string_view prefix) {
  const size_t at = line.find(prefix);
  if (at == std::string_view::npos || line.size() < at + prefix.size() + 11) return {};
  return line.substr(at + prefix.size(), 11);
}

}  // namespace

OutputParser::OutputParser(std::vector<std::string> paths) : paths_(std::move(paths)) {
  if (!paths_.empty()) {
    output_ = paths_.back();
    inputs_.assign(paths_.begin(), paths_.end() - 1);
  }
  paths_.erase(std::remove_if(paths_.begin(), paths_.end(), [](const std::string& p) { return p.empty(); }),
               paths_.end());
  std::sort(paths_.begin(), paths_.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  std::copy_if(paths_.begin(), paths_.end(), std::back_inserter(brokenNames_), HasLineBreak);
}

bool OutputParser::Feed(std::string_view block) {
  const std::string_view text = block.substr(0, block.find('\0'));
  LOG(INFO) << "buffer: " << text;
  raw_.append(text);
  return TakeLines(false);
}

void OutputParser::Finish() {
  TakeLines(true);
}

// Where the earliest end of raw_ begins that may still grow into a name with a line break in
// it (raw_.size() when none): that text waits for more output before it is decided.
size_t OutputParser::Undecided() const {
  const size_t longest = brokenNames_.empty() ? 0 : brokenNames_.front().size();
  for (size_t at = raw_.size() - std::min(raw_.size(), longest ? longest - 1 : 0); at < raw_.size(); ++at) {
    const size_t have = raw_.size() - at;
    for (const std::string& name : brokenNames_)
      if (have < name.size() && raw_.compare(at, have, name, 0, have) == 0) return at;
  }
  return raw_.size();
}

// A name with a line break would split into lines that look like the transcoder's own. Names
// are searched from left to right, the longest first at each place, and only where the output
// read so far decides them, so that the lines do not depend on how the pipe cut the output.
void OutputParser::ReplaceBrokenNames(bool all) {
  if (brokenNames_.empty()) {
    pending_.append(raw_);
    raw_.clear();
    return;
  }
  const size_t decided = all ? raw_.size() : Undecided();
  size_t at = 0;
  while (at < decided) {
    const auto found = std::find_if(brokenNames_.begin(), brokenNames_.end(), [&](const std::string& name) {
      return raw_.compare(at, name.size(), name) == 0;
    });
    if (found != brokenNames_.end()) {
      pending_.append(kEchoedPath);
      at += found->size();
    } else {
      pending_.push_back(raw_[at++]);
    }
  }
  raw_.erase(0, at);
}

bool OutputParser::TakeLines(bool all) {
  ReplaceBrokenNames(all);
  const size_t readable = pending_.size();
  bool progressed = false;
  size_t start = 0;
  for (;;) {
    const size_t end = pending_.find_first_of("\r\n", start);
    if (end == std::string::npos || end >= readable) {
      if (!all && readable - start < kMaxLine) break;
      if (start < readable) progressed |= ReadLine(pending_.substr(start, readable - start));
      start = readable;
      break;
    }
    progressed |= ReadLine(pending_.substr(start, end - start));
    start = end + 1;
  }
  pending_.erase(0, start);
  return progressed;
}

// One line. An unindented line that starts "Input #" or "Output #" opens a header block, which
// runs on over the indented lines below it; everything in it is echoed, except an input's
// "  Duration: " line. Every other unindented line is the transcoder's own.
bool OutputParser::ReadLine(std::string line) {
  if (line.empty()) return false;
  // The banner of how the transcoder was built says nothing about this run.
  const bool banner = StartsWith(line, "ffmpeg version") || StartsWith(line, "  built with") ||
                      StartsWith(line, "  configuration:") || StartsWith(line, "  lib");
  if (!banner) {
    tail_.push_back(line);
    if (tail_.size() > kTailLines) tail_.erase(tail_.begin());
  }
  bool namesInput = false;
  for (const std::string& input : inputs_)
    namesInput = namesInput || (!input.empty() && Contains(line, input));
  const bool namesOutput = !output_.empty() && Contains(line, output_);
  for (const std::string& path : paths_) ReplaceAll(line, path, kEchoedPath);
  const bool indented = line[0] == ' ' || line[0] == '\t';
  if (!indented) {
    inInputHeader_ = StartsWith(line, "Input #");
    inHeader_ = inInputHeader_ || StartsWith(line, "Output #");
  }
  if (inHeader_) {
    if (inInputHeader_ && !report_.durationFound && StartsWith(line, "  Duration: ")) {
      const std::string_view clock = ClockAfter(line, "Duration: ");
      if (!clock.empty()) {
        report_.durationFound = true;
        LOG(INFO) << "duration: " << clock;
        report_.durationMs = ParseClockText(clock);
        LOG(INFO) << "duration: " << report_.durationMs;
      }
    }
    return false;
  }
  LOG(INFO) << "outputInfo: " << line;
  if (indented) return false;
  if (Contains(line, "Invalid argument")) report_.invalidArgument = true;
  if (Contains(line, "Conversion failed")) report_.conversionFailed = true;
  if (Contains(line, "muxing overhead:")) report_.summary = true;
  for (std::string_view failure : kWriteFailures)
    if (Contains(line, failure)) report_.writeFailed = true;
  // A line naming the result names any source whose name starts the result's name too.
  if (namesInput && !namesOutput) {
    for (std::string_view failure : kReadFailures)
      if (Contains(line, failure)) report_.readFailed = true;
  }
  if (report_.readFailed && report_.cause == FailureReason::None) report_.cause = FailureReason::Unreadable;
  if (report_.cause == FailureReason::None) NoteCause(line, namesInput, namesOutput);
  if (!report_.durationFound || !(StartsWith(line, "size=") || StartsWith(line, "frame="))) return false;
  const std::string_view clock = ClockAfter(line, "time=");
  if (clock.empty()) return false;
  LOG(INFO) << "posStr: " << clock;
  report_.positionMs = ParseClockText(clock);
  return true;
}

// The transcoder's own words for the reasons it can name. A line that names a source or the
// result tells which side a system error is about.
void OutputParser::NoteCause(const std::string& line, bool namesInput, bool namesOutput) {
  FailureReason& cause = report_.cause;
  if (Contains(line, "No space left on device") || Contains(line, "Disk quota exceeded")) {
    cause = FailureReason::DiskFull;
  } else if (Contains(line, "File name too long")) {
    cause = FailureReason::NameTooLong;
  } else if (Contains(line, "Permission denied") || Contains(line, "Read-only file system")) {
    cause = namesOutput ? FailureReason::NoPermission : FailureReason::Inaccessible;
  } else if (Contains(line, "No such file or directory")) {
    cause = namesOutput ? FailureReason::WriteFailed : FailureReason::NoSuchFile;
  } else if (Contains(line, "Invalid data found when processing input") ||
             (namesInput && Contains(line, "Invalid argument"))) {
    cause = FailureReason::Unreadable;
  } else if (Contains(line, "does not contain any stream") || Contains(line, "matches no streams")) {
    cause = FailureReason::NoSound;
  }
}

std::string OutputParser::Tail() const {
  std::string text;
  for (const std::string& line : tail_) text += (text.empty() ? "" : "\n") + line;
  return text;
}

FailureReason ReasonOfReport(const TranscoderReport& report) {
  if (report.cause != FailureReason::None) return report.cause;
  if (report.writeFailed) return FailureReason::WriteFailed;
  return FailureReason::Failed;
}

TranscoderReport ReadTranscoderOutput(std::string_view output, const std::vector<std::string>& paths) {
  OutputParser parser(paths);
  parser.Feed(output);
  parser.Finish();
  return parser.Report();
}

bool RunSucceeded(const TranscoderReport& report, int waitStatus) {
  return report.summary && !report.conversionFailed && !report.invalidArgument && !report.writeFailed &&
         !report.readFailed && WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0;
}

std::vector<std::string> CommandPaths(const CommandLine& cmd) {
  std::vector<std::string> paths;
  for (size_t i = 1; i + 1 < cmd.args.size(); ++i)
    if (cmd.args[i] == "-i") paths.push_back(cmd.args[i + 1]);
  if (cmd.args.size() > 1) paths.push_back(cmd.args.back());
  return paths;
}

// ---- TranscoderRun ----------------------------------------------------------------------

bool TranscoderRun::End() {
  std::lock_guard<std::mutex> hold(lock_);
  if (judged_) return false;
  endedByOwner_ = true;
  SignalChild(SIGTERM);
  return true;
}

// lock_ held.
void TranscoderRun::SignalChild(int sig) {
  if (reaped_) return;
  if (sig == SIGTERM) {
    if (killAt_ != std::chrono::steady_clock::time_point{}) return;
    killAt_ = std::chrono::steady_clock::now() + kEndGrace;
  }
  kill(pid_, sig);
}

void TranscoderRun::KillAfterGrace() {
  std::lock_guard<std::mutex> hold(lock_);
  if (killed_ || killAt_ == std::chrono::steady_clock::time_point{} ||
      std::chrono::steady_clock::now() < killAt_)
    return;
  killed_ = true;
  SignalChild(SIGKILL);
}

// Waits for the child's exit without reaping it first, so that End never signals a pid that
// another process may have taken meanwhile; then reaps it. The wait status.
int TranscoderRun::Reap() {
  siginfo_t info{};
  while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  std::lock_guard<std::mutex> hold(lock_);
  reaped_ = true;
  int status = 0;
  pid_t reaped = -1;
  while ((reaped = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
  }
  if (reaped != pid_) {
    // Reaped elsewhere (SIGCHLD ignored by a host program, say): how it ended is unknown, and an
    // unknown end is no success.
    LOG(ERROR) << "cannot learn how transcoder " << pid_ << " ended: " << std::strerror(errno);
    return -1;
  }
  return status;
}

bool WrittenShortOfReport(const std::string& path, std::int64_t positionMs) {
  if (path.empty() || positionMs < 2000) return false;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || st.st_size == 0) return true;
  const double written = ProbeDuration(path);
  // Generous: containers round and encoders pad; a result cut short is far shorter than this.
  return written >= 0 && written * 1000 < static_cast<double>(positionMs) * 0.5;
}

bool TranscoderRun::Judge(const TranscoderReport& report, int waitStatus, bool* ended) {
  std::lock_guard<std::mutex> hold(lock_);
  judged_ = true;
  *ended = endedByOwner_;
  return !endedByOwner_ && RunSucceeded(report, waitStatus);
}

void TranscoderRun::PostFinal(MessageSink* sink, const OutputParser& parser, bool succeeded, bool ended) {
  const TranscoderReport& report = parser.Report();
  std::string published;
  int publishError = 0;
  if (succeeded && !PublishOutput(&published, &publishError)) succeeded = false;
  Message message;
  if (succeeded) {
    auto record = std::make_unique<FinishRecord>();
    record->taskId = TaskId();
    record->outputPath = published;
    record->progress.taskId = TaskId();
    record->progress.kind = Kind();
    record->progress.durationMs = static_cast<int>(report.durationMs);
    record->progress.positionMs = static_cast<int>(report.positionMs);
    record->kind = Kind();
    message = Message(WM_TASK_DONE, std::move(record), 0, RunId());
  } else {
    auto record = std::make_unique<FailureRecord>();
    record->taskId = TaskId();
    record->kind = Kind();
    record->writeFailed = report.writeFailed || publishError != 0;
    record->ended = ended;
    record->reason = ended          ? FailureReason::Cancelled
                     : publishError ? ReasonOfWriteError(publishError)
                     : shortResult_ ? FailureReason::IncompleteResult
                                    : ReasonOfReport(report);
    record->outputTail = parser.Tail();
    message = Message(WM_TASK_FAILED, std::move(record), 0, RunId());
  }
  // Finished before the message goes: whoever receives it finds the run over.
  MarkFinished();
  sink->Post(std::move(message));
}

bool TranscoderRun::PublishOutput(std::string* published, int* error) {
  if (output_.Path().empty()) return true;
  *published = output_.Publish(error);
  return !published->empty();
}

// The OutputReader thread body. Reads the output to its end (after "Invalid argument" only to
// let the ending child go), reaps the child, removes the partial result of a failed run, and
// posts the one final message.
void TranscoderRun::Read(int fd, MessageSink* sink, std::vector<std::string> paths) {
  OutputParser parser(std::move(paths));
  std::array<char, 4096> buffer{};
  ProgressRecord last;
  last.taskId = TaskId();
  last.kind = Kind();
  for (;;) {
    pollfd pfd{fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, 100);
    if (ready < 0 && errno != EINTR) break;
    KillAfterGrace();
    if (ready <= 0) continue;
    const ssize_t n = read(fd, buffer.data(), 4095);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    if (parser.Stopped()) continue;
    const bool progressed = parser.Feed(std::string_view(buffer.data(), static_cast<size_t>(n)));
    if (parser.Stopped()) {
      // The run is over: the child gets the same end as one ended by its owner.
      std::lock_guard<std::mutex> hold(lock_);
      SignalChild(SIGTERM);
    } else if (progressed) {
      last.durationMs = static_cast<int>(parser.DurationMs());
      last.positionMs = static_cast<int>(parser.Report().positionMs);
      sink->Post(Message(WM_TASK_PROGRESS, std::make_unique<ProgressRecord>(last), 0, RunId()));
    }
  }
  close(fd);
  if (!parser.Stopped()) parser.Finish();
  const int status = Reap();
  bool ended = false;
  bool succeeded = Judge(parser.Report(), status, &ended);
  // The transcoder's last time= is the end of its last packet, which can pass the end of the input
  // by a whole block (WavPack at a low rate: 4 s of a 1 s input): no result is asked to be longer
  // than its input states.
  const TranscoderReport& told = parser.Report();
  const std::int64_t reached = told.durationFound ? std::min(told.positionMs, told.durationMs) : told.positionMs;
  if (succeeded && WrittenShortOfReport(output_.PartialPath(), reached)) {
    LOG(ERROR) << "transcoder run of task " << TaskId() << " reported success but wrote less than it said";
    succeeded = false;
    shortResult_ = true;
  }
  if (!succeeded) {
    LOG(ERROR) << "transcoder run of task " << TaskId() << " failed (wait status " << status << ")";
    output_.Discard();
  }
  PostFinal(sink, parser, succeeded, ended);
}


std::shared_ptr<TranscoderRun> StartTranscoder(const CommandLine& cmd, int taskId, OperationKind kind,
                                               MessageSink* sink, int runId, int* startError) {
  LOG(INFO) << "command: " << cmd.text;
  if (startError) *startError = 0;
  if (cmd.args.empty() || !sink) {
    if (startError) *startError = EINVAL;
    return nullptr;
  }
  // The child writes under the partial name: the command's last argument, its result.
  const std::string resultPath = cmd.args.size() > 1 ? cmd.args.back() : "";
  auto run = std::shared_ptr<TranscoderRun>(
      new TranscoderRun(runId ? runId : NextRunId(), taskId, kind, ResultFile(resultPath)));
  std::vector<std::string> args = cmd.args;
  if (!resultPath.empty()) args.back() = run->output_.PartialPath();
  std::vector<std::string> paths = CommandPaths(CommandLine{"", args});
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    if (startError) *startError = errno;
    LOG(ERROR) << "pipe failed: " << std::strerror(errno);
    return nullptr;
  }
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const int rc = SpawnChild(argv.data(), fds[1], &run->pid_);
  close(fds[1]);
  if (rc != 0) {
    if (startError) *startError = rc;
    LOG(ERROR) << "cannot start " << cmd.args[0] << ": " << std::strerror(rc);
    close(fds[0]);
    return nullptr;
  }
  std::thread([run, fd = fds[0], sink, paths = std::move(paths)]() mutable {
    run->Read(fd, sink, std::move(paths));
  }).detach();
  return run;
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
