#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "tasks/ConvertQueue.h"
#include "tests/support/Process.h"
#include "tests/support/QueueSink.h"
#include "tests/support/TestEnv.h"
#include "tests/support/TestMedia.h"

namespace fs = std::filesystem;

namespace tw {
namespace {

const std::string kHome = test::PrivateHome();

// What the window saw, in order: a start (the worker's ResetProgress request), a done or
// a failure, each with its task id.
struct Event {
  char what;  // 'S' start, 'D' done, 'F' failed, 'X' the last word of an ended run (not current)
  int taskId;
  bool operator==(const Event&) const = default;
};

// Plays the main window: owns the map, the sink and the queue, and handles the messages the
// way the window thread does (completion releases the queue).
class Window {
 public:
  explicit Window(ConvertQueue::ContextProvider context = nullptr, bool start = true)
      : outputFolder(test::TempDir()),
        queue(tasks, &sink, context ? std::move(context) : ConvertQueue::ContextProvider([this] {
                CommandContext ctx = CurrentCommandContext();
                ctx.outputFolder = outputFolder;
                return ctx;
              })) {
    if (start) queue.Start();
  }
  // A run's reader may still be leaving Post when its verdict was handled.
  ~Window() { sink.DrainAfterQuiet(std::chrono::milliseconds(100), std::chrono::seconds(2)); }

  int AddFile(const std::string& source, const std::string& name) {
    const std::string path = inputFolder + "/" + name;
    fs::copy_file(source, path);
    FileEntry entry = EntryForPath(path);
    entry.duration = ProbeDuration(path);
    return tasks.Add(entry);
  }
  // The task's result: the one file of the output folder in that format named after the
  // source (its name begins with the source's); "" when there is none or more than one.
  std::string OutputOf(int taskId, const std::string& format) {
    const std::string stem = fs::path(tasks.Lookup(taskId).fileName).stem().string();
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(outputFolder, ec)) {
      const fs::path name = e.path().filename();
      if (name.extension() == "." + format && name.string().rfind(stem, 0) == 0)
        found.push_back(e.path().string());
    }
    return found.size() == 1 ? found[0] : std::string();
  }

  // Handles messages until `finals` verdicts arrived; false on a timeout.
  bool Pump(int finals, std::chrono::seconds timeout = std::chrono::seconds(120)) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (finals > 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      auto m = sink.WaitMatch([](const Message&) { return true; }, left);
      if (!m) return false;
      if (Handle(*m)) --finals;
    }
    return true;
  }
  // Waits for the next start request without completing anything.
  int WaitStart() {
    for (;;) {
      auto m = sink.WaitMatch([](const Message&) { return true; }, std::chrono::seconds(60));
      if (!m) return -1;
      Handle(*m);
      if (!events.empty() && events.back().what == 'S' && m->id == WM_JOB_ROW_REQUEST)
        return events.back().taskId;
    }
  }

  std::string inputFolder = test::TempDir();
  std::string outputFolder;
  TaskMap tasks;
  test::QueueSink sink;
  ConvertQueue queue;
  std::vector<Event> events;
  std::vector<CompletionResult> completions;

 private:
  // True for a verdict of a current run.
  bool Handle(Message& m) {
    if (m.id == WM_JOB_ROW_REQUEST) {
      const auto* r = m.As<RowRequestRecord>();
      if (r && r->action == RowRequestRecord::Action::ResetProgress) events.push_back({'S', r->taskId});
      return false;
    }
    if (m.id != WM_TASK_DONE && m.id != WM_TASK_FAILED) return false;
    const int id = m.id == WM_TASK_DONE ? m.As<FinishRecord>()->taskId : m.As<FailureRecord>()->taskId;
    auto result = queue.CompleteFromMessage(m);
    if (!result) {
      events.push_back({'X', id});
      return false;
    }
    events.push_back({m.id == WM_TASK_DONE ? 'D' : 'F', id});
    completions.push_back(*result);
    return true;
  }
};

