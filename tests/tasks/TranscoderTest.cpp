#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "app/Messages.h"
#include "tasks/ResultFile.h"
#include "tasks/Transcoder.h"
#include "tests/support/FailingDisk.h"
#include "tests/support/QueueSink.h"
#include "tests/support/TestMedia.h"

namespace fs = std::filesystem;

namespace tw {
namespace {

// What a real run of the transcoder (ffmpeg 5.1) prints, its banner left out, when it makes a
// 1 s mono wav named `input` into the mp3 `output`.
std::string WavToMp3Output(const std::string& input, const std::string& output, const std::string& speed) {
  return "Guessed Channel Layout for Input Stream #0.0 : mono\n"
         "Input #0, wav, from '" +
         input +
         "':\n"
         "  Metadata:\n"
         "    encoder         : Lavf59.27.100\n"
         "  Duration: 00:00:01.00, bitrate: 706 kb/s\n"
         "  Stream #0:0: Audio: pcm_s16le ([1][0][0][0] / 0x0001), 44100 Hz, mono, s16, 705 kb/s\n"
         "Stream mapping:\n"
         "  Stream #0:0 -> #0:0 (pcm_s16le (native) -> mp3 (libmp3lame))\n"
         "Press [q] to stop, [?] for help\n"
         "Output #0, mp3, to '" +
         output +
         "':\n"
         "  Metadata:\n"
         "    TSSE            : Lavf59.27.100\n"
         "  Stream #0:0: Audio: mp3, 44100 Hz, mono, s16p\n"
         "    Metadata:\n"
         "      encoder         : Lavc59.37.100 libmp3lame\n"
         "size=       0kB time=00:00:00.00 bitrate=N/A speed=N/A    \r"
         "size=       8kB time=00:00:01.01 bitrate=  67.4kbits/s speed=" +
         speed +
         "    \n"
         "video:0kB audio:8kB subtitle:0kB other streams:0kB global headers:0kB muxing overhead: 2.715636%\n";
}

// Names that read like the transcoder's own messages, echoed in its output.
const std::string kEchoedName =
    WavToMp3Output("No space left on device.wav", "out/No space left on device.mp3", "  39x");
const std::string kBrokenLineNames =
    WavToMp3Output("a\nConversion failed!\nb.wav",
                   "out/time=09:00:00.00 a\nInvalid argument\nvideo:0kB muxing overhead: 1%.mp3", "43.7x");

// Tags that do the same.
const std::string kEchoedTags =
    "Input #0, mp3, from 'tagged.mp3':\n"
    "  Metadata:\n"
    "    title           : Conversion failed\n"
    "    artist          : line one\n"
    "                    : Conversion failed!\n"
    "                    : Invalid argument\n"
    "                    : video:0kB audio:1kB muxing overhead: 1%\n"
    "    comment         : Duration: 09:00:00.00\n"
    "    encoder         : Lavf59.27.100\n"
    "  Duration: 00:00:01.04, start: 0.025057, bitrate: 67 kb/s\n"
    "  Stream #0:0: Audio: mp3, 44100 Hz, mono, fltp, 64 kb/s\n"
    "Stream mapping:\n"
    "  Stream #0:0 -> #0:0 (mp3 (mp3float) -> mp3 (libmp3lame))\n"
    "Press [q] to stop, [?] for help\n"
    "Output #0, mp3, to 'out/Conversion failed.mp3':\n"
    "  Metadata:\n"
    "    TIT2            : Conversion failed\n"
    "    TPE1            : line one\n"
    "                    : Conversion failed!\n"
    "                    : Invalid argument\n"
    "                    : video:0kB audio:1kB muxing overhead: 1%\n"
    "    comment         : Duration: 09:00:00.00\n"
    "    TSSE            : Lavf59.27.100\n"
    "  Stream #0:0: Audio: mp3, 44100 Hz, mono, fltp\n"
    "    Metadata:\n"
    "      encoder         : Lavc59.37.100 libmp3lame\n"
    "size=       0kB time=00:00:00.00 bitrate=N/A speed=N/A    \r"
    "size=       9kB time=00:00:01.01 bitrate=  68.7kbits/s speed=19.4x    \n"
    "video:0kB audio:8kB subtitle:0kB other streams:0kB global headers:0kB muxing overhead: 4.701519%\n";

// Writing to /dev/full: the statistics come, then the write failure, and the exit status is 0.
const std::string kFailedCloseAfterSummary =
    "Input #0, wav, from 'No space left on device.wav':\n"
    "  Duration: 00:00:01.00, bitrate: 706 kb/s\n"
    "  Stream #0:0: Audio: pcm_s16le ([1][0][0][0] / 0x0001), 44100 Hz, mono, s16, 705 kb/s\n"
    "Press [q] to stop, [?] for help\n"
    "Output #0, mp3, to '/dev/full':\n"
    "  Stream #0:0: Audio: mp3, 44100 Hz, mono, s16p\n"
    "size=       0kB time=00:00:00.00 bitrate=N/A speed=N/A    \r"
    "Error writing trailer of /dev/full: No space left on device\n"
    "size=       8kB time=00:00:01.01 bitrate=  67.4kbits/s speed=42.3x    \n"
    "video:0kB audio:8kB subtitle:0kB other streams:0kB global headers:0kB muxing overhead: 2.715636%\n"
    "Error closing file /dev/full: No space left on device\n";

// A small disk filled up half-way.
const std::string kFullDisk =
    "Input #0, wav, from 'long.wav':\n"
    "  Duration: 00:00:20.00, bitrate: 705 kb/s\n"
    "Press [q] to stop, [?] for help\n"
    "Output #0, mp3, to 'mnt/x.mp3':\n"
    "  Stream #0:0: Audio: mp3, 44100 Hz, mono, s16p, 128 kb/s\n"
    "size=       0kB time=00:00:00.00 bitrate=N/A speed=N/A    \r"
    "av_interleaved_write_frame(): No space left on device\n"
    "    Last message repeated 4 times\n"
    "Error writing trailer of mnt/x.mp3: No space left on device\n"
    "size=     258kB time=00:00:16.45 bitrate= 128.4kbits/s speed=58.1x    \n"
    "video:0kB audio:258kB subtitle:0kB other streams:0kB global headers:0kB muxing overhead: 0.175178%\n"
    "Error closing file mnt/x.mp3: No space left on device\n"
    "Conversion failed!\n";

const std::string kBadFilter =
    "Input #0, wav, from 'long.wav':\n"
    "  Duration: 00:00:20.00, bitrate: 705 kb/s\n"
    "Press [q] to stop, [?] for help\n"
    "[Parsed_volume_0 @ 0x55b5e11f7e00] [Eval @ 0x7ffe987d2d60] Undefined constant or missing '(' in 'abc'\n"
    "[AVFilterGraph @ 0x55b5e11f74c0] Error initializing filter 'volume' with args 'abc'\n"
    "Error reinitializing filters!\n"
    "Failed to inject frame into filter network: Invalid argument\n"
    "Error while processing the decoded data for stream #0:0\n"
    "Conversion failed!\n";

const std::string kNoOutputFormat =
    "Input #0, wav, from '/tmp/rcap/No space left on device.wav':\n"
    "  Duration: 00:00:01.00, bitrate: 706 kb/s\n"
    "  Stream #0:0: Audio: pcm_s16le ([1][0][0][0] / 0x0001), 44100 Hz, mono, s16, 705 kb/s\n"
    "[NULL @ 0x56277a29fec0] Unable to find a suitable output format for '/tmp/rcap/out/never'\n"
    "/tmp/rcap/out/never: Invalid argument\n";

// SIGTERM half-way: the statistics come all the same, and the exit status is 255.
const std::string kTerminated =
    "Input #0, wav, from 'long.wav':\n"
    "  Duration: 00:00:20.00, bitrate: 705 kb/s\n"
    "Press [q] to stop, [?] for help\n"
    "[flac @ 0x55df64fe7780] encoding as 24 bits-per-sample\n"
    "Output #0, flac, to 'out/slow.flac':\n"
    "size=       8kB time=00:00:00.00 bitrate=N/A speed=N/A    \r"
    "size=     863kB time=00:00:17.44 bitrate= 405.0kbits/s speed=83.1x    \n"
    "video:0kB audio:854kB subtitle:0kB other streams:0kB global headers:0kB muxing overhead: 0.947201%\n"
    "Exiting normally, received signal 15.\n";

// The source's name is the start of the result's, which goes on over a line like a failure.
const std::string kNameInsideAName =
    "Input #0, wav, from 'q\nx':\n"
    "  Duration: 00:00:01.00, bitrate: 706 kb/s\n"
    "Output #0, mp3, to 'out/q\nx\nDisk quota exceeded.mp3':\n"
    "size=      17kB time=00:00:01.01 bitrate= 137.9kbits/s speed=52.6x    \n"
    "video:0kB audio:17kB subtitle:0kB other streams:0kB global headers:0kB muxing overhead: 1.7%\n";

TEST(Transcoder, VerdictFromTheTranscodersOwnMessages) {
  const int exit0 = W_EXITCODE(0, 0), exit1 = W_EXITCODE(1, 0), exit255 = W_EXITCODE(255, 0);
  const int killed = W_EXITCODE(0, SIGKILL);
  const struct {
    const char* what;
    const std::string& output;
    std::vector<std::string> paths;  // as the command names them
    int waitStatus;
    bool succeeded;
    bool writeFailed;
    bool invalidArgument;
    std::int64_t durationMs;  // -1: no duration found
    std::int64_t positionMs;
  } cases[] = {
      {"a name like a write failure", kEchoedName, {"No space left on device.wav", "out/No space left on device.mp3"},
       exit0, true, false, false, 1000, 1010},
      {"the same without its names", kEchoedName, {}, exit0, true, false, false, 1000, 1010},
      {"tags like its messages", kEchoedTags, {"tagged.mp3", "out/Conversion failed.mp3"}, exit0, true, false, false,
       1040, 1010},
      {"names with line breaks", kBrokenLineNames,
       {"a\nConversion failed!\nb.wav", "out/time=09:00:00.00 a\nInvalid argument\nvideo:0kB muxing overhead: 1%.mp3"},
       exit0, true, false, false, 1000, 1010},
      {"a name with line breaks inside another", kNameInsideAName, {"q\nx", "out/q\nx\nDisk quota exceeded.mp3"},
       exit0, true, false, false, 1000, 1010},
      {"statistics, then no exit status 0", kEchoedName, {}, exit1, false, false, false, 1000, 1010},
      {"statistics, then killed", kEchoedName, {}, killed, false, false, false, 1000, 1010},
      {"statistics, then the file could not be closed", kFailedCloseAfterSummary,
       {"No space left on device.wav", "/dev/full"}, exit0, false, true, false, 1000, 1010},
      {"a full disk", kFullDisk, {"long.wav", "mnt/x.mp3"}, exit1, false, true, false, 20000, 16450},
      {"a bad filter", kBadFilter, {"long.wav", "out/bad.mp3"}, exit1, false, false, true, 20000, 0},
      {"no output format", kNoOutputFormat, {"/tmp/rcap/No space left on device.wav", "/tmp/rcap/out/never"}, exit1,
       false, false, true, 1000, 0},
      {"a missing input named like a failure", "Invalid argument.wav: No such file or directory\n",
       {"Invalid argument.wav", "out/x.mp3"}, exit1, false, false, false, -1, 0},
      {"terminated", kTerminated, {"long.wav", "out/slow.flac"}, exit255, false, false, false, 20000, 17440},
  };
  for (const auto& c : cases) {
    // However the pipe cuts the output into blocks.
    for (size_t block : {size_t{1}, size_t{7}, size_t{100}, size_t{4095}}) {
      SCOPED_TRACE(std::string(c.what) + ", blocks of " + std::to_string(block));
      OutputParser parser(c.paths);
      for (size_t at = 0; at < c.output.size(); at += block) parser.Feed(c.output.substr(at, block));
      parser.Finish();
      const TranscoderReport& report = parser.Report();
      EXPECT_EQ(RunSucceeded(report, c.waitStatus), c.succeeded);
      EXPECT_EQ(report.writeFailed, c.writeFailed);
      EXPECT_EQ(report.invalidArgument, c.invalidArgument);
      EXPECT_EQ(report.durationFound ? report.durationMs : -1, c.durationMs);
      EXPECT_EQ(report.positionMs, c.positionMs);
    }
  }
  // A zero byte ends the text of its block.
  EXPECT_EQ(
      ReadTranscoderOutput(std::string("Input #0, wav, from 'a':\n  Duration: 00:00:10.00\0garbage\n", 55))
          .durationMs,
      10000);
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
  // Clock texts of any size keep their sign (no wrap-around) and order.
  EXPECT_EQ(ParseClockText("01:02:03.04"), 3723040);
  for (const char* huge : {"10000000000000:00:00.00", "99999999999999999999:59:59.99"}) {
    EXPECT_GE(ParseClockText(huge), ParseClockText("10000000000:00:00.00")) << huge;
    EXPECT_LE(ParseClockText(std::string("-") + huge), 0) << huge;
  }
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
  bool ended = false;
  FailureReason reason = FailureReason::None;
  std::string tail;
  int runId = 0;
  pid_t pid = -1;
};

// Runs a command to its final message and waits a little for stray messages after it. after,
// when given, gets the run's handle once the first progress arrived.
RunResult RunToEnd(const CommandLine& cmd, int taskId = 7, OperationKind kind = OperationKind::Convert,
                   const std::function<void(TranscoderRun&)>& after = nullptr) {
  test::QueueSink sink;
  RunResult r;
  const auto run = StartTranscoder(cmd, taskId, kind, &sink);
  EXPECT_TRUE(run) << cmd.text;
  if (!run) return r;
  r.pid = run->Pid();
  if (after) {
    EXPECT_TRUE(sink.WaitFor(WM_TASK_PROGRESS, std::chrono::seconds(30)).has_value());
    after(*run);
  }
  auto final = sink.WaitMatch([](const Message& m) { return m.id == WM_TASK_DONE || m.id == WM_TASK_FAILED; },
                              std::chrono::seconds(60));
  EXPECT_TRUE(run->Finished());
  EXPECT_TRUE(final.has_value()) << cmd.text;
  if (!final) return r;
  r.finalId = final->id;
  EXPECT_EQ(final->runId, run->RunId());
  r.runId = final->runId;
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
    r.ended = failed->ended;
    r.reason = failed->reason;
    r.tail = failed->outputTail;
  }
  for (auto& m : sink.DrainAfterQuiet(std::chrono::milliseconds(300), std::chrono::seconds(2))) {
    if (m.id == WM_TASK_PROGRESS) ++r.progress;
    if (m.id == WM_TASK_DONE || m.id == WM_TASK_FAILED) ++r.finals;
  }
  r.finals += 1;
  return r;
}

TEST(Transcoder, RealRunsEndInExactlyOneVerdictAndFailuresLeaveNoResult) {
  const std::string in = test::ToneWav(5);
  const std::string dir = test::TempDir();
  {
    auto r = RunToEnd(Ffmpeg({"-i", in, "-c:a", "libmp3lame", dir + "/ok.mp3"}));
    EXPECT_EQ(r.finalId, WM_TASK_DONE);
    EXPECT_EQ(r.finals, 1);
    EXPECT_GE(r.lastPercent, 99);
    EXPECT_NEAR(test::Probe(dir + "/ok.mp3").durationSec, 5.0, 0.1);
  }
  const auto okBefore = fs::last_write_time(dir + "/ok.mp3");
  const std::string longName = dir + "/" + std::string(250, 'n') + "-变速-20240101120000.mp3";
  test::SmallDisk full(64 * 1024);
  ASSERT_TRUE(full.Ok()) << full.Why();
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::string output;  // "" when it names no file of the test's
    FailureReason reason;
  } failing[] = {
      {"Conversion failed",
       {"-i", in, "-c:a", "libmp3lame", "-ar", "12345", dir + "/bad-rate.mp3"},
       dir + "/bad-rate.mp3",
       FailureReason::Failed},
      {"Invalid argument then Conversion failed",
       {"-i", in, "-af", "volume=abc", dir + "/bad-filter.mp3"},
       dir + "/bad-filter.mp3",
       FailureReason::Failed},
      {"missing input",
       {"-i", dir + "/missing.wav", dir + "/never.mp3"},
       dir + "/never.mp3",
       FailureReason::NoSuchFile},
      {"no verdict text at all",
       {"-i", in, "-ss", "abc", dir + "/bad-ss.mp3"},
       dir + "/bad-ss.mp3",
       FailureReason::Failed},
      {"unknown option",
       {"-i", in, "-no-such-option", "1", dir + "/unknown.mp3"},
       dir + "/unknown.mp3",
       FailureReason::Failed},
      // A full disk: the transcoder prints its summary and exits 0 all the same.
      {"no space left",
       {"-y", "-i", test::ToneWav(30), full.Path() + "/full.mp3"},
       full.Path() + "/full.mp3",
       FailureReason::DiskFull},
      {"text named like sound",
       {"-i", test::TextNamedMp3(), dir + "/from-text.wav"},
       dir + "/from-text.wav",
       FailureReason::Unreadable},
      {"a video without sound",
       {"-i", test::VideoWithoutSound(1), "-vn", dir + "/silent.mp3"},
       dir + "/silent.mp3",
       FailureReason::NoSound},
      {"a filter on sound that is not there",
       {"-i", test::VideoWithoutSound(1), "-filter_complex", "[0:a]volume=2[a]", "-map", "[a]",
        dir + "/f.mp3"},
       dir + "/f.mp3",
       FailureReason::NoSound},
      {"an output folder that is gone", {"-i", in, dir + "/gone/x.mp3"}, "", FailureReason::WriteFailed},
  };
  for (const auto& f : failing) {
    auto r = RunToEnd(Ffmpeg(f.args));
    EXPECT_EQ(r.finalId, WM_TASK_FAILED) << f.what;
    EXPECT_EQ(r.finals, 1) << f.what;
    EXPECT_EQ(r.writeFailed,
              std::string(f.what) == "no space left" || std::string(f.what) == "a result name too long")
        << f.what;
    EXPECT_EQ(r.reason, f.reason) << f.what << ": " << r.tail;
    // The tooltip's words are the transcoder's last lines.
    EXPECT_FALSE(r.tail.empty()) << f.what;
    EXPECT_LE(std::count(r.tail.begin(), r.tail.end(), '\n'), int(OutputParser::kTailLines) - 1) << f.what;
    // ... not the banner of how the transcoder was built.
    EXPECT_EQ(r.tail.find("libav"), std::string::npos) << f.what << ": " << r.tail;
    if (!f.output.empty()) {
      EXPECT_FALSE(fs::exists(f.output)) << f.what;
    }
  }
  // A name longer than the file system takes loses the middle of its stem, never its end.
  EXPECT_EQ(RunToEnd(Ffmpeg({"-i", in, longName})).finalId, WM_TASK_DONE);
  const auto shortened = test::FileNames(dir);
  EXPECT_EQ(std::count_if(shortened.begin(), shortened.end(),
                          [](const std::string& n) {
                            const std::string end = "-变速-20240101120000.mp3";
                            return n.size() == 255 && n.rfind(std::string(200, 'n'), 0) == 0 &&
                                   n.substr(n.size() - end.size()) == end;
                          }),
            1);
  // A result the failed runs never touched stays; so does the input, and no partial file.
  EXPECT_EQ(fs::last_write_time(dir + "/ok.mp3"), okBefore);
  for (const std::string& folder : {dir, full.Path()})
    for (const std::string& name : test::FileNames(folder)) EXPECT_FALSE(IsPartialName(name)) << name;
  EXPECT_NEAR(test::Probe(in).durationSec, 5.0, 0.05);
}

