// Runs the built tunewell-cli program on generated media and checks what it writes, what it
// prints and how it exits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <thread>

#include "app/SettingsFile.h"
#include "tests/support/CliRunner.h"
#include "tests/support/PrivatePulse.h"
#include "tests/support/TestEnv.h"
#include "tests/support/TestMedia.h"

namespace fs = std::filesystem;

namespace tw {
namespace {

// The program's settings and default folders live in a private home for this process.
const std::string kHome = test::PrivateHome();

using test::ProcessResult;

// The command line's own words are read in English unless env names another language; those of
// the pages it shares are read in Chinese, their source (BadInputGetsAClearErrorAndLosesNothing).
ProcessResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                     const std::string& cwd = "") {
  test::SpawnOptions options;
  options.env = env;
  if (std::none_of(env.begin(), env.end(), [](const std::string& e) { return e.rfind("LANGUAGE=", 0) == 0; }))
    options.env.push_back("LANGUAGE=en");
  options.cwd = cwd;
  return test::RunCli(args, options);
}

// Runs args with the results going to outDir.
ProcessResult RunInto(const std::string& outDir, std::vector<std::string> args) {
  args.insert(args.begin() + 1, {"--output-dir", outDir});
  return RunCli(args);
}

test::Process StartInEnglish(const std::vector<std::string>& args, test::SpawnOptions options = {}) {
  options.env.push_back("LANGUAGE=en");
  return test::StartCli(args, options);
}

std::string Copy(const std::string& source, const std::string& folder, const std::string& name) {
  const std::string path = folder + "/" + name;
  fs::copy_file(source, path, fs::copy_options::overwrite_existing);
  return path;
}

// A name against a pattern where "#" is one ASCII digit and "*" any run of bytes.
bool Like(const std::string& name, const std::string& pattern, size_t n = 0, size_t p = 0) {
  if (p == pattern.size()) return n == name.size();
  if (pattern[p] == '*') {
    for (size_t k = n; k <= name.size(); ++k) {
      if (Like(name, pattern, k, p + 1)) return true;
    }
    return false;
  }
  if (n == name.size()) return false;
  if (pattern[p] == '#') return name[n] >= '0' && name[n] <= '9' && Like(name, pattern, n + 1, p + 1);
  return name[n] == pattern[p] && Like(name, pattern, n + 1, p + 1);
}

int CountLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

using test::LongMp3;

// ---------------------------------------------------------------------------------------------

TEST(TunewellCli, EverySubcommandOnGeneratedMedia) {
  const std::string tone = test::ToneWav(4);
  const std::string tone2 = test::ToneWav(2, 880);
  const std::string noise = test::NoiseWav(3);
  const std::string video = test::VideoWithSound(3);
  const std::string stamp = "##############";
  const double peak = test::MeasureLevel(tone).maxDb;
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::string namePattern;  // the result's file name ("#" a digit, "*" anything)
    double duration;
    std::string codec;
    int channels = 0;  // 0: not checked
    int rate = 0;      // 0: not checked
    double at = 0, peakDb = 0;  // the peak from at on: within 2 dB, or at most peakDb if that is -30 or less; 0: unchecked
    const char* note = "";  // what the run tells of the result; "" for nothing
  } cases[] = {
      {"convert", {"convert", "--format", "mp3", tone}, "tone-4s-440hz-44100-2ch.mp3", 4, "mp3", 2, 0},
      {"convert options", {"convert", "--format", "wav", "--channels", "1", "--rate", "22050", tone},
       "tone-4s-440hz-44100-2ch.wav", 4, "pcm_s16le", 1, 22050},
      {"convert video sound", {"convert", "--format", "m4a", video}, "video-sound-3s.m4a", 3, "aac"},
      // Of two tracks the default one (880 Hz) is kept, and the run says so.
      {"convert two tracks", {"convert", "--format", "wav", test::TwoAudioStreams()}, "two-audio-streams-second-default.wav", 4,
       "pcm_s16le", 0, 0, 0, 0, "kept sound track 2 of 2"},
      // Its header claims 136 s: the 30 s it holds are the whole of it.
      {"convert VBR without its header", {"convert", "--format", "wav", test::VbrMp3WithoutHeader()}, "vbr-no-xing.wav",
       30, "pcm_s16le"},
      {"merge in order", {"merge", "--format", "wav", tone, tone2}, "合并-" + stamp + ".wav", 6, "pcm_s16le"},
      {"speed", {"speed", "--factor", "2.0", tone}, "tone-4s-440hz-44100-2ch-变速-" + stamp + ".wav", 2, "pcm_s16le", 2},
      {"speed slider value", {"speed", "--factor", "0.8", tone}, "*-变速-" + stamp + ".wav", 5, "pcm_s16le"},
      {"extract", {"extract", "--format", "mp3", video}, "video-sound-3s-提取-" + stamp + ".mp3", 3, "mp3"},
      // Equal channels cancel: the accompaniment of a centred tone is silence.
      {"extract accompaniment", {"extract", "--format", "wav", "--accompaniment", tone}, "*-提取-" + stamp + ".wav", 4,
       "pcm_s16le", 1, 0, 0, -60},
      {"volume", {"volume", "--factor", "0.5", "--fade-in", "0,1", tone}, "*-声音调整-" + stamp + ".wav", 4,
       "pcm_s16le", 2, 0, 1.5, peak - 6.02},
      {"fade-out ends in silence", {"volume", "--factor", "1", "--fade-out", "0,2", tone},
       "*-声音调整-" + stamp + ".wav", 4, "pcm_s16le", 2, 0, 3.9, -30},
      {"bgmusic", {"bgmusic", "--music", noise, "--level", "-6", "--delay", "1", tone}, "*-背景音乐-" + stamp + ".wav",
       4, "pcm_s16le"},
      {"bgmusic loop", {"bgmusic", "--music", tone2, "--loop", tone}, "*-背景音乐-" + stamp + ".wav", 4, "pcm_s16le"},
      {"cut", {"cut", "--from", "00:00:01.00", "--to", "00:00:03.50", tone}, "*-剪辑-" + stamp + ".wav", 2.5,
       "pcm_s16le"},
      {"cut of a video", {"cut", "--from", "0:0:0.50", "--to", "0:0:2.50", video},
       "video-sound-3s-剪辑-" + stamp + ".mp3", 2, "mp3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string outDir = test::TempDir();
    const ProcessResult r = RunInto(outDir, c.args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const auto files = test::FileNames(outDir);
    ASSERT_EQ(files.size(), 1u) << r.out << r.err;
    EXPECT_TRUE(Like(files[0], c.namePattern)) << files[0];
    EXPECT_NE(r.out.find("done: " + outDir + "/" + files[0]), std::string::npos) << r.out;
    const test::MediaInfo info = test::Probe(outDir + "/" + files[0]);
    ASSERT_TRUE(info.ok);
    EXPECT_NEAR(info.durationSec, c.duration, 0.15);
    EXPECT_EQ(info.CountType("video"), 0);
    ASSERT_NE(info.First("audio"), nullptr);
    EXPECT_EQ(info.First("audio")->codecName, c.codec);
    if (c.channels) EXPECT_EQ(info.First("audio")->channels, c.channels);
    if (c.rate) EXPECT_EQ(info.First("audio")->sampleRate, c.rate);
    if (*c.note) {
      EXPECT_NE((r.out + r.err).find(c.note), std::string::npos) << r.out << r.err;
      EXPECT_GT(test::BandLevelDb(outDir + "/" + files[0], 850, 910), test::BandLevelDb(outDir + "/" + files[0], 410, 470) + 20);
    } else {
      EXPECT_EQ((r.out + r.err).find("sound track"), std::string::npos) << r.out << r.err;
    }
    const double measured = test::MeasureLevel(outDir + "/" + files[0], c.at).maxDb;
    if (c.peakDb <= -30) EXPECT_LE(measured, c.peakDb);
    if (c.peakDb > -30 && c.peakDb != 0) EXPECT_NEAR(measured, c.peakDb, 2);
  }
}

TEST(TunewellCli, ProbeShowsSizeAndDurationAsTheLists) {
  const std::string folder = test::TempDir();
  const std::string a = Copy(test::ToneWav(5), folder, "a.wav");
  const std::string b = Copy(test::ToneMp3(3), folder, "b.mp3");
  const ProcessResult r = RunCli({"probe", "a.wav", b}, {}, folder);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  // 882044 bytes of PCM and about 48 KB of MP3.
  EXPECT_EQ(r.out, a + "\t" + "861KB" + "\t00:00:05\n" + b + "\t" + "47KB" + "\t00:00:03\n");
  EXPECT_EQ(r.err, "");
}

TEST(TunewellCli, BadInputGetsAClearErrorAndLosesNothing) {
  const std::string folder = test::TempDir();
  const std::string tone = Copy(test::ToneWav(2), folder, "tone.wav");
  const std::string ncm = Copy(test::ToneWav(2), folder, "song.ncm");
  Copy(test::ToneWav(2), folder, "notes.txt");
  const std::string missing = folder + "/missing.wav";
  const struct {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::vector<std::string> errorParts;  // each on its own stderr line
  } cases[] = {
      {"text file",
       {"convert", "--format", "mp3", test::TextNamedMp3()},
       1,
       {"text-named.mp3: not an audio or video file that can be read"}},
      {"empty file", {"probe", test::EmptyMp3()}, 1, {"empty.mp3: not an audio or video file"}},
      {"missing file", {"speed", "--factor", "1.5", missing}, 1, {"missing.wav: no such file"}},
      {"folder", {"volume", "--factor", "2", folder}, 1, {"is a folder"}},
      {"video without sound", {"extract", "--format", "mp3", test::VideoWithoutSound(2)}, 1, {"has no sound track"}},
      {"file type the lists refuse",
       {"convert", "--format", "wav", ncm},
       1,
       {"song.ncm: this file type is not supported"}},
      {"good and bad files",
       {"convert", "--format", "mp3", missing, tone, test::TextNamedMp3()},
       1,
       {"missing.wav: no such file", "text-named.mp3: not an audio"}},
      {"merge with a bad file", {"merge", "--format", "mp3", tone, missing}, 1, {"missing.wav: no such file"}},
      {"bad time text", {"cut", "--from", "00:60:00.00", "--to", "00:00:01.00", tone}, 2, {"开始时间格式错误!"}},
      {"bad end text", {"cut", "--from", "00:00:00.00", "--to", "1.5", tone}, 2, {"结束时间格式错误!"}},
      {"start beyond the file",
       {"cut", "--from", "00:00:09.00", "--to", "00:00:10.00", tone},
       1,
       {"tone.wav: 开始时间超出文件长度! (00:00:02.00)"}},
      {"end beyond the file",
       {"cut", "--from", "00:00:01.00", "--to", "00:00:03.00", tone},
       1,
       {"tone.wav: 结束时间超出文件长度! (00:00:02.00)"}},
      {"a stretch of no length", {"cut", "--from", "0:0:1.0", "--to", "0:0:1.0", tone}, 1, {"开始时间必须早于结束时间!"}},
      {"a reversed stretch", {"cut", "--from", "0:0:1.5", "--to", "0:0:0.5", tone}, 1, {"开始时间必须早于结束时间!"}},
      {"nothing chosen", {"cut", "--from", "00:00:00.00", "--to", "0:0:0.0", tone}, 2, {"请选取要截取位置!"}},
      {"unknown option", {"convert", "--format", "mp3", "--quality", "9", tone}, 2, {"unknown option '--quality'"}},
      {"unknown command", {"transcode", tone}, 2, {"unknown command"}},
      {"bad format", {"convert", "--format", "../x", tone}, 2, {"输出格式无效!"}},
      {"fade text", {"volume", "--factor", "1", "--fade-in", "a,2", tone}, 2, {"淡入起始位置只能输入数字!"}},
      {"empty fade", {"volume", "--factor", "1", "--fade-out", "1, ", tone}, 2, {"淡出时长不能为空!"}},
      {"no music", {"bgmusic", tone}, 2, {"请先选择背景音乐文件!"}},
      {"music start text", {"bgmusic", "--music", tone, "--delay", "2s", tone}, 2, {"起始位置只能输入数字!"}},
      {"music start beyond a day",
       {"bgmusic", "--music", tone, "--delay", "99999999999999999999", tone},
       2,
       {"起始位置应在 0 到 86400 秒之间!"}},
      {"music level out of range",
       {"bgmusic", "--music", tone, "--level", "99999999999", tone},
       2,
       {"--level 取 -100 到 100 的整数（dB）"}},
      {"music level text", {"bgmusic", "--music", tone, "--level", "loud", tone}, 2, {"--level 取 -100 到 100 的整数（dB）"}},
      {"missing music", {"bgmusic", "--music", missing, tone}, 2, {"--music " + missing + ": no such file"}},
      // Options that would do nothing.
      {"speed unchanged", {"speed", "--factor", "1.0", tone}, 2, {"速度为1.0倍,结果会与源文件相同!"}},
      {"speed unchanged in hundredths", {"speed", "--factor", "1.004", tone}, 2, {"速度为1.0倍"}},
      {"volume unchanged", {"volume", "--factor", "1.001", tone}, 2, {"音量为1.0倍且没有淡入淡出,结果会与源文件相同!"}},
      {"music after the end", {"bgmusic", "--music", tone, "--delay", "2", tone}, 1, {"起始位置超出了文件的长度(2.0 秒)!"}},
      {"fade-out past the end", {"volume", "--factor", "1", "--fade-out", "3,1", tone}, 1, {"淡出超出了文件的长度(2.0 秒)!"}},
      {"fade-in past the end", {"volume", "--factor", "1", "--fade-in", "2,1", tone}, 1, {"淡入超出了文件的长度(2.0 秒)!"}},
      {"fade-out ending past the end", {"volume", "--factor", "1", "--fade-out", "1,3", tone}, 1, {"淡出超出了文件的长度"}},
      {"fade-in longer than the file",
       {"volume", "--factor", "1", "--fade-in", "0,99999999999999999999", tone},
       1,
       {"淡入超出了文件的长度"}},
      {"a video format for a sound", {"denoise", "--format", "mkv", tone}, 1, {"tone.wav: --format mkv 只用于视频文件"}},
      {"a sound format for a video",
       {"denoise", "--format", "mp3", test::VideoWithSound(2)},
       1,
       {"--format mp3 只用于音频文件"}},
      // A header claiming 1.36 GHz made the resamplers build filters of millions of taps (seconds
      // and a gigabyte for a file of 258 bytes); one claiming 10 Hz stretches each byte of it
      // into a tenth of a second to read.
      {"a header claiming 1.36 GHz: waveform",
       {"waveform", test::WavClaimingRate(1358962496)},
       1,
       {"rate-1358962496.wav: has no sound that can be read"}},
      {"a header claiming 1.36 GHz: denoise",
       {"denoise", test::WavClaimingRate(1358962496)},
       1,
       {"rate-1358962496.wav: the denoiser could not open the file"}},
      {"a header claiming 10 Hz: waveform",
       {"waveform", test::WavClaimingRate(10)},
       1,
       {"rate-10.wav: has no sound that can be read"}},
      {"a tag claiming 2 GB", {"probe", test::WavWithHugeTag()}, 1, {"huge-tag.wav: not an audio or video file"}},
      {"a tag claiming 2 GB: waveform",
       {"waveform", test::WavWithHugeTag()},
       1,
       {"huge-tag.wav: not an audio or video file"}},
      {"output folder is a file", {"convert", "--format", "mp3", "--output-dir", tone, tone}, 2, {"not a folder"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string outDir = test::TempDir();
    const auto before = test::FileNames(folder);
    std::vector<std::string> args = c.args;
    if (std::find(args.begin(), args.end(), "--output-dir") == args.end()) {
      args.insert(args.begin() + 1, {"--output-dir", outDir});
    }
    const bool pageWords = std::any_of(c.errorParts.begin(), c.errorParts.end(), [](const std::string& part) {
      return std::any_of(part.begin(), part.end(), [](char ch) { return (ch & 0x80) != 0; });
    });
    const ProcessResult r = RunCli(args, {pageWords ? "LANGUAGE=zh_CN" : "LANGUAGE=en"});
    EXPECT_EQ(r.exitStatus, c.status) << r.err;
    // What a file claims is not taken at its word: a few hundred bytes never cost gigabytes.
    EXPECT_LT(r.peakMemoryKb, 400 * 1024);
    EXPECT_EQ(CountLines(r.err), static_cast<int>(c.errorParts.size())) << r.err;
    for (const auto& part : c.errorParts) EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind("tunewell-cli: ", 0), 0u) << r.err;
    EXPECT_EQ(test::FileNames(folder), before);
    const auto made = test::FileNames(outDir);
    if (c.what == std::string("good and bad files")) {
      EXPECT_EQ(made, std::vector<std::string>{"tone.mp3"});
    } else {
      EXPECT_TRUE(made.empty()) << made.front();
    }
  }
}

// Names after "--" are files, relative to the working folder, whatever they look like. (How
// names reach the transcoder is one table in the commands' tests.)
TEST(TunewellCli, NamesAfterTheSeparatorAreJustNames) {
  const std::string folder = test::TempDir();
  const std::string outDir = test::TempDir();
  // The shared hostile names (relative, from the folder: a protocol-like prefix is not taken as
  // one), names that look like the program's own options, and a file whose tags read like the
  // transcoder's own messages, which it echoes, no more.
  std::vector<std::string> names = test::HostileNames();
  names.push_back("--jobs=9.wav");
  names.push_back("tagged.mp3");
  std::vector<std::string> args = {"convert", "--format", "mp3", "--output-dir", outDir, "--"};
  for (const auto& n : names) {
    Copy(n == "tagged.mp3" ? test::TaggedWithTranscoderTexts() : test::ToneWav(1), folder, n);
    args.push_back(n);
  }
  const ProcessResult r = RunCli(args, {}, folder);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // Each input has a result of its own, as long as the input, named after it.
  const std::vector<std::string> results = test::FileNames(outDir);
  EXPECT_EQ(results.size(), names.size());
  for (const auto& n : names) {
    SCOPED_TRACE(n);
    const std::string base = fs::path(n).stem().string();
    std::vector<std::string> own;
    std::copy_if(results.begin(), results.end(), std::back_inserter(own),
                 [&](const std::string& result) { return fs::path(result).stem() == base; });
    ASSERT_EQ(own.size(), 1u);
    EXPECT_NEAR(test::DecodedSeconds(outDir + "/" + own[0]), test::DecodedSeconds(folder + "/" + n), 0.1);
  }
  EXPECT_EQ(test::FileNames(folder).size(), names.size()) << "the sources are all kept";
  EXPECT_FALSE(fs::exists(folder + "/pwned"));
  // Without "--" a leading dash is taken for an option, and nothing runs.
  const ProcessResult dash =
      RunCli({"convert", "--format", "mp3", "--output-dir", outDir, "-dash.wav"}, {}, folder);
  EXPECT_EQ(dash.exitStatus, 2);
  EXPECT_NE(dash.err.find("after '--'"), std::string::npos) << dash.err;
}

TEST(TunewellCli, ANamedPipeIsRefusedAtOnce) {
  const std::string fifo = test::NamedPipe();
  const std::string folder = fs::path(fifo).parent_path().string();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"probe", fifo},
        {"convert", "--format", "wav", "--output-dir", folder, fifo}}) {
    SCOPED_TRACE(args[0]);
    test::Process p = StartInEnglish(args);
    EXPECT_TRUE(p.WaitExit(std::chrono::seconds(20))) << "still waiting on the pipe";
    const ProcessResult r = p.Stop(0);
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_NE(r.err.find("pipe.wav: is not a regular file"), std::string::npos) << r.err;
  }
  EXPECT_EQ(test::FileNames(folder), std::vector<std::string>{"pipe.wav"});
}

