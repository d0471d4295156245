#include "cli/JobRunner.h"

#include <glog/logging.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <map>
#include <set>

#include "app/Messages.h"
#include "app/Translation.h"
#include "media/NoiseRecords.h"
#include "tasks/Transcoder.h"

namespace tw::cli {

namespace {

volatile sig_atomic_t gSignal = 0;
// The sink's wake descriptor for the handler; -1 while no sink exists.
volatile int gWakeFd = -1;
// Set while a Run may have work to end and partial results to remove. Before and after, an
// interrupt ends the program at once: nothing it did needs undoing, and a check of the files
// (a probe of a stalled network share, say) must not keep it alive.
volatile sig_atomic_t gRunning = 0;

void OnInterrupt(int sig) {
  // A second interrupt while the first is still being handled ends the program at once.
  if (!gRunning || gSignal) {
    // Delivered again, with its default effect, when this handler returns.
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  const int saved = errno;
  if (gSignal == 0) gSignal = sig;
  const int fd = gWakeFd;
  if (fd >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(fd, &one, sizeof one);
  }
  errno = saved;
}

// A closed output pipe must not kill the program before it has cleaned up; unlike an ignored
// signal, a handler is not passed on to the transcoder children.
void OnBrokenPipe(int) {}

struct Slot {
  Job* job = nullptr;
  bool interrupted = false;  // running when the interrupt came
};

}  // namespace

WaitableSink::WaitableSink() {
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  gWakeFd = wakeFd_;
}

WaitableSink::~WaitableSink() {
  gWakeFd = -1;
  if (wakeFd_ >= 0) close(wakeFd_);
}

void WaitableSink::Post(Message message) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    queue_.push_back(std::move(message));
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

std::vector<Message> WaitableSink::Wait(int timeoutMs) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!queue_.empty() || gSignal) timeoutMs = 0;
  }
  pollfd pfd{wakeFd_, POLLIN, 0};
  while (poll(&pfd, 1, timeoutMs) < 0 && errno == EINTR) {
    if (gSignal) break;
  }
  std::uint64_t count = 0;
  [[maybe_unused]] ssize_t n = read(wakeFd_, &count, sizeof count);
  std::vector<Message> out;
  std::lock_guard<std::mutex> hold(lock_);
  while (!queue_.empty()) {
    out.push_back(std::move(queue_.front()));
    queue_.pop_front();
  }
  return out;
}

void InstallInterruptHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
  struct sigaction pipeAction {};
  pipeAction.sa_handler = OnBrokenPipe;
  sigemptyset(&pipeAction.sa_mask);
  pipeAction.sa_flags = SA_RESTART;
  sigaction(SIGPIPE, &pipeAction, nullptr);
}

int InterruptSignal() {
  return gSignal;
}

std::optional<int> TaskIdOf(const Message& message) {
  if (const auto* p = message.As<ProgressRecord>()) return p->taskId;
  if (const auto* f = message.As<FinishRecord>()) return f->taskId;
  if (const auto* f = message.As<FailureRecord>()) return f->taskId;
  if (const auto* t = message.As<JobTickRecord>()) return t->taskId;
  if (const auto* n = message.As<NoiseProgressRecord>()) return n->itemId;
  if (const auto* n = message.As<NoiseDoneRecord>()) return n->itemId;
  return std::nullopt;
}

int JobRunner::Run(std::vector<std::unique_ptr<Job>> jobs) {
  // A transcoder's reader may still be inside Post (waking the sink) when its final message
  // has already been handled, and it outlives Run: the sink and its descriptor live until the
  // process ends.
  static WaitableSink& sink = *new WaitableSink;
  std::deque<Job*> pending;
  for (auto& job : jobs) pending.push_back(job.get());
  std::set<Job*> prepared;
  std::map<int, Slot> running;
  int nextTaskId = 0;
  int failures = 0;
  interrupted_ = false;
  peakRunning_ = 0;
  gRunning = 1;
  struct NotRunning {
    ~NotRunning() { gRunning = 0; }
  } notRunning;

  // Starts what may start now, in order. Jobs whose results share a name run at once: each
  // publishes a name of its own.
  auto startMore = [&]() {
    for (auto it = pending.begin(); it != pending.end() && static_cast<int>(running.size()) < maxJobs_;) {
      Job* job = *it;
      if (!prepared.count(job)) {
        prepared.insert(job);
        if (std::string refusal = job->Prepare(); !refusal.empty()) {
          view_.Failed(-1, job->Label(), refusal);
          ++failures;
          it = pending.erase(it);
          continue;
        }
      }
      int taskId = job->FixedTaskId();
      if (taskId == INT_MIN) taskId = nextTaskId++;
      while (running.count(taskId)) taskId = nextTaskId++;
      if (std::string refusal = job->Start(taskId, &sink); !refusal.empty()) {
        view_.Failed(-1, job->Label(), refusal);
        ++failures;
      } else {
        running[taskId] = Slot{job, false};
        view_.Started(taskId, job->Label());
        if (std::string note = job->TakeNote(); !note.empty()) view_.Note(job->Label() + ": " + note);
        peakRunning_ = std::max(peakRunning_, static_cast<int>(running.size()));
      }
      it = pending.erase(it);
    }
  };

  // Aborts every running job (its final message still comes) and drops the waiting ones.
  auto interrupt = [&]() {
    interrupted_ = true;
    LOG(INFO) << "interrupted by signal " << InterruptSignal() << ", ending " << running.size() << " jobs";
    view_.Note(FormatText(Tr("Cli", "已中断：正在结束 %1 个运行中的任务"), {std::to_string(running.size())}));
    for (auto& [id, slot] : running) {
      slot.interrupted = true;
      slot.job->Abort();
    }
    for (Job* job : pending) view_.Failed(-1, job->Label(), Tr("Cli", "未开始（已中断）"));
    failures += static_cast<int>(pending.size());
    pending.clear();
  };

  for (;;) {
    if (InterruptSignal() && !interrupted_) interrupt();
    if (!interrupted_) startMore();
    if (running.empty()) break;
    std::vector<Message> messages = sink.Wait();
    if (InterruptSignal() && !interrupted_) interrupt();
    for (const Message& message : messages) {
      const auto taskId = TaskIdOf(message);
      if (!taskId) continue;
      auto it = running.find(*taskId);
      if (it == running.end()) continue;
      Slot& slot = it->second;
      const JobUpdate update = slot.job->OnMessage(message);
      if (update.state == JobUpdate::State::Running) {
        if (update.percent >= 0) view_.Progress(*taskId, update.percent);
        continue;
      }
      if (slot.interrupted) {
        slot.job->DiscardOutput();
        view_.Failed(*taskId, slot.job->Label(), Tr("Cli", "已中断，未完成的结果已删除"));
        ++failures;
      } else if (update.state == JobUpdate::State::Done) {
        view_.Succeeded(*taskId, update.result);
      } else {
        // A failed run leaves no half-written result behind.
        slot.job->DiscardOutput();
        view_.Failed(*taskId, slot.job->Label(), update.reason);
        ++failures;
      }
      running.erase(it);
    }
  }
  return failures;
}

}  // namespace tw::cli