TEST(Transcoder, AnEndNobodyCanReadIsNoSuccess) {
  // Children reaped by the system (SIGCHLD ignored): a child that wrote its result, printed the
  // closing statistics and exited 3 must not count as done.
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGCHLD, &ignore, &old), 0);
  const std::string dir = test::TempDir();
  const CommandLine fake{
      "fake",
      {"/bin/sh", "-c", "echo sound > \"$0\"; echo 'audio:1kB muxing overhead: 0.1%'; exit 3",
       dir + "/x.mp3"}};
  auto r = RunToEnd(fake);
  sigaction(SIGCHLD, &old, nullptr);
  EXPECT_EQ(r.finalId, WM_TASK_FAILED);
  EXPECT_TRUE(test::FileNames(dir).empty());
}

TEST(Transcoder, AnEndedRunFailsAndLeavesNoResult) {
  const std::string dir = test::TempDir();
  const std::string in = dir + "/long.mp3";
  fs::copy_file(test::MakeMedia("long-20min-16k.mp3",
                                {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=16000:duration=1200",
                                 "-ac", "1", "-c:a", "libmp3lame", "-b:a", "16k"}),
                in);
  const auto inputSize = fs::file_size(in);
  const std::string out = dir + "/long.flac";
  pid_t child = -1;
  auto r = RunToEnd(Ffmpeg({"-i", in, "-af", "atempo=0.5,atempo=0.5", out}), 3, OperationKind::Speed,
                    [&](TranscoderRun& run) {
                      child = run.Pid();
                      // Under way, under its partial name.
                      const auto names = test::FileNames(dir);
                      EXPECT_EQ(std::count_if(names.begin(), names.end(),
                                              [](const std::string& n) { return IsPartialName(n); }),
                                1);
                      run.End();
                    });
  EXPECT_EQ(r.finalId, WM_TASK_FAILED);
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.reason, FailureReason::Cancelled);
  EXPECT_EQ(test::FileNames(dir), std::vector<std::string>{"long.mp3"});
  EXPECT_EQ(fs::file_size(in), inputSize);
  EXPECT_NE(kill(child, 0), 0) << "the child is gone";
}

