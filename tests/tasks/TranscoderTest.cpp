#include "tasks/Transcoder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "app/Messages.h"
#include "tests/support/QueueSink.h"
#include "tests/support/TestMedia.h"

namespace fs = std::filesystem;

namespace tw {
namespace {

using Event = OutputParser::Event;

struct Expected {
  Event event;
  std::int64_t positionMs;
};

std::vector<Expected> FeedAll(OutputParser& parser, const std::vector<std::string>& blocks) {
  std::vector<Expected> all;
  for (const auto& b : blocks) {
    for (const auto& s : parser.Feed(b)) all.push_back({s.event, s.positionMs});
  }
  return all;
}

TEST(Transcoder, ClockTexts) {
  const struct {
    const char* text;
    std::int64_t ms;
  } cases[] = {{"00:01:40.00", 100000}, {"00:00:01.50", 1500}, {"01:00:00.01", 3600010},
               {"N/A", 0},              {"", 0},             {"00:00:50", 50000}};
  for (const auto& c : cases) EXPECT_EQ(ParseClockText(c.text), c.ms) << c.text;
}

TEST(Transcoder, ParserOnScriptedOutput) {
  const std::string head = "Input #0, wav, from 'a.wav':\n  Duration: 00:01:40.00, bitrate: 1411 kb/s\n";
  {
    // Progress once the duration is known; the block that holds "Duration:" is consumed by it.
    OutputParser p;
    auto ev = FeedAll(p, {head, "size=  1kB time=00:00:50.00 bitrate=1.0kbits/s\r"});
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].event, Event::Progress);
    EXPECT_EQ(ev[0].positionMs, 50000);
    EXPECT_EQ(p.DurationMs(), 100000);
    EXPECT_EQ(TaskPercent(ev[0].positionMs, p.DurationMs()), 50);
  }
  {
    // A "time=" text cut by a block boundary is read once the rest arrives.
    OutputParser p;
    auto ev = FeedAll(p, {head, "size= 1kB time=00:0", "0:12.34 bitrate=1.0kbits/s\r"});
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].positionMs, 12340);
  }
  {
    // "Duration:" split across blocks waits for its 11 characters.
    OutputParser p;
    EXPECT_TRUE(FeedAll(p, {"  Duration: 00:0"}).empty());
    EXPECT_FALSE(p.DurationFound());
    FeedAll(p, {"1:40.00, bitrate\n"});
    EXPECT_TRUE(p.DurationFound());
    EXPECT_EQ(p.DurationMs(), 100000);
  }
  {
    OutputParser p;
    auto ev = FeedAll(p, {head, "time=00:01:40.00 bitrate\nvideo:0kB audio:1kB muxing overhead: 0.1%\n"});
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].event, Event::Progress);
    EXPECT_EQ(ev[1].event, Event::Done);
  }
  {
    // A short job's whole output in one block still ends in its verdict.
    OutputParser p;
    auto ev = FeedAll(p, {head + "size= 345kB time=00:01:40.00 bitrate\nvideo:0kB muxing overhead: 0.02%\n"});
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].event, Event::Progress);
    EXPECT_EQ(ev[0].positionMs, 100000);
    EXPECT_EQ(ev[1].event, Event::Done);
  }
  {
    OutputParser p;
    auto ev = FeedAll(p, {head, "Error while opening encoder\nConversion failed!\n"});
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].event, Event::Failed);
  }
  {
    // "Invalid argument" ends the run even before any duration.
    OutputParser p;
    auto ev = FeedAll(p, {"x.wav: Invalid argument\n", head, "muxing overhead: 1%\n"});
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].event, Event::Failed);
    EXPECT_TRUE(p.Stopped());
  }
  {
    // A result that could not be written (a full disk) fails although the summary and its
    // "muxing overhead:" follow; the error text may be split across two reads.
    for (const std::vector<std::string>& blocks : std::vector<std::vector<std::string>>{
             {head, "time=00:00:00.00 bitrate=N/A    Error writing trailer of o.mp3: No space left on device\n"
                    "size= 64kB time=00:01:40.00 bitrate\nvideo:0kB muxing overhead: unknown\n"},
             {head, "time=00:01:40.00 bitrate\nvideo:0kB muxing overhead: 0.5%\nError closing file o.mp3: No spa",
              "ce left on device\n"},
             {head, "av_interleaved_write_frame(): Disk quota exc", "eeded\n", "muxing overhead: 1%\n"}}) {
      OutputParser p;
      auto ev = FeedAll(p, blocks);
      int failed = 0, done = 0;
      for (const auto& e : ev) {
        failed += e.event == Event::Failed;
        done += e.event == Event::Done;
      }
      EXPECT_EQ(failed, 1) << blocks[1];
      EXPECT_EQ(done, 0) << blocks[1];
      EXPECT_TRUE(p.WriteFailed());
    }
  }
  {
    // Without a duration nothing but the invalid-argument test applies.
    OutputParser p;
    EXPECT_TRUE(FeedAll(p, {"time=00:00:01.00 bitrate\n", "Conversion failed!\n", "muxing overhead: 0%\n"}).empty());
  }
  {
    // A zero byte ends the text of a block.
    OutputParser p;
    FeedAll(p, {std::string("  Duration: 00:00:10.00\0garbage", 31)});
    EXPECT_EQ(p.DurationMs(), 10000);
  }
}