TEST(ConvertQueue, PressesRunInPressOrderOneAtATime) {
  Window w;
  const std::string tone = test::ToneWav(1);
  const int a = w.AddFile(tone, "a.wav"), b = w.AddFile(tone, "b.wav"), c = w.AddFile(tone, "c.wav");
  w.queue.SetOptions({"mp3", 0, 0, 0});
  for (int id : {c, a, b}) w.queue.EnqueueOne(id);
  ASSERT_TRUE(w.Pump(3));
  // Each start follows the previous task's completion: never two at once.
  EXPECT_EQ(w.events, (std::vector<Event>{{'S', c}, {'D', c}, {'S', a}, {'D', a}, {'S', b}, {'D', b}}));
  ASSERT_EQ(w.completions.size(), 3u);
  EXPECT_FALSE(w.completions[0].queueIdle);
  EXPECT_FALSE(w.completions[1].queueIdle);
  EXPECT_TRUE(w.completions[2].queueIdle);
  for (const auto& done : w.completions) EXPECT_TRUE(done.removed);
  for (int id : {a, b, c}) EXPECT_NEAR(test::Probe(w.OutputOf(id, "mp3")).durationSec, 1.0, 0.1);
  EXPECT_TRUE(w.queue.IdleTasks().empty());
  EXPECT_TRUE(w.queue.BusyTasks().empty());
}

TEST(ConvertQueue, AllRequeuesEveryRowTheRunningOneIncluded) {
  Window w;
  const std::string tone = test::ToneWav(1);
  const std::vector<int> rows = {w.AddFile(tone, "r0.wav"), w.AddFile(tone, "r1.wav"),
                                 w.AddFile(tone, "r2.wav")};
  w.queue.SetOptions({"wav", 0, 0, 0});
  w.queue.EnqueueOne(rows[1]);
  ASSERT_EQ(w.WaitStart(), rows[1]);
  // Row 1 is running (its completion is not handled yet).
  EXPECT_EQ(w.queue.BusyTasks(), std::vector<int>{rows[1]});
  EXPECT_EQ(w.queue.EnqueueAll(rows), "");
  EXPECT_EQ(w.queue.EnqueueAll(rows), "");  // a second press adds nothing that already waits
  EXPECT_EQ(w.queue.IdleTasks(), rows);
  ASSERT_TRUE(w.Pump(4));
  std::vector<int> starts;
  for (const Event& e : w.events) {
    if (e.what == 'S') starts.push_back(e.taskId);
  }
  EXPECT_EQ(starts, (std::vector<int>{rows[1], rows[0], rows[1], rows[2]}));
  EXPECT_TRUE(w.completions.back().queueIdle);
}

TEST(ConvertQueue, AllWithAnEmptyListQueuesNothing) {
  Window w;
  EXPECT_EQ(w.queue.EnqueueAll({}), kMsgConvertNoFiles);
  EXPECT_TRUE(w.queue.IdleTasks().empty());
  EXPECT_TRUE(w.sink.DrainAfterQuiet(std::chrono::milliseconds(300), std::chrono::seconds(2)).empty());
}

TEST(ConvertQueue, OptionsAreReadWhenATaskStarts) {
  Window w;
  const std::string tone = test::ToneWav(1, 440, 44100, 2);
  const int first = w.AddFile(tone, "first.wav"), second = w.AddFile(tone, "second.wav");
  w.queue.SetOptions({"wav", 2, 0, 0});  // one channel
  w.queue.EnqueueOne(first);
  w.queue.EnqueueOne(second);
  ASSERT_EQ(w.WaitStart(), first);
  // Changed while the second task waits: it starts with these.
  w.queue.SetOptions({"wav", 1, 6, 0});  // two channels, 16000 Hz
  ASSERT_TRUE(w.Pump(2));
  const test::MediaInfo one = test::Probe(w.OutputOf(first, "wav"));
  const test::MediaInfo two = test::Probe(w.OutputOf(second, "wav"));
  ASSERT_TRUE(one.First("audio") && two.First("audio"));
  EXPECT_EQ(one.First("audio")->channels, 1);
  EXPECT_EQ(one.First("audio")->sampleRate, 44100);
  EXPECT_EQ(two.First("audio")->channels, 2);
  EXPECT_EQ(two.First("audio")->sampleRate, 16000);
}