TEST(Transcoder, AFullDiskLeavesNoResult) {
  // The disk fills at the header, in the middle and near the end of a 3.5 MB result.
  for (const size_t bytes : {4096, 256 * 1024, 3400 * 1024}) {
    test::SmallDisk disk(bytes);
    if (!disk.Ok()) GTEST_SKIP() << disk.Why();
    const std::string out = disk.Path() + "/full.wav";
    auto r = RunToEnd(Ffmpeg({"-i", test::ToneWav(20), out}));
    EXPECT_EQ(r.finalId, WM_TASK_FAILED) << bytes;
    EXPECT_TRUE(r.writeFailed) << bytes;
    EXPECT_TRUE(fs::is_empty(disk.Path())) << bytes;
  }
}

TEST(Transcoder, AnIoErrorFailsTheRunAndLeavesNoResult) {
  using Op = test::FailingDisk::Op;
  // Source and result on a disk that fails: writing the result at its header, in the middle and
  // near the end of its 3.5 MB, or reading the source half-way.
  const struct {
    Op op;
    const char* file;
    size_t afterBytes;
    FailureReason reason;
  } cases[] = {{Op::Write, ".part.wav", 0, FailureReason::WriteFailed},  // the result, as it is written
               {Op::Write, ".part.wav", 256 * 1024, FailureReason::WriteFailed},
               {Op::Write, ".part.wav", 3400 * 1024, FailureReason::WriteFailed},
               {Op::Read, "source", 1024 * 1024, FailureReason::Unreadable}};
  const std::string source = test::ToneWav(20);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.op == Op::Write ? "write" : "read") + " fails after " +
                 std::to_string(c.afterBytes));
    test::FailingDisk disk;
    if (!disk.Ok()) GTEST_SKIP() << disk.Why();
    fs::copy_file(source, disk.Backing() + "/source.wav");
    disk.Fail(c.op, c.file, c.afterBytes);
    auto r = RunToEnd(Ffmpeg({"-i", disk.Path() + "/source.wav", disk.Path() + "/result.wav"}));
    EXPECT_GT(disk.Failures(), 0) << "the fault was met";
    EXPECT_EQ(r.finalId, WM_TASK_FAILED);
    EXPECT_EQ(r.reason, c.reason);
    EXPECT_EQ(test::FileNames(disk.Backing()), std::vector<std::string>{"source.wav"});
    EXPECT_EQ(test::ReadBytes(disk.Backing() + "/source.wav"), test::ReadBytes(source))
        << "the source is untouched";
  }
}