TEST(Transcoder, PercentRules) {
  EXPECT_EQ(TaskPercent(50000, 100000), 50);
  EXPECT_EQ(TaskPercent(150000, 100000), 150);  // past the duration: above 100 in the label
  EXPECT_EQ(TaskPercent(5000, 0), 0);           // "Duration: N/A"
  EXPECT_EQ(TaskPercent(5000, -1), 0);
  EXPECT_EQ(SpeedPercent(25000, 100000, 2.0), 50);
  EXPECT_EQ(SpeedPercent(25000, 100000, 0.5), 12);
  EXPECT_EQ(SpeedPercent(25000, 100000, 0), 0);
  EXPECT_EQ(MergePercent(50000, 60 + 40), 50);
  EXPECT_EQ(MergePercent(50000, 0), 0);
}

CommandLine Ffmpeg(std::vector<std::string> args) {
  CommandLine cmd;
  cmd.args.push_back(TranscoderPath());
  cmd.args.insert(cmd.args.end(), args.begin(), args.end());
  for (const auto& a : cmd.args) cmd.text += (cmd.text.empty() ? "" : " ") + a;
  return cmd;
}

struct RunResult {
  unsigned finalId = 0;
  int finals = 0;
  int progress = 0;
  int lastPercent = -1;
  bool writeFailed = false;
  pid_t pid = -1;
};

// Runs a command to its final message and waits a little for stray messages after it.
RunResult RunToEnd(const CommandLine& cmd, int taskId = 7, OperationKind kind = OperationKind::Convert) {
  test::QueueSink sink;
  RunResult r;
  EXPECT_TRUE(StartTranscoder(cmd, taskId, kind, &sink, &r.pid));
  auto final = sink.WaitMatch([](const Message& m) { return m.id == WM_TASK_DONE || m.id == WM_TASK_FAILED; },
                              std::chrono::seconds(60));
  EXPECT_TRUE(final.has_value()) << cmd.text;
  if (!final) return r;
  r.finalId = final->id;
  if (auto* done = final->As<FinishRecord>()) {
    EXPECT_EQ(done->taskId, taskId);
    EXPECT_EQ(done->kind, kind);
    r.lastPercent = TaskPercent(done->progress.positionMs, done->progress.durationMs);
    // The child has exited and been reaped before the run reports done.
    EXPECT_NE(kill(r.pid, 0), 0);
  }
  if (auto* failed = final->As<FailureRecord>()) {
    EXPECT_EQ(failed->taskId, taskId);
    r.writeFailed = failed->writeFailed;
  }
  for (auto& m : sink.DrainAfterQuiet(std::chrono::milliseconds(300), std::chrono::seconds(2))) {
    if (m.id == WM_TASK_PROGRESS) ++r.progress;
    if (m.id == WM_TASK_DONE || m.id == WM_TASK_FAILED) ++r.finals;
  }
  r.finals += 1;
  return r;
}