TEST(ConvertQueue, FailedTasksReportAndTheQueueGoesOn) {
  Window w;
  const int broken = w.AddFile(test::TextNamedMp3(), "broken.mp3");
  const int good = w.AddFile(test::ToneWav(1), "good.wav");
  const int unknown = 999;  // no entry: an empty path, which the transcoder rejects
  w.queue.SetOptions({"flac", 0, 0, 0});
  EXPECT_EQ(w.queue.EnqueueAll({broken, unknown, good}), "");
  ASSERT_TRUE(w.Pump(3));
  EXPECT_EQ(w.events,
            (std::vector<Event>{
                {'S', broken}, {'F', broken}, {'S', unknown}, {'F', unknown}, {'S', good}, {'D', good}}));
  EXPECT_FALSE(w.completions[0].queueIdle);
  EXPECT_TRUE(w.completions[2].queueIdle);
  EXPECT_TRUE(test::Probe(w.OutputOf(good, "flac")).ok);

  // The last task fails: the queue is idle again, so "all-convert-btn" is restored.
  w.events.clear();
  w.completions.clear();
  w.queue.EnqueueOne(broken);
  ASSERT_TRUE(w.Pump(1));
  EXPECT_EQ(w.events, (std::vector<Event>{{'S', broken}, {'F', broken}}));
  EXPECT_TRUE(w.completions[0].queueIdle);
}

TEST(ConvertQueue, AFailedStartReportsAndTheNextTaskRuns) {
  std::atomic<int> starts{0};
  std::string folder;
  Window w([&] {
    CommandContext ctx = CurrentCommandContext();
    ctx.outputFolder = folder;
    // The first start finds no transcoder.
    if (starts++ == 0) ctx.transcoder = "/no/such/folder/ffmpeg";
    return ctx;
  });
  folder = w.outputFolder;
  const int first = w.AddFile(test::ToneWav(1), "x.wav"), second = w.AddFile(test::ToneWav(1), "y.wav");
  w.queue.SetOptions({"mp3", 0, 0, 0});
  w.queue.EnqueueOne(first);
  w.queue.EnqueueOne(second);
  ASSERT_TRUE(w.Pump(2));
  EXPECT_EQ(w.events, (std::vector<Event>{{'S', first}, {'F', first}, {'S', second}, {'D', second}}));
  EXPECT_TRUE(w.completions[1].queueIdle);
  EXPECT_FALSE(fs::exists(w.OutputOf(first, "mp3")));
  EXPECT_TRUE(fs::exists(w.OutputOf(second, "mp3")));

  // A start that fails while nothing else waits leaves the queue idle.
  starts = 0;
  w.events.clear();
  w.completions.clear();
  w.queue.EnqueueOne(second);
  ASSERT_TRUE(w.Pump(1));
  EXPECT_EQ(w.events, (std::vector<Event>{{'S', second}, {'F', second}}));
  EXPECT_TRUE(w.completions[0].queueIdle);
}