TEST(TunewellCli, JobsRunAtOnceUpToTheLimit) {
  const std::string folder = test::TempDir();
  // Long enough that a second run would start long before the first could end.
  const std::string a = Copy(test::ToneWav(60), folder, "a.wav");
  const std::string b = Copy(test::ToneWav(60), folder, "b.wav");
  const std::string c = Copy(test::ToneWav(60), folder, "c.wav");
  const struct {
    const char* jobs;
    int maxAtOnce;
  } cases[] = {{"1", 1}, {"2", 2}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.jobs);
    const std::string outDir = test::TempDir();
    const ProcessResult r =
        RunCli({"convert", "--format", "mp3", "--jobs", k.jobs, "--output-dir", outDir, a, b, c});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    int running = 0, peak = 0, started = 0;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      if (line.find(": started") != std::string::npos) peak = std::max(peak, ++running), ++started;
      if (line.find(": done: ") != std::string::npos) --running;
    }
    EXPECT_EQ(started, 3);
    EXPECT_EQ(peak, k.maxAtOnce) << r.out;
    EXPECT_EQ(test::FileNames(outDir), (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3"}));
  }
}

TEST(TunewellCli, SourcesSharingABaseNameNeverOverwriteEachOther) {
  // Sources with one base name, run at once, each give a result of their own; so does the same
  // source given twice, and a source converted into its own folder keeps its file.
  const std::string one = test::TempDir(), two = test::TempDir(), three = test::TempDir();
  const std::string a = Copy(test::ToneWav(3, 440), one, "x.wav");
  const std::string b = Copy(test::ToneWav(2, 880), two, "x.wav");
  const std::string c = Copy(test::ToneWav(1, 660), three, "x.wav");
  const std::string inPlace = test::TempDir();
  const std::string mp3 = Copy(test::ToneMp3(2, 440), inPlace, "x.mp3");
  const auto mp3Bytes = std::filesystem::file_size(mp3);
  const struct {
    const char* what;
    std::vector<std::string> args;  // the output folder is added
    std::string outDir;
    std::vector<double> seconds;  // of the results, in name order
  } cases[] = {
      {"convert", {"convert", "--format", "mp3", "--jobs", "3", a, b, a}, "", {2, 3, 3}},
      {"denoise", {"denoise", a, b, c}, "", {1, 2, 3}},
      {"convert into the source's folder", {"convert", "--format", "mp3", mp3}, inPlace, {2, 2}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    const std::string outDir = k.outDir.empty() ? test::TempDir() : k.outDir;
    const ProcessResult r = RunInto(outDir, k.args);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::vector<double> seconds;
    for (const std::string& name : test::FileNames(outDir)) {
      seconds.push_back(std::round(test::Probe(outDir + "/" + name).durationSec));
      // Each result's line names the name it took.
      if (outDir + "/" + name != mp3) {
        EXPECT_NE(r.out.find(": done: " + outDir + "/" + name), std::string::npos) << r.out;
      }
    }
    std::sort(seconds.begin(), seconds.end());
    EXPECT_EQ(seconds, k.seconds) << r.out;
  }
  EXPECT_EQ(std::filesystem::file_size(mp3), mp3Bytes);
  EXPECT_EQ(test::FileNames(inPlace), (std::vector<std::string>{"x-2.mp3", "x.mp3"}));
}

TEST(TunewellCli, InterruptEndsChildrenAndRemovesPartialOutputs) {
  const std::string folder = test::TempDir();
  const std::string outDir = test::TempDir();
  const std::string longFile = Copy(LongMp3(), folder, "long.mp3");
  const std::string other = Copy(LongMp3(), folder, "other.mp3");
  const std::string waiting = Copy(test::ToneWav(1), folder, "waiting.wav");
  // An earlier result in the folder that no run of this batch writes stays.
  std::ofstream(outDir + "/earlier.mp3") << "kept";
  test::Process p = StartInEnglish({"convert", "--format", "mp3", "--rate", "44100", "--channels", "2",
                                    "--jobs", "2", "--output-dir", outDir, longFile, other, waiting});
  std::vector<pid_t> children;
  const bool bothWriting = p.WaitFor(
      [&] {
        children = test::ChildrenOf(p.Pid());
        std::error_code ec;
        return children.size() == 2 && fs::file_size(outDir + "/long.mp3", ec) > 0 &&
               fs::file_size(outDir + "/other.mp3", ec) > 0;
      },
      std::chrono::seconds(30));
  ASSERT_TRUE(bothWriting) << p.Out() << p.Err();
  ASSERT_TRUE(p.Signal(SIGINT));
  const ProcessResult r = p.Finish();
  EXPECT_EQ(r.signal, SIGINT) << "exit " << r.exitStatus << ": " << r.err;
  EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("long.mp3: interrupted, partial output removed"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("waiting.wav: not started"), std::string::npos) << r.err;
  EXPECT_EQ(test::FileNames(outDir), std::vector<std::string>{"earlier.mp3"});
  for (pid_t child : children) EXPECT_FALSE(test::Alive(child)) << child;
  EXPECT_EQ(test::FileNames(folder), (std::vector<std::string>{"long.mp3", "other.mp3", "waiting.wav"}));
}

// Killed outright (no handler runs), the batch leaves no transcoder writing on.
TEST(TunewellCli, AKilledBatchLeavesNoTranscoderRunning) {
  test::Process p = StartInEnglish({"convert", "--format", "mp3", "--output-dir", test::TempDir(), LongMp3()});
  std::vector<pid_t> children;
  ASSERT_TRUE(p.WaitFor([&] { return (children = test::ChildrenOf(p.Pid())).size() == 1; }, std::chrono::seconds(30)));
  ASSERT_TRUE(p.Signal(SIGKILL));
  p.Finish();
  EXPECT_TRUE(test::PollUntil([&] { return !test::Alive(children[0]); }, std::chrono::seconds(20))) << children[0];
}

// A full disk: the transcoder still prints its closing statistics, but the result is cut off.
TEST(TunewellCli, FullDiskFailsTheFileAndLeavesNoResult) {
  const std::string mountPoint = test::TempDir();
  // A private mount namespace keeps the small file system away from everything else.
  if (test::RunProcess(
          {"unshare", "-m", "sh", "-c", "mount -t tmpfs -o size=64k tmpfs \"$0\"", mountPoint}) != 0) {
    GTEST_SKIP() << "no private mounts here";
  }
  const std::string script =
      "mount -t tmpfs -o size=300k tmpfs \"$0\" || exit 99; LANGUAGE=en \"$1\" convert --format wav "
      "--output-dir \"$0\" "
      "\"$2\"; rc=$?; echo \"listing:$(ls -A \"$0\")\"; exit $rc";
  std::string output;
  const int status = test::RunProcess(
      {"unshare", "-m", "sh", "-c", script, mountPoint, TW_CLI_PATH, test::ToneWav(20)}, &output);
  EXPECT_EQ(status, 1) << output;
  EXPECT_NE(
      output.find(
          "tone-20s-440hz-44100-2ch.wav: could not write the result (is the disk full?)"),
      std::string::npos)
      << output;
  EXPECT_NE(output.find("listing:\n"), std::string::npos) << output;
  EXPECT_EQ(output.find(": done: "), std::string::npos) << output;
}

TEST(TunewellCli, MissingTranscoderFailsEachFile) {
  const std::string outDir = test::TempDir();
  const std::string empty = test::TempDir();
  const ProcessResult r =
      RunCli({"convert", "--format", "mp3", "--output-dir", outDir, test::ToneWav(1), test::ToneWav(2)},
             {"PATH=" + empty});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(CountLines(r.err), 2) << r.err;
  EXPECT_NE(r.err.find("cannot start the transcoder"), std::string::npos) << r.err;
  EXPECT_TRUE(test::FileNames(outDir).empty());
}

TEST(TunewellCli, OutputFolderFollowsTheSettings) {
  // Without --output-dir the results go where the pages put them: "output-dir" when set,
  // otherwise Documents/Tunewell.
  fs::create_directories(kHome + "/Documents");
  const std::string chosen = test::TempDir() + "/from settings";
  const struct {
    const char* what;
    std::string setting;
    std::string folder;
  } cases[] = {
      {"default", "", kHome + "/Documents/Tunewell"},
      {"setting", chosen, chosen},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(SettingsFile::Instance().WriteString(kSettingsSection, kKeyOutputDir, c.setting));
    const ProcessResult r = RunCli({"cut", "--from", "00:00:00.50", "--to", "00:00:01.00", test::ToneMp3(2)});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const auto files = test::FileNames(c.folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(Like(files[0], "tone-2s-440hz-剪辑-##############.mp3")) << files[0];
    fs::remove(c.folder + "/" + files[0]);
  }
}

TEST(TunewellCli, TerminalShowsBarsInsteadOfLines) {
  const std::string outDir = test::TempDir();
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  winsize ws{};
  ws.ws_col = 70;
  ws.ws_row = 24;
  ioctl(master, TIOCSWINSZ, &ws);
  test::SpawnOptions options;
  options.terminal = master;
  test::Process p = StartInEnglish(
      {"convert", "--format", "mp3", "--output-dir", outDir, test::ToneWav(20), test::ToneWav(3)}, options);
  const ProcessResult r = p.Finish();
  close(master);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("] 100%"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\x1b[1A\x1b[2K"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("-> " + outDir + "/tone-20s-440hz-44100-2ch.mp3"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(": started"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
}

// ---- the in-process engines ------------------------------------------------------------------

TEST(TunewellCli, WaveformPrintsTheViewsValues) {
  const std::string tone = test::ToneWav(3);
  const ProcessResult plain = RunCli({"waveform", tone});
  ASSERT_EQ(plain.exitStatus, 0) << plain.err;
  EXPECT_EQ(plain.err, "");
  std::vector<long> values;
  std::istringstream lines(plain.out);
  for (std::string line; std::getline(lines, line);) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.find_first_not_of("-0123456789"), std::string::npos) << line;
    values.push_back(std::stol(line));
  }
  // About 8640 values of a sine of amplitude 1/8 (4096): never silent, never beyond 16 bits.
  EXPECT_GT(values.size(), 7000u);
  EXPECT_LT(values.size(), 9000u);
  EXPECT_GT(*std::max_element(values.begin(), values.end()), 2000);
  EXPECT_LT(*std::min_element(values.begin(), values.end()), -2000);
  EXPECT_LT(*std::max_element(values.begin(), values.end()), 4200);
  for (long v : values) ASSERT_LE(std::abs(v), 32768);

  // JSON: one object per file and line, the same values.
  const std::string other = test::ToneMp3(2);
  const ProcessResult json = RunCli({"waveform", "--json", tone, other, test::TextNamedMp3()});
  EXPECT_EQ(json.exitStatus, 1);
  EXPECT_NE(json.err.find("text-named.mp3: not an audio"), std::string::npos) << json.err;
  EXPECT_EQ(CountLines(json.out), 2) << json.out.substr(0, 300);
  EXPECT_NE(json.out.find("\"file\":\"" + tone + "\""), std::string::npos);
  EXPECT_NE(json.out.find("\"file\":\"" + other + "\""), std::string::npos);
  std::string joined;
  for (long v : values) joined += (joined.empty() ? "" : ",") + std::to_string(v);
  EXPECT_NE(json.out.find("\"values\":[" + joined + "]"), std::string::npos);
}

TEST(TunewellCli, DenoiseCleansAudioAndVideoFiles) {
  const std::string stamp = "##############";
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::string namePattern;
    int videoStreams;
  } cases[] = {
      {"audio", {"denoise", "--level", "3", test::NoiseWav(2)}, "noise-2s-噪声消除-" + stamp + ".mp3", 0},
      {"audio as aac",
       {"denoise", "--format", "aac", test::NoiseWav(2)},
       "noise-2s-噪声消除-" + stamp + ".aac",
       0},
      {"audio as m4a",
       {"denoise", "--format", "m4a", test::NoiseWav(2)},
       "noise-2s-噪声消除-" + stamp + ".m4a",
       0},
      {"video", {"denoise", test::VideoWithSound(2)}, "video-sound-2s-噪声消除-" + stamp + ".mp4", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string outDir = test::TempDir();
    const ProcessResult r = RunInto(outDir, c.args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const auto files = test::FileNames(outDir);
    ASSERT_EQ(files.size(), 1u) << r.err;
    EXPECT_TRUE(Like(files[0], c.namePattern)) << files[0];
    const test::MediaInfo info = test::Probe(outDir + "/" + files[0]);
    ASSERT_TRUE(info.ok);
    EXPECT_NEAR(info.durationSec, 2, 0.3);
    EXPECT_EQ(info.CountType("video"), c.videoStreams);
    EXPECT_EQ(info.CountType("audio"), 1);
  }
  const std::string folder = test::TempDir();
  const std::string mixedCase = Copy(test::NoiseWav(2), folder, "noise.Wav");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* errorPart;
  } bad[] = {
      {{"denoise", mixedCase}, 1, "the denoiser takes"},
      {{"denoise", "--format", "ogg", test::NoiseWav(2)}, 2, "Invalid output format!"},
      // The denoiser writes MP3 or AAC only: a WAV or FLAC name would hold the wrong sound.
      {{"denoise", "--format", "wav", test::NoiseWav(2)}, 2, "Invalid output format!"},
      {{"denoise", "--format", "flac", test::NoiseWav(2)}, 2, "Invalid output format!"},
      {{"denoise", test::TextNamedMp3()}, 1, "not an audio or video file"},
  };
  for (const auto& b : bad) {
    const std::string outDir = test::TempDir();
    const ProcessResult r = RunInto(outDir, b.args);
    EXPECT_EQ(r.exitStatus, b.status) << r.err;
    EXPECT_NE(r.err.find(b.errorPart), std::string::npos) << r.err;
    EXPECT_TRUE(test::FileNames(outDir).empty());
  }
}
TEST(TunewellCli, InterruptedDenoiseLeavesNothing) {
  const std::string outDir = test::TempDir();
  test::Process p = StartInEnglish({"denoise", "--output-dir", outDir, LongMp3()});
  // Wait until the engine has made its result file, then interrupt.
  ASSERT_TRUE(p.WaitFor([&] { return !test::FileNames(outDir).empty(); }, std::chrono::seconds(20)))
      << p.Out() << p.Err();
  ASSERT_TRUE(p.Signal(SIGINT));
  const ProcessResult r = p.Finish();
  EXPECT_EQ(r.signal, SIGINT) << r.err;
  EXPECT_NE(r.err.find("long-20min-16k-stereo.mp3: interrupted, partial output removed"), std::string::npos)
      << r.err;
  EXPECT_TRUE(test::FileNames(outDir).empty());
}

// Bytes of the recording being written in outDir's recordings folder.
std::uintmax_t RecordedBytes(const std::string& outDir) {
  std::uintmax_t bytes = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(outDir + "/录音", ec)) bytes += fs::file_size(e.path(), ec);
  return bytes;
}

bool SoundServerRuns() {
  return test::RunProcess({"pactl", "info"}) == 0;
}

TEST(TunewellCli, RecordWritesTheRecordingAsThePageNamesIt) {
  if (!SoundServerRuns()) GTEST_SKIP() << "no sound server (scripts/test starts one)";
  // Three programs recording at once into one folder: three recordings, each named as the page
  // names them, numbered once where a name was taken, and each "done" line names its own.
  const std::string outDir = test::TempDir();
  std::vector<test::Process> runs;
  for (const char* source : {"all", "microphone", "system"})
    runs.push_back(
        test::StartCli({"record", "--seconds", "1.5", "--source", source, "--output-dir", outDir}));
  std::string out;
  for (auto& run : runs) {
    const ProcessResult r = run.Finish();
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    out += r.out;
  }
  const auto files = test::FileNames(outDir + "/录音");
  ASSERT_EQ(files.size(), 3u);
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    EXPECT_TRUE(std::regex_match(file, std::regex("新录音-[0-9]{14}(-[0-9])?\\.mp3")));
    EXPECT_NE(out.find(": done: " + outDir + "/录音/" + file), std::string::npos) << out;
    const test::MediaInfo info = test::Probe(outDir + "/录音/" + file);
    ASSERT_TRUE(info.ok);
    EXPECT_NEAR(info.durationSec, 1.5, 0.4);
    EXPECT_EQ(info.First("audio")->codecName, "mp3");
  }
}

TEST(TunewellCli, InterruptedRecordingLeavesNothing) {
  if (!SoundServerRuns()) GTEST_SKIP() << "no sound server (scripts/test starts one)";
  const std::string outDir = test::TempDir();
  test::Process p = StartInEnglish({"record", "--seconds", "60", "--output-dir", outDir});
  ASSERT_TRUE(p.WaitFor([&] { return RecordedBytes(outDir) > 4096; }, std::chrono::seconds(20))) << p.Err();
  ASSERT_TRUE(p.Signal(SIGINT));
  const ProcessResult r = p.Finish();
  EXPECT_EQ(r.signal, SIGINT) << r.err;
  EXPECT_NE(r.err.find("interrupted, partial output removed"), std::string::npos) << r.err;
  EXPECT_TRUE(test::FileNames(outDir + "/录音").empty());
}

TEST(TunewellCli, ARecordingWhoseMicrophoneOrServerGoesAwayFailsAndKeepsWhatItHas) {
  const struct {
    const char* name;
    std::function<void(test::PrivatePulse&)> breakIt;
    const char* told;
  } cases[] = {
      {"microphone unplugged",
       [](test::PrivatePulse& pulse) { ASSERT_EQ(pulse.Pactl({"unload-module", "module-remap-source"}), 0); },
       "the recording device went away"},
      {"server stops answering", [](test::PrivatePulse& pulse) { ASSERT_TRUE(test::FreezeServer(pulse, true)); },
       "the sound server stopped answering"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::PrivatePulse pulse;
    if (!pulse.Ok()) GTEST_SKIP() << "no private sound server";
    const std::string outDir = test::TempDir();
    test::Process p =
        StartInEnglish({"record", "--seconds", "60", "--source", "microphone", "--output-dir", outDir});
    // About a second of sound in the file (128 kbit/s) before the device goes.
    ASSERT_TRUE(p.WaitFor([&] { return RecordedBytes(outDir) > 16000; }, std::chrono::seconds(20))) << p.Err();
    c.breakIt(pulse);
    const ProcessResult r = p.Finish();
    test::FreezeServer(pulse, false);
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_NE(r.err.find(c.told), std::string::npos) << r.err;
    const auto files = test::FileNames(outDir + "/录音");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(r.err.find(files[0]), std::string::npos) << "where the part is";
    const test::MediaInfo info = test::Probe(outDir + "/录音/" + files[0]);
    ASSERT_TRUE(info.ok);
    EXPECT_GT(info.durationSec, 0.5);
  }
}

TEST(TunewellCli, HelpAndExitStatuses) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* outPart;  // nullptr: nothing on the standard output
    const char* errPart;  // nullptr: nothing on the standard error
  } cases[] = {
      {{"--help"}, 0, "Usage: tunewell-cli COMMAND", nullptr},
      {{"cut", "--help"}, 0, "H:MM:SS.cc", nullptr},
      {{"help", "merge"}, 0, "合并-<timestamp>", nullptr},
      {{"--version"}, 0, "tunewell-cli 1.", nullptr},
      {{"--version", "x.wav"}, 2, nullptr, "--help"},
      {{"--formats", "mp3"}, 2, nullptr, "--help"},
      // Only the listed formats: a playlist or a stream format would write files of its own.
      {{"convert", "--format", "mpd", "x.wav"}, 2, nullptr, "--format"},
      {{"convert", "--format", "mkv", "x.wav"}, 2, nullptr, "--format"},
      {{}, 2, nullptr, "--help"},
  };
  for (const auto& c : cases) {
    const ProcessResult r = RunCli(c.args);
    EXPECT_EQ(r.exitStatus, c.status);
    for (const auto& [text, part] : {std::pair{&r.out, c.outPart}, std::pair{&r.err, c.errPart}}) {
      if (part) {
        EXPECT_NE(text->find(part), std::string::npos) << *text;
      } else {
        EXPECT_EQ(*text, "");
      }
    }
  }
}