TEST(Transcoder, RealRunsEndInExactlyOneVerdict) {
  const std::string in = test::ToneWav(5);
  const std::string dir = test::TempDir();
  {
    auto r = RunToEnd(Ffmpeg({"-i", in, "-c:a", "libmp3lame", dir + "/ok.mp3"}));
    EXPECT_EQ(r.finalId, WM_TASK_DONE);
    EXPECT_EQ(r.finals, 1);
    EXPECT_GE(r.lastPercent, 99);
    EXPECT_NEAR(test::Probe(dir + "/ok.mp3").durationSec, 5.0, 0.1);
  }
  const struct {
    const char* what;
    std::vector<std::string> args;
  } failing[] = {
      {"Conversion failed", {"-i", in, "-c:a", "libmp3lame", "-ar", "12345", dir + "/bad-rate.mp3"}},
      {"Invalid argument then Conversion failed", {"-i", in, "-af", "volume=abc", dir + "/bad-filter.mp3"}},
      {"missing input", {"-i", dir + "/missing.wav", dir + "/never.mp3"}},
      {"no verdict text at all", {"-i", in, "-ss", "abc", dir + "/bad-ss.mp3"}},
      {"unknown option", {"-i", in, "-no-such-option", "1", dir + "/unknown.mp3"}},
      // The output exists and there is no -y: with stdin at /dev/null the question cannot hang the child.
      {"overwrite question", {"-i", in, dir + "/ok.mp3"}},
      // A full disk: the transcoder prints its summary and exits 0 all the same.
      {"no space left", {"-y", "-i", in, "-f", "mp3", "/dev/full"}},
  };
  for (const auto& f : failing) {
    auto r = RunToEnd(Ffmpeg(f.args));
    EXPECT_EQ(r.finalId, WM_TASK_FAILED) << f.what;
    EXPECT_EQ(r.finals, 1) << f.what;
    EXPECT_EQ(r.writeFailed, std::string(f.what) == "no space left") << f.what;
  }
}

TEST(Transcoder, HostileFileNamesReachTheChildUnharmed) {
  const std::string dir = test::TempDir();
  const char* names[] = {"with space.wav", "quote\"d'.wav", "$(touch pwned).wav", "-leading.wav", "中文 音频.wav",
                         "semi;colon&amp|.wav"};
  for (const char* name : names) {
    const std::string in = dir + "/" + name;
    fs::copy_file(test::ToneWav(1), in);
    const std::string out = dir + "/out " + name + ".mp3";
    auto r = RunToEnd(Ffmpeg({"-i", in, "-c:a", "libmp3lame", out}));
    EXPECT_EQ(r.finalId, WM_TASK_DONE) << name;
    EXPECT_TRUE(fs::exists(out)) << name;
  }
  EXPECT_FALSE(fs::exists("pwned"));
  EXPECT_FALSE(fs::exists(dir + "/pwned"));
}

TEST(Transcoder, StartFailuresPostNothing) {
  test::QueueSink sink;
  CommandLine missing{"/no/such/ffmpeg -i x", {"/no/such/ffmpeg", "-i", "x"}};
  EXPECT_FALSE(StartTranscoder(missing, 1, OperationKind::Convert, &sink));
  CommandLine empty;
  EXPECT_FALSE(StartTranscoder(empty, 1, OperationKind::Convert, &sink));
  EXPECT_TRUE(sink.DrainAfterQuiet(std::chrono::milliseconds(200), std::chrono::seconds(1)).empty());
}

TEST(Transcoder, ManyRunsAtOnceKeepTheirOwnPipes) {
  // Concurrent children must not inherit each other's pipe ends, or a run would never see its end.
  const std::string dir = test::TempDir();
  test::QueueSink sink;
  const int runs = 4;
  for (int i = 0; i < runs; ++i) {
    ASSERT_TRUE(StartTranscoder(Ffmpeg({"-i", test::ToneWav(2), dir + "/c" + std::to_string(i) + ".mp3"}), i,
                                OperationKind::Extract, &sink));
  }
  std::set<int> done;
  for (int i = 0; i < runs; ++i) {
    auto m = sink.WaitFor(WM_TASK_DONE, std::chrono::seconds(60));
    ASSERT_TRUE(m.has_value());
    done.insert(m->As<FinishRecord>()->taskId);
  }
  EXPECT_EQ(done.size(), static_cast<size_t>(runs));
  EXPECT_EQ(sink.Count(WM_TASK_FAILED), 0u);
}

}  // namespace
}  // namespace tw
