#include <gtest/gtest.h>

#include "cli/Catalogue.h"
#include "cli/CliOptions.h"
#include "tasks/Commands.h"

namespace tw::cli {
namespace {

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> out;
  std::string word;
  for (char c : line) {
    if (c == ' ') {
      if (!word.empty()) out.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) out.push_back(word);
  return out;
}

TEST(CliOptions, AcceptedCommandLines) {
  const struct {
    const char* line;
    Subcommand sub;
    std::vector<std::string> files;
    std::map<std::string, std::string> options;
    int jobs = 0;                // --jobs
    const char* outputDir = "";  // --output-dir
  } cases[] = {
      {"convert --format mp3 a.wav b.wav", Subcommand::Convert, {"a.wav", "b.wav"}, {{"format", "mp3"}}},
      {"convert --format=flac --channels 1 --rate 44100 --bitrate 128k a.wav",
       Subcommand::Convert,
       {"a.wav"},
       {{"format", "flac"}, {"channels", "1"}, {"rate", "44100"}, {"bitrate", "128k"}}},
      {"convert --format mp3 --bitrate vbr a.wav",
       Subcommand::Convert,
       {"a.wav"},
       {{"format", "mp3"}, {"bitrate", "vbr"}}},
      {"convert --format mp3 --bitrate 192000 a.wav",
       Subcommand::Convert,
       {"a.wav"},
       {{"format", "mp3"}, {"bitrate", "192000"}}},
      {"merge --format mp3 b.wav a.wav c.wav",
       Subcommand::Merge,
       {"b.wav", "a.wav", "c.wav"},
       {{"format", "mp3"}}},
      {"speed --factor 1.25 --jobs 2 x.mp3", Subcommand::Speed, {"x.mp3"}, {{"factor", "1.25"}}, 2, ""},
      {"extract --accompaniment --format wav v.mp4",
       Subcommand::Extract,
       {"v.mp4"},
       {{"format", "wav"}, {"accompaniment", ""}}},
      {"volume --factor 0 --fade-in 0,2 --fade-out 0,3 a.wav",
       Subcommand::Volume,
       {"a.wav"},
       {{"factor", "0"}, {"fade-in", "0,2"}, {"fade-out", "0,3"}}},
      // The checks of the fade texts are the page's: the parser passes them on as typed.
      {"volume --factor 1 --fade-in x,2 a.wav",
       Subcommand::Volume,
       {"a.wav"},
       {{"factor", "1"}, {"fade-in", "x,2"}}},
      {"bgmusic --music m.mp3 --level -6 --delay 3 --loop a.wav",
       Subcommand::BgMusic,
       {"a.wav"},
       {{"music", "m.mp3"}, {"level", "-6"}, {"delay", "3"}, {"loop", ""}}},
      {"cut --from 00:00:01.00 --to 00:00:02.00 --output-dir /tmp/o a.wav",
       Subcommand::Cut,
       {"a.wav"},
       {{"from", "00:00:01.00"}, {"to", "00:00:02.00"}},
       0,
       "/tmp/o"},
      {"denoise --level 3 a.wav", Subcommand::Denoise, {"a.wav"}, {{"level", "3"}}},
      {"waveform --json a.wav", Subcommand::Waveform, {"a.wav"}, {{"json", ""}}},
      {"probe a.wav -", Subcommand::Probe, {"a.wav", "-"}, {}},
      {"record --seconds 2 --source microphone",
       Subcommand::Record,
       {},
       {{"seconds", "2"}, {"source", "microphone"}}},
      // After "--" every word is a file, even one that looks like an option.
      {"probe -- -x.wav --format", Subcommand::Probe, {"-x.wav", "--format"}, {}},
  };
  for (const auto& c : cases) {
    const ParseResult r = ParseArguments(Words(c.line));
    ASSERT_TRUE(r.ok) << c.line << ": " << r.error;
    EXPECT_EQ(r.request.sub, c.sub) << c.line;
    EXPECT_EQ(r.request.files, c.files) << c.line;
    EXPECT_EQ(r.request.options, c.options) << c.line;
    EXPECT_EQ(r.request.jobs, c.jobs) << c.line;
    EXPECT_EQ(r.request.outputDir, c.outputDir) << c.line;
    EXPECT_FALSE(r.request.help) << c.line;
  }
}

TEST(CliOptions, UsageErrors) {
  const struct {
    const char* line;
    const char* errorPart;
  } cases[] = {
      {"", "no command"},
      {"transcode a.wav", "unknown command 'transcode'"},
      {"convert a.wav", "convert needs --format"},
      {"convert --format mp3", "needs at least one file"},
      {"convert --format mp3 --fast a.wav", "unknown option '--fast'"},
      {"convert --format mp3 -x a.wav", "unknown option '-x'"},
      {"convert --format mp3 --channels 3 a.wav", "--channels takes 1 or 2"},
      {"convert --format mp3 --rate 44000 a.wav", "--rate takes one of"},
      {"convert --format mp3 --bitrate 100000 a.wav", "--bitrate takes one of"},
      {"convert --format mp3 --bitrate VBR2 a.wav", "--bitrate takes one of"},
      {"convert --format mp3 --format wav a.wav", "--format given twice"},
      {"convert --format", "--format needs a value"},
      {"convert --format mp3 --jobs 0 a.wav", "--jobs takes a whole number"},
      {"convert --format mp3 --jobs two a.wav", "--jobs takes a whole number"},
      {"convert --format mp3 --output-dir= a.wav", "--output-dir takes a folder"},
      {"extract --accompaniment=yes --format mp3 a.wav", "--accompaniment takes no value"},
      {"volume --factor 101 a.wav", "--factor takes a number from 0 to 100"},
      {"volume --factor 1 --fade-in 3 a.wav", "--fade-in takes START,DURATION"},
      {"bgmusic --music m.mp3 --level x a.wav", "--level takes a whole number"},
      {"bgmusic --music m.mp3 --level 1000 a.wav", "--level takes a whole number"},
      {"cut --from 00:00:01.00 a.wav", "cut needs --to"},
      {"denoise --level 4 a.wav", "--level takes 1, 2 or 3"},
      {"record --seconds 0", "--seconds takes a number"},
      {"record --seconds 0.05", "--seconds takes a number of seconds from 0.1 to 86400"},
      {"record --seconds 2 --source both", "--source takes all, microphone or system"},
      {"record --seconds 2 a.wav", "record takes no files"},
      {"probe --json a.wav", "unknown option '--json' for probe"},
      // A repeated word cannot break the one-line message.
      {"conv\nert a.wav", "unknown command 'conv\\x0aert'"},
      {"convert --format mp3 --\r\x1b[2Kdone a.wav", "unknown option '--\\x0d\\x1b[2Kdone'"},
  };
  // The page's texts in their own words (no catalogue), the command line's own in English.
  const struct {
    const char* line;
    const char* errorPart;
  } pageTexts[] = {
      {"merge --format mp3", kMsgMergeNoFiles},   {"merge --format mp3 a.wav", kMsgMergeTooFew},
      {"speed --factor 0.4 a.wav", kMsgBadSpeed}, {"speed --factor 1e1 a.wav", kMsgBadSpeed},
      {"speed --factor -1 a.wav", kMsgBadSpeed},  // the word after the option is its value
      {"speed --factor=abc a.wav", kMsgBadSpeed},
  };
  for (const auto& c : pageTexts) {
    const ParseResult r = ParseArguments(Words(c.line));
    EXPECT_FALSE(r.ok) << c.line;
    EXPECT_NE(r.error.find(c.errorPart), std::string::npos) << c.line << " gave: " << r.error;
  }
  ASSERT_TRUE(InstallCatalogue(Language::English, nullptr));
  for (const auto& c : cases) {
    const ParseResult r = ParseArguments(Words(c.line));
    EXPECT_FALSE(r.ok) << c.line;
    EXPECT_NE(r.error.find(c.errorPart), std::string::npos) << c.line << " gave: " << r.error;
    EXPECT_EQ(r.error.find_first_of("\r\n"), std::string::npos) << c.line;
  }
  InstallCatalogue(Language::Chinese, nullptr);
}

TEST(CliOptions, HelpSkipsTheOtherChecks) {
  const struct {
    const char* line;
    Subcommand sub;
  } cases[] = {
      {"--help", Subcommand::None},
      {"help", Subcommand::None},
      {"-h", Subcommand::None},
      {"help cut", Subcommand::Cut},
      {"convert --help", Subcommand::Convert},
      {"merge -h", Subcommand::Merge},
      {"record --help --seconds x", Subcommand::Record},
  };
  for (const auto& c : cases) {
    const ParseResult r = ParseArguments(Words(c.line));
    ASSERT_TRUE(r.ok) << c.line << ": " << r.error;
    EXPECT_TRUE(r.request.help) << c.line;
    EXPECT_EQ(r.request.sub, c.sub) << c.line;
    const std::string text = HelpText(c.sub);
    const std::string name = c.sub == Subcommand::None ? "COMMAND" : SubcommandName(c.sub);
    EXPECT_NE(text.find("用法：tunewell-cli " + name), std::string::npos) << c.line;
    EXPECT_NE(text.find("--output-dir"), std::string::npos) << c.line;
  }
}

}  // namespace
}  // namespace tw::cli