// "--formats" lists exactly the candidates the installed transcoder can write (asked of it
// directly), and "convert" takes them.
TEST(TunewellCli, FormatsAreThoseTheTranscoderWrites) {
  const ProcessResult r = RunCli({"--formats"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string listed = "\n" + r.out, dir = test::TempDir(), tone = test::ToneWav(0.5);
  for (const char* format :
       {"mp3", "wav", "aac", "m4a", "flac", "ogg", "opus", "wma", "ac3", "aiff", "mp2", "wv", "amr", "ape"}) {
    const bool writes = test::RunProcess({"ffmpeg", "-v", "quiet", "-f", "lavfi", "-i", "sine=duration=0.2",
                                          dir + "/t." + format}) == 0;
    EXPECT_EQ(listed.find("\n" + std::string(format) + "\n") != std::string::npos, writes) << format << r.out;
    EXPECT_EQ(RunCli({"convert", "--format", format, "--output-dir", dir, tone}).exitStatus, writes ? 0 : 2) << format;
  }
}

TEST(TunewellCli, ARecordingHoldsTheSecondsAskedFor) {
  test::PrivatePulse pulse;
  ASSERT_TRUE(pulse.Ok());
  test::Player speaker("tw_speaker", test::ToneWav(30, 440));
  test::Player mic("tw_micfeed", test::ToneWav(30, 1000));
  const std::pair<const char*, const char*> cases[] = {
      {"system", "5"}, {"all", "2.5"}, {"microphone", "2.5"}};
  for (const auto& [source, seconds] : cases) {
    SCOPED_TRACE(source);
    const std::string outDir = test::TempDir();
    const ProcessResult r =
        RunCli({"record", "--seconds", seconds, "--source", source, "--output-dir", outDir});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const auto files = test::FileNames(outDir + "/录音");
    ASSERT_EQ(files.size(), 1u);
    const std::string raw = outDir + "/decoded.raw";
    ASSERT_EQ(test::RunProcess({"ffmpeg", "-v", "error", "-i", outDir + "/录音/" + files[0], "-ac", "1",
                                "-ar", "44100", "-f", "s16le", raw}),
              0);
    EXPECT_NEAR(static_cast<double>(fs::file_size(raw)) / (2 * 44100), std::atof(seconds), 0.05);
  }
}

}  // namespace
}  // namespace tw