TEST(ConvertQueue, RowRequestsComeInOrderAndOthersAreIgnored) {
  Window w;
  const int id = w.AddFile(test::ToneWav(1), "rows.wav");
  w.queue.EnqueueOne(id);
  std::vector<RowRequestRecord::Action> actions;
  for (int i = 0; i < 2; ++i) {
    auto m = w.sink.WaitFor(WM_JOB_ROW_REQUEST, std::chrono::seconds(30));
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->As<RowRequestRecord>()->taskId, id);
    actions.push_back(m->As<RowRequestRecord>()->action);
  }
  EXPECT_EQ(actions, (std::vector<RowRequestRecord::Action>{RowRequestRecord::Action::ShowProgress,
                                                            RowRequestRecord::Action::ResetProgress}));
  ASSERT_TRUE(w.Pump(1));
  // Verdicts of other kinds do not touch the queue.
  FailureRecord other;
  other.taskId = id;
  other.kind = OperationKind::Speed;
  EXPECT_FALSE(w.queue.CompleteFromMessage(Message(WM_TASK_FAILED, std::make_unique<FailureRecord>(other))));
  EXPECT_FALSE(w.queue.CompleteFromMessage(Message(WM_TASK_PROGRESS)));
  // A completion of a task that is not running changes nothing and says the queue is idle.
  const CompletionResult stray = w.queue.Complete(12345, true);
  EXPECT_FALSE(stray.removed);
  EXPECT_TRUE(stray.queueIdle);
}

TEST(ConvertQueue, ARemovedRowLeavesTheQueue) {
  Window w;
  const std::string tone = test::ToneWav(1);
  const int a = w.AddFile(tone, "keep1.wav"), b = w.AddFile(tone, "drop.wav"),
            c = w.AddFile(tone, "keep2.wav");
  w.queue.EnqueueOne(a);
  ASSERT_EQ(w.WaitStart(), a);
  w.queue.EnqueueOne(b);
  w.queue.EnqueueOne(c);
  EXPECT_TRUE(w.queue.Forget(b));
  EXPECT_FALSE(w.queue.Forget(b));
  EXPECT_FALSE(w.queue.Forget(a));  // running: it finishes
  ASSERT_TRUE(w.Pump(2));
  EXPECT_EQ(w.events, (std::vector<Event>{{'S', a}, {'D', a}, {'S', c}, {'D', c}}));
  EXPECT_TRUE(w.completions.back().queueIdle);

  // Dropped as its conversion starts, a row's run ends and leaves no result; the next one runs.
  w.events.clear();
  const int d = w.AddFile(test::ToneWav(120), "dropped.wav"), e = w.AddFile(tone, "next.wav");
  w.queue.EnqueueOne(d);
  w.queue.EnqueueOne(e);
  ASSERT_EQ(w.WaitStart(), d);
  EXPECT_FALSE(w.queue.Drop(d));
  // Its slot is free at once; its run's last word is no longer current.
  ASSERT_TRUE(w.Pump(1));
  w.events.erase(std::remove(w.events.begin(), w.events.end(), Event{'X', d}), w.events.end());
  EXPECT_EQ(w.events, (std::vector<Event>{{'S', d}, {'S', e}, {'D', e}}));
  EXPECT_FALSE(fs::exists(w.OutputOf(d, "mp3")));
  EXPECT_TRUE(fs::exists(w.OutputOf(e, "mp3")));
}

TEST(ConvertQueue, StopsPromptlyWithTasksWaiting) {
  auto w = std::make_unique<Window>();
  const int id = w->AddFile(test::ToneWav(1), "wait.wav");
  w->queue.EnqueueOne(id);
  ASSERT_EQ(w->WaitStart(), id);
  w->queue.EnqueueOne(id);  // waits behind the running one, which is never completed
  ASSERT_TRUE(w->sink.WaitFor(WM_TASK_DONE, std::chrono::seconds(30)).has_value());
  const auto begin = std::chrono::steady_clock::now();
  w.reset();  // joins the worker
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
}

}  // namespace
}  // namespace tw