TEST(Transcoder, AChildKilledAtAnyPointFailsAndLeavesNoResult) {
  const std::string dir = test::TempDir();
  const std::string in = test::MakeMedia(
      "long-20min-16k.mp3", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=16000:duration=1200", "-ac",
                             "1", "-c:a", "libmp3lame", "-b:a", "16k"});
  const auto inputSize = fs::file_size(in);
  std::mt19937 random(18);  // fixed: a failure names its point
  for (int i = 0; i < 6; ++i) {
    const int delayMs = std::uniform_int_distribution<int>(0, 400)(random);
    SCOPED_TRACE("killed after " + std::to_string(delayMs) + " ms");
    const std::string out = dir + "/killed.flac";
    test::QueueSink sink;
    const auto run =
        StartTranscoder(Ffmpeg({"-i", in, "-af", "atempo=0.5", out}), 9, OperationKind::Speed, &sink);
    ASSERT_TRUE(run);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));  // the point of the kill
    kill(run->Pid(), SIGKILL);
    auto final =
        sink.WaitMatch([](const Message& m) { return m.id == WM_TASK_DONE || m.id == WM_TASK_FAILED; },
                       std::chrono::seconds(30));
    ASSERT_TRUE(final.has_value());
    EXPECT_EQ(final->id, WM_TASK_FAILED);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(fs::file_size(in), inputSize);
  }
}

// The transcoder prints every input's name and tags; names and tags that carry its own message
// texts must not change the verdict or the progress.
TEST(Transcoder, HostileFileNamesAndTagsReachTheChildUnharmed) {
  const std::string dir = test::TempDir();
  std::vector<std::string> inputs;
  for (const std::string& name : test::HostileNames()) {
    inputs.push_back(dir + "/" + name);
    fs::copy_file(test::ToneWav(1), inputs.back());
  }
  inputs.push_back(test::TaggedWithTranscoderTexts());
  for (const std::string& in : inputs) {
    SCOPED_TRACE(in);
    const std::string out = dir + "/out " + fs::path(in).filename().string() + ".mp3";
    auto r = RunToEnd(Ffmpeg({"-i", in, "-c:a", "libmp3lame", out}));
    EXPECT_EQ(r.finalId, WM_TASK_DONE);
    EXPECT_GE(r.lastPercent, 99);
    EXPECT_NEAR(test::DecodedSeconds(out), test::DecodedSeconds(in), 0.1);
  }
  EXPECT_FALSE(fs::exists("pwned"));
  EXPECT_FALSE(fs::exists(dir + "/pwned"));
}

TEST(Transcoder, StartFailuresPostNothing) {
  test::QueueSink sink;
  CommandLine missing{"/no/such/ffmpeg -i x", {"/no/such/ffmpeg", "-i", "x"}};
  int error = 0;
  EXPECT_EQ(StartTranscoder(missing, 1, OperationKind::Convert, &sink, 0, &error), nullptr);
  EXPECT_EQ(ReasonOfStartError(error), FailureReason::TranscoderMissing);
  CommandLine empty;
  EXPECT_EQ(StartTranscoder(empty, 1, OperationKind::Convert, &sink), nullptr);
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