namespace tw {
namespace {

// The most jobs that ran at once, from the starts and ends in order.
int MostAtOnce(const std::vector<Event>& events) {
  int running = 0, most = 0;
  for (const Event& e : events) {
    running += e.what == 'S' ? 1 : -1;
    most = std::max(most, running);
  }
  return most;
}

size_t IndexOf(const std::vector<Event>& events, Event e) {
  return static_cast<size_t>(std::find(events.begin(), events.end(), e) - events.begin());
}

TEST(ConvertQueue, SlotsRunSeveralAtOnceAndEachKeepsItsResult) {
  Window w;
  w.queue.SetSlots(2);
  const std::string tone = test::ToneWav(30);
  const int a = w.AddFile(tone, "a.wav"), b = w.AddFile(tone, "b.wav");
  const int again = w.tasks.Add(w.tasks.Lookup(a));  // a second row of the same file: the same result
  w.queue.SetOptions({"mp3", 0, 0, 0});
  EXPECT_EQ(w.queue.EnqueueAll({a, again, b}), "");
  ASSERT_TRUE(w.Pump(3));
  EXPECT_EQ(MostAtOnce(w.events), 2);
  // The two rows of a ran at once, b after them; each run published a result of its own.
  EXPECT_LT(IndexOf(w.events, {'S', again}), IndexOf(w.events, {'S', b}));
  EXPECT_EQ(IndexOf(w.events, {'F', again}), w.events.size());
  for (const char* name : {"/a.mp3", "/a-2.mp3", "/b.mp3"})
    EXPECT_NEAR(test::Probe(w.outputFolder + name).durationSec, 30, 0.2) << name;
  EXPECT_TRUE(w.completions.back().queueIdle);
}

TEST(ConvertQueue, ACancelledJobEndsAtOnceAndItsReportsAreNoLongerCurrent) {
  Window w;
  const int running = w.AddFile(test::LongMp3(), "long.mp3");
  const int waiting = w.AddFile(test::ToneWav(1), "waiting.wav");
  const int next = w.AddFile(test::ToneWav(1), "next.wav");
  w.queue.SetOptions({"flac", 0, 0, 0});
  EXPECT_EQ(w.queue.EnqueueAll({running, waiting, next}), "");
  ASSERT_EQ(w.WaitStart(), running);
  // The run has begun to write when its first progress report arrives.
  auto progress = w.sink.WaitFor(WM_TASK_PROGRESS, std::chrono::seconds(60));
  ASSERT_TRUE(progress.has_value());
  EXPECT_TRUE(w.queue.IsCurrent({OperationKind::Convert, running}, progress->runId));

  const CancelResult waited = w.queue.Cancel({OperationKind::Convert, waiting});
  EXPECT_TRUE(waited.waited);
  EXPECT_FALSE(waited.ended);
  const CancelResult ended = w.queue.Cancel({OperationKind::Convert, running});
  EXPECT_TRUE(ended.ended);
  EXPECT_FALSE(w.queue.Holds({OperationKind::Convert, running}));
  const CancelResult twice = w.queue.Cancel({OperationKind::Convert, running});
  EXPECT_FALSE(twice.waited || twice.ended || twice.tooLate);

  // The ended run still reports its end, which is no longer current; the next job runs.
  auto final = w.sink.WaitMatch(
      [&](const Message& m) { return m.id == WM_TASK_FAILED && m.As<FailureRecord>()->taskId == running; },
      std::chrono::seconds(30));
  ASSERT_TRUE(final.has_value());
  EXPECT_EQ(final->As<FailureRecord>()->reason, FailureReason::Cancelled);
  EXPECT_FALSE(w.queue.CompleteFromMessage(*final).has_value());
  ASSERT_TRUE(w.Pump(1));
  EXPECT_EQ(w.events.back(), (Event{'D', next}));
  EXPECT_FALSE(fs::exists(w.OutputOf(running, "flac")));
  EXPECT_FALSE(fs::exists(w.OutputOf(waiting, "flac")));
  EXPECT_TRUE(fs::exists(w.OutputOf(next, "flac")));
  EXPECT_EQ(w.queue.Running(), 0u);
  EXPECT_EQ(w.queue.Pending(), 0u);
}

// A job cancelled while its start is under way counts as running until its run has come back
// and ended: whatever the start wrote is still there until then.
TEST(ConvertQueue, AJobCancelledWhileItStartsRunsUntilItHasEnded) {
  class HeldRun : public JobRun {
   public:
    HeldRun(int runId, int taskId) : JobRun(runId, OperationKind::Extract, taskId) {}
    bool End() override {
      MarkFinished();
      return true;
    }
  };
  Window w;
  std::promise<void> entered, release;
  std::shared_future<void> go = release.get_future().share();
  const JobKey key{OperationKind::Extract, 7};
  ASSERT_TRUE(w.queue.Enqueue(
      key,
      [&entered, go](int runId) {
        PreparedJob job;
        job.start = [&entered, go, runId](FailureReason*) -> std::shared_ptr<JobRun> {
          entered.set_value();
          go.wait();
          return std::make_shared<HeldRun>(runId, 7);
        };
        return job;
      },
      true));
  ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_TRUE(w.queue.Cancel(key).ended);
  EXPECT_FALSE(w.queue.Holds(key));
  EXPECT_EQ(w.queue.Running(), 1u);
  release.set_value();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (w.queue.Running() != 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(w.queue.Running(), 0u);
}

// A job pressed on a page that starts at once passes the queued ones, but takes a slot like them.
TEST(ConvertQueue, ImmediateJobsPassTheWaitingOnesButTakeASlot) {
  Window w(nullptr, false);
  const int slow = w.AddFile(test::LongMp3(), "slow.mp3");
  const int queued = w.AddFile(test::ToneWav(1), "queued.wav");
  const int pressed = w.AddFile(test::ToneWav(1), "pressed.wav");
  w.queue.SetOptions({"flac", 0, 0, 0});
  w.queue.EnqueueAll({slow, queued});
  const std::string out = w.outputFolder + "/pressed-extract.wav";
  const JobKey key{OperationKind::Extract, pressed};
  EXPECT_TRUE(w.queue.Enqueue(
      key,
      MakeTranscoderStarter(
          key, &w.sink,
          [&](const CommandContext& ctx) {
            BuiltCommand built;
            built.ok = true;
            built.outputPath = out;
            built.command.args = {ctx.transcoder, "-i", w.tasks.Lookup(pressed).fullPath, out};
            return built;
          }),
      true));
  w.queue.Start();
  auto done = w.sink.WaitMatch(
      [&](const Message& m) {
        return m.id == WM_TASK_DONE && m.As<FinishRecord>()->kind == OperationKind::Extract;
      },
      std::chrono::seconds(60));
  ASSERT_TRUE(done.has_value());
  // The one slot was the pressed job's until its verdict was handled.
  EXPECT_TRUE(w.queue.IsWaiting({OperationKind::Convert, slow}));
  EXPECT_TRUE(w.queue.IsWaiting({OperationKind::Convert, queued}));
  EXPECT_TRUE(w.queue.CompleteFromMessage(*done).has_value());
  EXPECT_TRUE(fs::exists(out));
  ASSERT_TRUE(test::PollUntil([&] { return !w.queue.IsWaiting({OperationKind::Convert, slow}); }, std::chrono::seconds(30)));
  EXPECT_TRUE(w.queue.IsWaiting({OperationKind::Convert, queued}));
  EXPECT_TRUE(w.queue.Cancel({OperationKind::Convert, queued}).waited);
  EXPECT_TRUE(w.queue.Cancel({OperationKind::Convert, slow}).ended);
  EXPECT_TRUE(
      w.sink.WaitMatch([&](const Message& m) { return m.id == WM_TASK_FAILED; }, std::chrono::seconds(30))
          .has_value());
}

}  // namespace
}  // namespace tw
