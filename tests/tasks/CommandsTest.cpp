#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "tasks/Commands.h"
#include "tasks/ResultFile.h"
#include "tests/support/QueueSink.h"
#include "tests/support/TestEnv.h"
#include "tests/support/TestMedia.h"

namespace fs = std::filesystem;

namespace tw {
namespace {

// Settings and folders of this process live in a private home, fixed before the first
// SettingsFile::Instance() call.
const std::string kHome = test::PrivateHome();

const char* const kFfmpeg = "/opt/tw/ffmpeg";
const char* const kStamp = "20260102030405";

// Fixed inputs so the texts can be compared character for character.
CommandContext FixedContext(int bitRate = 128000) {
  CommandContext ctx;
  ctx.transcoder = kFfmpeg;
  ctx.outputFolder = "/out";
  ctx.timestamp = kStamp;
  ctx.bitRate = bitRate;
  return ctx;
}

FileEntry Entry(const std::string& fullPath, double duration = 10) {
  FileEntry e;
  e.fullPath = fullPath;
  e.fileName = fullPath.substr(fullPath.rfind('/') + 1);
  e.filePath = fullPath.substr(0, fullPath.rfind('/') + 1);
  e.duration = duration;
  return e;
}

// Facts of a source as the probe gives them.
MediaFacts Facts(int channels, int rate, std::int64_t bitRate, std::vector<CoverPicture> covers = {}) {
  MediaFacts f;
  f.soundIndex = 0;
  f.channels = channels;
  f.sampleRate = rate;
  f.bitRate = bitRate;
  f.covers = std::move(covers);
  return f;
}

FileEntry WithFacts(FileEntry entry, MediaFacts facts) {
  entry.facts = std::move(facts);
  return entry;
}

using Args = std::vector<std::string>;

// The words of a command text as a command line parts them: blanks outside quotes end a word,
// the quotes themselves go.
Args Words(const std::string& text) {
  Args words;
  bool quoted = false, inWord = false;
  for (const char c : text) {
    if (c == ' ' && !quoted) {
      inWord = false;
      continue;
    }
    if (!inWord) words.emplace_back();
    inWord = true;
    if (c == '"')
      quoted = !quoted;
    else
      words.back() += c;
  }
  return words;
}

struct TemplateCase {
  const char* name;
  BuiltCommand built;
  std::string text;
  std::string output;
};

// The text with whatever follows "amix=inputs=2:duration=first" inside its filter graph taken out.
std::string WithoutMixExtras(std::string text) {
  const std::string mix = "amix=inputs=2:duration=first";
  const std::size_t at = text.find(mix);
  if (at == std::string::npos) return text;
  const std::size_t from = at + mix.size();
  text.erase(from, text.find('"', from) - from);
  return text;
}

std::vector<TemplateCase> TemplateCases() {
  const CommandContext ctx = FixedContext();
  const CommandContext ctx320 = FixedContext(320000);
  const std::string F = kFfmpeg;
  std::vector<TemplateCase> cases;

  cases.push_back({"convert unchanged", BuildConvertCommand(Entry("/music/song.flac"), {"mp3", 0, 0, 0}, ctx),
                   "\"" + F + "\" -y -i \"/music/song.flac\" -vn \"/out/song.mp3\"", "/out/song.mp3"});
  cases.push_back(
      {"convert options", BuildConvertCommand(Entry("/music/song.flac"), {"ogg", 1, 2, 4}, ctx),
       "\"" + F + "\" -y -i \"/music/song.flac\"  -ac 2 -ar 44100 -ab 128000 -vn \"/out/song.ogg\"",
       "/out/song.ogg"});
  cases.push_back(
      {"convert one option", BuildConvertCommand(Entry("/music/song.flac"), {"wav", 0, 9, 0}, ctx),
       "\"" + F + "\" -y -i \"/music/song.flac\"  -ar 8000 -vn \"/out/song.wav\"", "/out/song.wav"});
  cases.push_back({"convert amr", BuildConvertCommand(Entry("/music/song.flac"), {"amr", 1, 2, 1}, ctx),
                   "\"" + F + "\" -y -i \"/music/song.flac\" -ar 8000 -ac 1 -vn \"/out/song.amr\"",
                   "/out/song.amr"});
  cases.push_back({"convert AMR is not amr",
                   BuildConvertCommand(Entry("/music/song.flac"), {"AMR", 2, 0, 0}, ctx),
                   "\"" + F + "\" -y -i \"/music/song.flac\"  -ac 1 -vn \"/out/song.AMR\"", "/out/song.AMR"});
  cases.push_back({"convert name with conversions",
                   BuildConvertCommand(Entry("/m/100%s %d.wav"), {"mp3", 0, 0, 0}, ctx),
                   "\"" + F + "\" -y -i \"/m/100%s %d.wav\" -vn \"/out/100%s %d.mp3\"", "/out/100%s %d.mp3"});
  cases.push_back({"convert several dots", BuildConvertCommand(Entry("/m/a.b.c.wav"), {"mp3", 0, 0, 0}, ctx),
                   "\"" + F + "\" -y -i \"/m/a.b.c.wav\" -vn \"/out/a.b.c.mp3\"", "/out/a.b.c.mp3"});

  const std::vector<FileEntry> three = {Entry("/m/a.mp3", 60), Entry("/m/b.wav", 40), Entry("/m/c.flac", 5)};
  cases.push_back({"merge mp3", BuildMergeCommand(three, "mp3", ctx),
                   "\"" + F +
                       "\"  -i \"/m/a.mp3\" -i \"/m/b.wav\" -i \"/m/c.flac\" -filter_complex "
                       "\"[0:a][1:a][2:a]concat=n=3:v=0:a=1 [a]\" -map \"[a]\" -ab 128000 \"/out/合并-" +
                       kStamp + ".mp3\"",
                   "/out/合并-" + std::string(kStamp) + ".mp3"});
  cases.push_back(
      {"merge wav", BuildMergeCommand({three[0], three[1]}, "wav", ctx),
       "\"" + F +
           "\"  -i \"/m/a.mp3\" -i \"/m/b.wav\" -filter_complex \"[0:a][1:a]concat=n=2:v=0:a=1 [a]\" "
           "-map \"[a]\" \"/out/合并-" +
           kStamp + ".wav\"",
       "/out/合并-" + std::string(kStamp) + ".wav"});

  cases.push_back({"speed mp3", BuildSpeedCommand(Entry("/m/a.mp3"), "1.25", ctx320),
                   "\"" + F + "\" -i \"/m/a.mp3\" -filter:a \"atempo=1.25\" -ab 320000 -vn \"/out/a-变速-" +
                       kStamp + ".mp3\"",
                   "/out/a-变速-" + std::string(kStamp) + ".mp3"});
  cases.push_back(
      {"speed wav", BuildSpeedCommand(Entry("/m/a.wav"), "1.25", ctx320),
       "\"" + F + "\" -i \"/m/a.wav\" -filter:a \"atempo=1.25\" -vn \"/out/a-变速-" + kStamp + ".wav\"",
       "/out/a-变速-" + std::string(kStamp) + ".wav"});
  cases.push_back({"speed MP3 upper case", BuildSpeedCommand(Entry("/m/A.MP3"), "0.5", ctx),
                   "\"" + F + "\" -i \"/m/A.MP3\" -filter:a \"atempo=0.5\" -ab 128000 -vn \"/out/A-变速-" +
                       kStamp + ".MP3\"",
                   "/out/A-变速-" + std::string(kStamp) + ".MP3"});

  const std::string pan = "\"pan=mono|c0=0.7071*c0-0.7071*c1,alimiter=limit=0.891251:level=false:latency=true\"";
  cases.push_back({"extract video type 0", BuildExtractCommand(Entry("/v/clip.mp4"), "mp3", 0, ctx),
                   "\"" + F + "\" -i \"/v/clip.mp4\" -vn \"/out/clip-提取-" + kStamp + ".mp3\"",
                   "/out/clip-提取-" + std::string(kStamp) + ".mp3"});
  cases.push_back(
      {"extract video type 1", BuildExtractCommand(Entry("/v/clip.MKV"), "wav", 1, ctx),
       "\"" + F + "\" -i \"/v/clip.MKV\"  -af " + pan + " -vn \"/out/clip-提取-" +
           kStamp + ".wav\"",
       "/out/clip-提取-" + std::string(kStamp) + ".wav"});
  cases.push_back({"extract audio type 0", BuildExtractCommand(Entry("/m/song.mp3"), "mp3", 0, ctx),
                   "\"" + F +
                       "\" -i \"/m/song.mp3\"  -af " + pan + " \"/out/song-提取-" +
                       kStamp + ".mp3\"",
                   "/out/song-提取-" + std::string(kStamp) + ".mp3"});

  VolumeOptions louder;
  louder.factor = 1.5f;
  cases.push_back(
      {"volume wav", BuildVolumeCommand(Entry("/m/a.wav"), louder, ctx),
       "\"" + F + "\" -i \"/m/a.wav\" -filter:a \"volume=1.50\" -vn \"/out/a-声音调整-" + kStamp + ".wav\"",
       "/out/a-声音调整-" + std::string(kStamp) + ".wav"});
  VolumeOptions fades;
  fades.factor = 0.5f;
  fades.fadeIn = true;
  fades.fadeInStart = "0";
  fades.fadeInDuration = " 3 ";
  fades.fadeOut = true;
  fades.fadeOutStart = "10";
  fades.fadeOutDuration = "5";
  const std::string fadeFilter = "[0:a]afade=t=in:st=0:d=3[a1];[a1]afade=t=out:st=10:d=5[a2];[a2]volume=0.50";
  cases.push_back({"volume mp3 with fades", BuildVolumeCommand(Entry("/m/a.mp3", 60), fades, ctx),
                   "\"" + F + "\" -i \"/m/a.mp3\" -filter:a \"" + fadeFilter +
                       "\" -ab 128000 -vn \"/out/a-声音调整-" + kStamp + ".mp3\"",
                   "/out/a-声音调整-" + std::string(kStamp) + ".mp3"});

  // The mix stage goes on past the template's "amix=inputs=2:duration=first" (the level it keeps
  // and the clipping it prevents are measured by a real run below); the rest is the template's.
  BgMusicOptions loop{"/m/music.mp3", -6, "3", true};
  const std::string mix = "amix=inputs=2:duration=first";
  const std::string loopGraph = "[1:a]volume=-6dB[a1],[a1]adelay=3000|3000[b],[0:a][b]" + mix;
  cases.push_back({"music looped", BuildBgMusicCommand(Entry("/m/voice.wav"), loop, ctx),
                   "\"" + F +
                       "\" -i \"/m/voice.wav\" -stream_loop -1 -i \"/m/music.mp3\" -filter_complex \"" +
                       loopGraph + "\" -vn \"/out/voice-背景音乐-" + kStamp + ".wav\"",
                   "/out/voice-背景音乐-" + std::string(kStamp) + ".wav"});
  BgMusicOptions once{"/m/music.mp3", 5, "", false};
  const std::string onceGraph = "[1]volume=5dB[a1],[a1]adelay=0|0[b],[0][b]" + mix;
  cases.push_back({"music once", BuildBgMusicCommand(Entry("/m/voice.mp3"), once, ctx),
                   "\"" + F + "\" -i \"/m/voice.mp3\" -i \"/m/music.mp3\" -filter_complex \"" + onceGraph +
                       "\" -vn \"/out/voice-背景音乐-" + kStamp + ".mp3\"",
                   "/out/voice-背景音乐-" + std::string(kStamp) + ".mp3"});

  FileEntry source = Entry("/m/song.wav", 4000);
  const FileEntry cut = MakeCutEntry(source, 65.25, 3725.5, ctx);
  cases.push_back(
      {"cut", BuildCutCommand(cut, ctx),
       "\"" + F +
           "\" -y -i \"/m/song.wav\" -ss 00:01:05.25 -to 01:02:05.50 -ab 128000 -vn \"/out/song-剪辑-" +
           kStamp + ".wav\"",
       "/out/song-剪辑-" + std::string(kStamp) + ".wav"});
  return cases;
}

TEST(Commands, EveryTemplateTextAndArgumentVector) {
  for (const TemplateCase& c : TemplateCases()) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.built.ok) << c.built.message;
    EXPECT_EQ(WithoutMixExtras(c.built.command.text), c.text);
    EXPECT_EQ(c.built.command.args, Words(c.built.command.text))
        << "the child runs the command shown, word for word";
    EXPECT_EQ(c.built.outputPath, c.output);
    EXPECT_EQ(c.built.outputPath, c.built.command.args.back());
  }
}

TEST(Commands, ConvertOptionTextTable) {
  const struct {
    const char* format;
    int channel, rate, bitRate;
    const char* text;
  } cases[] = {
      {"mp3", 0, 0, 0, ""},
      {"mp3", 1, 2, 4, " -ac 2 -ar 44100 -ab 128000"},
      {"mp3", 2, 0, 0, " -ac 1"},
      {"mp3", 0, 1, 0, " -ar 48000"},
      {"mp3", 0, 3, 0, " -ar 32000"},
      {"mp3", 0, 4, 0, " -ar 24000"},
      {"mp3", 0, 5, 0, " -ar 22050"},
      {"mp3", 0, 6, 0, " -ar 16000"},
      {"mp3", 0, 7, 0, " -ar 12000"},
      {"mp3", 0, 8, 0, " -ar 11025"},
      {"mp3", 0, 9, 6, " -ar 8000 -ab 64000"},
      {"mp3", 0, 0, 1, " -ab 320000"},
      {"mp3", 0, 0, 2, " -ab 256000"},
      {"mp3", 0, 0, 3, " -ab 192000"},
      {"mp3", 0, 0, 5, " -ab 96000"},
      {"mp3", 2, 0, 7, " -ac 1 -q:a 2"},
      {"MP3", 0, 0, 7, " -q:a 2"},
      {"ogg", 0, 0, 7, ""},   // VBR is for MP3; elsewhere the bit rate stays as it is
      {"mp3", 3, 10, 8, ""},  // indices beyond the lists change nothing
      {"mp3", -1, -1, -1, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConvertOptionText({c.format, c.channel, c.rate, c.bitRate}), c.text)
        << c.format << " " << c.channel << " " << c.rate << " " << c.bitRate;
  }
  for (const int rate : kBitRateChoices) EXPECT_EQ(kBitRateChoices[BitRateIndex(rate) - 1], rate);
  EXPECT_EQ(BitRateIndex(100000), -1);
}

TEST(Commands, MergeLabelsCountAndTotal) {
  std::vector<FileEntry> files;
  for (int i = 0; i < 12; ++i) files.push_back(Entry("/m/f" + std::to_string(i) + ".wav", 1.5));
  const BuiltCommand built = BuildMergeCommand(files, "flac", FixedContext());
  ASSERT_TRUE(built.ok);
  EXPECT_NE(
      built.command.text.find("[0:a][1:a][2:a][3:a][4:a][5:a][6:a][7:a][8:a][9:a][10:a][11:a]concat=n=12:"),
      std::string::npos);
  EXPECT_DOUBLE_EQ(built.totalSeconds, 18.0);
  EXPECT_EQ(built.command.args, Words(built.command.text));
}

TEST(Commands, VolumeFilterTable) {
  const struct {
    bool in;
    const char *inStart, *inDuration;
    bool out;
    const char *outStart, *outDuration;
    float factor;
    double fileSec;
    const char* filter;
  } cases[] = {
      {false, "", "", false, "", "", 1.5f, 0, "volume=1.50"},
      {false, "", "", false, "", "", 0.0f, 0, "volume=0.00"},
      {false, "", "", true, "0", "5", 1.0f, 60.4, "[0:a]afade=t=out:st=55:d=5[a1];[a1]volume=1.00"},
      {false, "", "", true, "20", "5", 1.0f, 60.4, "[0:a]afade=t=out:st=20:d=5[a1];[a1]volume=1.00"},
      {false, "", "", true, "0", "90", 1.0f, 60.4, "[0:a]afade=t=out:st=0:d=90[a1];[a1]volume=1.00"},
      {true, "2", "4", false, "", "", 0.57f, 0, "[0:a]afade=t=in:st=2:d=4[a1];[a1]volume=0.57"},
      {true, "0", "3", true, "0", "5", 2.0f, 30.99,
       "[0:a]afade=t=in:st=0:d=3[a1];[a1]afade=t=out:st=25:d=5[a2];[a2]volume=2.00"},
      // Fields of an unticked fade are ignored.
      {false, "x", "y", false, "z", "w", 1.25f, 10, "volume=1.25"},
  };
  for (const auto& c : cases) {
    VolumeOptions o;
    o.fadeIn = c.in;
    o.fadeInStart = c.inStart;
    o.fadeInDuration = c.inDuration;
    o.fadeOut = c.out;
    o.fadeOutStart = c.outStart;
    o.fadeOutDuration = c.outDuration;
    o.factor = c.factor;
    EXPECT_EQ(CheckVolumeOptions(o), "") << c.filter;
    EXPECT_EQ(VolumeFilter(o, c.fileSec), c.filter);
  }
}

TEST(Commands, ChecksReturnTheirMessages) {
  const CommandContext ctx = FixedContext();
  const FileEntry a = Entry("/m/a.wav");
  auto volume = [&](bool in, const char* inStart, const char* inDur, bool out, const char* outStart,
                    const char* outDur) {
    VolumeOptions o;
    o.fadeIn = in;
    o.fadeInStart = inStart;
    o.fadeInDuration = inDur;
    o.fadeOut = out;
    o.fadeOutStart = outStart;
    o.fadeOutDuration = outDur;
    return BuildVolumeCommand(a, o, ctx);
  };
  const struct {
    const char* name;
    BuiltCommand built;
    const char* message;
  } cases[] = {
      {"merge none", BuildMergeCommand({}, "mp3", ctx), kMsgMergeNoFiles},
      {"merge one", BuildMergeCommand({a}, "mp3", ctx), kMsgMergeTooFew},
      {"fade-in start blank", volume(true, "  \t", "3", false, "", ""), kMsgFadeInStartEmpty},
      {"fade-in start letters", volume(true, "1a", "3", false, "", ""), kMsgFadeInStartDigits},
      {"fade-in start negative", volume(true, "-1", "3", false, "", ""), kMsgFadeInStartDigits},
      {"fade-in duration empty", volume(true, "1", "", false, "", ""), kMsgFadeInDurationEmpty},
      {"fade-in duration decimal", volume(true, "1", "2.5", false, "", ""), kMsgFadeInDurationDigits},
      {"fade-out start empty", volume(false, "", "", true, "", "5"), kMsgFadeOutStartEmpty},
      {"fade-out start full-width digit", volume(false, "", "", true, "１", "5"), kMsgFadeOutStartDigits},
      {"fade-out duration empty", volume(false, "", "", true, "0", " "), kMsgFadeOutDurationEmpty},
      {"fade-out duration letters", volume(false, "", "", true, "0", "five"), kMsgFadeOutDurationDigits},
      {"fade-in checked before fade-out", volume(true, "", "", true, "", ""), kMsgFadeInStartEmpty},
      {"music missing", BuildBgMusicCommand(a, {"", -6, "3", false}, ctx), kMsgBgMusicNoFile},
      {"music start letters", BuildBgMusicCommand(a, {"/m/b.mp3", -6, "3s", false}, ctx),
       kMsgBgMusicStartDigits},
      {"music start blank inside", BuildBgMusicCommand(a, {"/m/b.mp3", -6, " 3", true}, ctx),
       kMsgBgMusicStartDigits},
      {"format with a folder", BuildConvertCommand(a, {"../x", 0, 0, 0}, ctx), kMsgBadFormat},
      {"format empty", BuildExtractCommand(a, "", 0, ctx), kMsgBadFormat},
      {"merge format with blank", BuildMergeCommand({a, a}, "mp3 -y", ctx), kMsgBadFormat},
      {"speed with a second filter", BuildSpeedCommand(a, "1.0,volume=9", ctx), kMsgBadSpeed},
      {"speed negative", BuildSpeedCommand(a, "-2", ctx), kMsgBadSpeed},
      {"speed nothing chosen", BuildSpeedCommand(a, "", ctx), kMsgSpeedUnchanged},
      {"speed 1.004", BuildSpeedCommand(a, "1.004", ctx), kMsgSpeedUnchanged},
      {"volume 1.00 with no fade", volume(false, "", "", false, "", ""), kMsgVolumeUnchanged},
      {"volume 1.00 with fades of no length", volume(true, "1", "0", true, "0", "0"), kMsgVolumeUnchanged},
      {"accompaniment of one channel", BuildExtractCommand(WithFacts(a, Facts(1, 44100, 0)), "mp3", 0, ctx),
       kMsgMonoNoAccompaniment},
      {"accompaniment of a video's one channel",
       BuildExtractCommand(WithFacts(Entry("/v/a.mp4"), Facts(1, 44100, 0)), "mp3", 1, ctx),
       kMsgMonoNoAccompaniment},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(c.built.ok);
    EXPECT_EQ(c.built.message, c.message);
    EXPECT_TRUE(c.built.command.args.empty());
  }
}

// What each builder adds to keep what a source carries, and that a source without any of it
// gets the template's own command.
TEST(Commands, TheOriginalBitRateIsTheNearestTheEncoderTakes) {
  const struct {
    const char* format;
    std::int64_t bitRate;
    int rate, channels, expected;
  } cases[] = {
      {"mp3", 192000, 44100, 2, 192000},
      {"mp3", 1411200, 44100, 2, 320000},
      {"mp3", 150000, 48000, 2, 160000},
      {"mp3", 144000, 44100, 2, 160000},
      {"mp3", 320000, 22050, 1, 160000},
      {"mp3", 8000, 8000, 1, 8000},
      {"mp3", 0, 44100, 2, 0},
      {"MP3", 64000, 0, 0, 64000},
      {"mp2", 1411200, 48000, 2, 384000},
      {"mp2", 30000, 16000, 1, 32000},
      {"ac3", 700000, 48000, 6, 640000},
      {"aac", 1411200, 44100, 2, 320000},
      {"m4a", 4000, 8000, 1, 8000},
      {"wma", 8000, 44100, 2, 24000},
      {"opus", 1411200, 48000, 1, 256000},
      {"opus", 1411200, 48000, 2, 512000},
      {"ogg", 1411200, 44100, 2, 500000},
      {"ogg", 1411200, 44100, 1, 224000},
      {"ogg", 8000, 22050, 1, 16000},
      {"ogg", 128000, 96000, 2, 0},
      {"ogg", 128000, 48000, 6, 0},
      {"wav", 1411200, 44100, 2, 0},
      {"flac", 900000, 44100, 2, 0},
      {"amr", 12200, 8000, 1, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NearestBitRate(c.format, c.bitRate, c.rate, c.channels), c.expected)
        << c.format << " " << c.bitRate << " " << c.rate << " " << c.channels;
  }
  // The page's "unchanged" keeps it: also at a channel count or rate chosen on the page.
  EXPECT_EQ(ConvertOptionText({"mp3", 2, 5, 0}, Facts(2, 44100, 320000)), " -ac 1 -ar 22050 -ab 160000");
  EXPECT_EQ(ConvertOptionText({"ogg", 0, 0, 7}, Facts(2, 44100, 192000)), " -ab 192000");
}

TEST(Commands, BuildersGiveTheDesignedNameWhateverTheDiskHolds) {
  // Whether a name is free is decided when the result is published; a builder run twice, or
  // over a folder where the name is taken, gives the same designed name each time.
  CommandContext ctx = FixedContext();
  ctx.outputFolder = test::TempDir();
  const FileEntry a = Entry(ctx.outputFolder + "/a.mp3");
  std::ofstream(a.fullPath) << "the source itself";
  const std::string stamped = ctx.outputFolder + "/a-%s-" + kStamp + ".%s";
  const auto named = [&](const char* word, const char* ext) {
    std::string path = stamped;
    path.replace(path.find("%s"), 2, word);
    path.replace(path.find("%s"), 2, ext);
    std::ofstream(path) << "an earlier result";
    return path;
  };
  const struct {
    std::function<std::string()> build;
    std::string designed;
  } cases[] = {
      {[&] {
         return BuildConvertCommand(a, {"mp3", 0, 0, 0}, ctx).outputPath;
       },
       a.fullPath},
      {[&] { return BuildSpeedCommand(a, "2.0", ctx).outputPath; }, named("变速", "mp3")},
      {[&] { return BuildExtractCommand(a, "mp3", 1, ctx).outputPath; }, named("提取", "mp3")},
      {[&] { return BuildVolumeCommand(a, {0.5f}, ctx).outputPath; }, named("声音调整", "mp3")},
      {[&] {
         return BuildBgMusicCommand(a, {a.fullPath, 0, "", false}, ctx).outputPath;
       },
       named("背景音乐", "mp3")},
      {[&] { return MakeCutEntry(a, 0, 1, ctx).fullPath; }, named("剪辑", "mp3")},
      {[&] {
         return BuildMergeCommand({a, a}, "wav", ctx).outputPath;
       },
       ctx.outputFolder + "/合并-" + kStamp + ".wav"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.build(), c.designed);
    EXPECT_EQ(c.build(), c.designed);
  }
  const BuiltCommand speed = BuildSpeedCommand(a, "2.0", ctx);
  EXPECT_EQ(speed.command.args.back(), speed.outputPath);
  EXPECT_NE(speed.command.text.find("\"" + speed.outputPath + "\""), std::string::npos);
}

TEST(Commands, CutNamesAndExtensions) {
  const struct {
    const char* source;
    const char* result;
  } cases[] = {
      {"song.APE", "song-剪辑-20260102030405.mp3"}, {"voice.AMR", "voice-剪辑-20260102030405.mp3"},
      {"clip.mp4", "clip-剪辑-20260102030405.mp3"}, {"tone.flac", "tone-剪辑-20260102030405.flac"},
      {"X.WAV", "X-剪辑-20260102030405.wav"},       {"noext", "noext-剪辑-20260102030405.mp3"},
      {"dot.", "dot-剪辑-20260102030405.mp3"},      {"a.3gpp", "a-剪辑-20260102030405.mp3"},
      {"a.awb", "a-剪辑-20260102030405.mp3"},       {"film.MOV", "film-剪辑-20260102030405.mp3"},
      {"a.b.ogg", "a.b-剪辑-20260102030405.ogg"},   {"录音 1.m4a", "录音 1-剪辑-20260102030405.m4a"},
      {"x.m p3", "x-剪辑-20260102030405.mp3"},
  };
  const CommandContext ctx = FixedContext();
  for (const auto& c : cases)
    EXPECT_EQ(CutOutputPath(c.source, ctx), std::string("/out/") + c.result) << c.source;
  FileEntry source = Entry("/m/song.APE", 100);
  source.size = 4096;
  const FileEntry cut = MakeCutEntry(source, 1.0, 3.5, ctx);
  EXPECT_EQ(cut.fileName, std::string("song-剪辑-") + kStamp + ".mp3");
  EXPECT_EQ(cut.filePath, "/m/");
  EXPECT_EQ(cut.sourcePath, "/m/song.APE");
  EXPECT_EQ(cut.size, 4096);
  EXPECT_DOUBLE_EQ(cut.duration, 2.5);
}

TEST(Commands, TimestampAndBitRate) {
  const std::string stamp = LocalTimestamp(std::time(nullptr));
  EXPECT_EQ(stamp.size(), 14u);
  EXPECT_EQ(stamp.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(QualityBitRate(0), 128000);
  EXPECT_EQ(QualityBitRate(1), 320000);
  EXPECT_EQ(QualityBitRate(-3), 320000);
}

TEST(Commands, LongCommandsStayWholeAndTooLongOnesAreRefused) {
  const CommandContext ctx = FixedContext();
  const std::string folder = "/media/很长的文件夹名称/" + std::string(150, 'd') + "/";
  std::vector<FileEntry> files;
  for (int i = 0; i < 80; ++i) files.push_back(Entry(folder + "track " + std::to_string(i) + ".mp3", 1));
  const BuiltCommand merge = BuildMergeCommand(files, "mp3", ctx);
  ASSERT_TRUE(merge.ok) << merge.message;
  EXPECT_GT(merge.command.text.size(), 8192u);
  EXPECT_EQ(merge.command.text.substr(merge.command.text.size() - merge.outputPath.size() - 1),
            merge.outputPath + "\"");
  EXPECT_EQ(merge.command.args[2 * 79 + 2], folder + "track 79.mp3");

  const FileEntry huge = Entry("/m/" + std::string(200000, 'x') + ".wav");
  for (const BuiltCommand& refused :
       {BuildSpeedCommand(huge, "1.5", ctx), BuildConvertCommand(huge, {"mp3", 0, 0, 0}, ctx)}) {
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.message, kMsgCommandTooLong);
  }
  CommandLine many;
  many.args.assign(40000, std::string(100, 'a'));
  EXPECT_EQ(CheckCommandFits(many), kMsgCommandTooLong);
  EXPECT_EQ(CheckCommandFits(merge.command), "");
}

TEST(Commands, LeadingDashPathsAreNotReadAsOptions) {
  CommandContext ctx = FixedContext();
  ctx.outputFolder = "-out";
  const BuiltCommand built = BuildVolumeCommand(Entry("-in.wav"), {0.5f}, ctx);
  ASSERT_TRUE(built.ok);
  EXPECT_EQ(built.command.args[2], "./-in.wav");
  EXPECT_EQ(built.command.args.back(), "./-out/-in-声音调整-" + std::string(kStamp) + ".wav");
}

TEST(Commands, UnsupportedExtensions) {
  for (const char* ext : {"ncm", "NCM", "mgg", "mflac", "kgm", "KgMa"})
    EXPECT_TRUE(IsUnsupportedExtension(ext)) << ext;
  for (const char* ext : {"mp3", "flac", "kg", ""}) EXPECT_FALSE(IsUnsupportedExtension(ext)) << ext;
}

TEST(Commands, FormatListsOfferOnlyWritableFormats) {
  const std::vector<std::string> formats = WritableAudioFormats();
  for (const char* common : {"mp3", "wav", "flac", "aac", "m4a", "ogg"}) {
    EXPECT_NE(std::find(formats.begin(), formats.end(), common), formats.end()) << common;
  }
  for (const std::string& f : formats) EXPECT_TRUE(CanWriteFormat(f)) << f;
  const bool amrOffered = std::find(formats.begin(), formats.end(), "amr") != formats.end();
  EXPECT_EQ(amrOffered, CanWriteFormat("amr"));
  for (const char* never : {"ape", "xyz", "", "m p3", "../wav"}) EXPECT_FALSE(CanWriteFormat(never)) << never;
}

// ---- Real runs through StartTranscoder ------------------------------------------------

// A context for real runs: the installed transcoder, a fresh output folder, now.
CommandContext RunContext(int bitRate = 128000) {
  CommandContext ctx;
  ctx.transcoder = TranscoderPath();
  ctx.outputFolder = test::TempDir();
  ctx.timestamp = LocalTimestamp(std::time(nullptr));
  ctx.bitRate = bitRate;
  return ctx;
}

// Runs a built command to its verdict; true for WM_TASK_DONE.
bool RunToVerdict(const BuiltCommand& built, OperationKind kind = OperationKind::Convert,
                  std::string* published = nullptr) {
  EXPECT_TRUE(built.ok) << built.message;
  if (!built.ok) return false;
  // The child runs the command shown, word for word (where no name holds a quote, which the text
  // cannot show unambiguously).
  const auto quoteIn = [](const std::string& arg) { return arg.find('"') != std::string::npos; };
  if (std::none_of(built.command.args.begin(), built.command.args.end(), quoteIn)) {
    EXPECT_EQ(built.command.args, Words(built.command.text));
  }
  test::QueueSink sink;
  if (!StartTranscoder(built.command, 7, kind, &sink)) return false;
  auto verdict =
      sink.WaitMatch([](const Message& m) { return m.id == WM_TASK_DONE || m.id == WM_TASK_FAILED; },
                     std::chrono::seconds(120));
  EXPECT_TRUE(verdict.has_value()) << built.command.text;
  if (!verdict || verdict->id != WM_TASK_DONE) return false;
  const std::string& name = verdict->As<FinishRecord>()->outputPath;
  EXPECT_FALSE(name.empty());
  if (published) {
    *published = name;
  } else if (name != built.outputPath) {
    // Rows of a table that share a designed name publish "-2", "-3" ...; each row looks for its
    // own result under the designed name, so the earlier row's file gives way to it.
    std::filesystem::rename(name, built.outputPath);
  }
  return true;
}

// A file as a page's list files it: probed for its duration and facts.
FileEntry MediaEntry(const std::string& path) {
  FileEntry e = EntryForPath(path);
  const MediaProbe probe = ProbeMedia(path);
  e.duration = probe.duration;
  e.facts = probe.facts;
  return e;
}

std::string SilenceWav(double seconds) {
  return test::MakeMedia("silence-" + std::to_string(static_cast<int>(seconds)) + "s.wav",
                         {"-f", "lavfi", "-i", "anullsrc=r=44100:cl=stereo", "-t", std::to_string(seconds),
                          "-c:a", "pcm_s16le"});
}

TEST(CommandRuns, ConvertGivesTheFormatChannelsAndRateAskedFor) {
  const FileEntry tone = MediaEntry(test::ToneWav(2));
  const struct {
    ConvertOptions options;
    const char* formatName;
    int channels, rate;
  } cases[] = {
      {{"ogg", 2, 5, 0}, "ogg", 1, 22050},
      {{"mp3", 1, 1, 4}, "mp3", 2, 48000},
      {{"flac", 0, 6, 0}, "flac", 2, 16000},
      {{"wav", 0, 0, 0}, "wav", 2, 44100},
  };
  for (const auto& c : cases) {
    const CommandContext ctx = RunContext();
    const BuiltCommand built = BuildConvertCommand(tone, c.options, ctx);
    ASSERT_TRUE(RunToVerdict(built)) << built.command.text;
    const test::MediaInfo info = test::Probe(built.outputPath);
    ASSERT_TRUE(info.ok) << built.outputPath;
    EXPECT_NE(info.formatName.find(c.formatName), std::string::npos) << info.formatName;
    ASSERT_NE(info.First("audio"), nullptr);
    EXPECT_EQ(info.First("audio")->channels, c.channels) << c.options.format;
    EXPECT_EQ(info.First("audio")->sampleRate, c.rate) << c.options.format;
  }
}

TEST(CommandRuns, EveryOfferedFormatCanBeWritten) {
  // The source's bit rate kept ("unchanged") from far above and far below what lossy encoders take,
  // and shapes some encoders cannot take as they are (more channels, a higher rate, odd layouts).
  const FileEntry tone = MediaEntry(test::ToneWav(1));
  const FileEntry thin =
      MediaEntry(test::MakeMedia("thin-8k-mono.mp3", {"-f", "lavfi", "-i", "sine=sample_rate=8000:duration=1",
                                                      "-c:a", "libmp3lame", "-b:a", "8k"}));
  const auto shaped = [](const std::string& layout, int rate) {
    return MediaEntry(test::MakeMedia("shape-" + layout + "-" + std::to_string(rate) + ".wav",
                                      {"-f", "lavfi", "-i", "sine=duration=1:sample_rate=" + std::to_string(rate),
                                       "-af", "aformat=channel_layouts=" + layout, "-c:a", "pcm_s16le"}));
  };
  const FileEntry wide = shaped("5.1(side)", 96000), odd = shaped("2.1", 44100), many = shaped("7.1(wide)", 48000);
  const CommandContext ctx = RunContext();
  for (const std::string& format : WritableAudioFormats()) {
    for (const FileEntry* source : {&tone, &thin, &wide, &odd, &many}) {
      SCOPED_TRACE(format + " of " + source->fileName);
      if (source == &thin && !NearestBitRate(format, thin.facts.bitRate, 8000, 1)) continue;  // lossless
      const BuiltCommand built = BuildConvertCommand(*source, {format, 0, 0, 0}, ctx);
      EXPECT_TRUE(RunToVerdict(built)) << built.command.text;
      // ADTS keeps no record of the encoder's delay: a frame (128 ms at 8 kHz) more.
      EXPECT_NEAR(test::DecodedSeconds(built.outputPath), 1.0, source == &thin ? 0.16 : 0.05);
    }
    // Rates and bit rates chosen on the page that the encoder does not take as they are, the
    // accompaniment of a high-rate file, and a merge of files of other shapes than the first's.
    for (const BuiltCommand& built :
         {BuildConvertCommand(tone, {format, 0, 2, 0}, ctx), BuildConvertCommand(thin, {format, 0, 8, 1}, ctx),
          BuildExtractCommand(wide, format, 1, ctx), BuildMergeCommand({tone, odd, wide}, format, ctx)})
      EXPECT_TRUE(RunToVerdict(built)) << built.command.text;
  }
  if (!CanWriteFormat("amr")) {
    // Not offered, but the template stands: a run ends as a reported failure.
    EXPECT_FALSE(RunToVerdict(BuildConvertCommand(tone, {"amr", 0, 0, 0}, ctx)));
  }
}

TEST(CommandRuns, MergeLastsTheSumOfItsFiles) {
  const std::vector<FileEntry> files = {MediaEntry(test::ToneWav(1.5, 440)),
                                        MediaEntry(test::ToneWav(2.5, 660)),
                                        MediaEntry(test::ToneWav(1, 880))};
  for (const char* format : {"wav", "mp3"}) {
    const BuiltCommand built = BuildMergeCommand(files, format, RunContext());
    EXPECT_NEAR(built.totalSeconds, 5.0, 0.01);
    ASSERT_TRUE(RunToVerdict(built, OperationKind::Merge)) << built.command.text;
    EXPECT_NEAR(test::Probe(built.outputPath).durationSec, 5.0, 0.1) << format;
  }
}

TEST(CommandRuns, SpeedScalesTheDuration) {
  const struct {
    std::string input;
    const char* speed;
    double seconds;
  } cases[] = {
      {test::ToneWav(4), "2.0", 2.0}, {test::ToneWav(4), "0.5", 8.0}, {test::ToneMp3(4), "2.0", 2.0}};
  for (const auto& c : cases) {
    const BuiltCommand built = BuildSpeedCommand(MediaEntry(c.input), c.speed, RunContext(320000));
    ASSERT_TRUE(RunToVerdict(built, OperationKind::Speed)) << built.command.text;
    EXPECT_NEAR(test::Probe(built.outputPath).durationSec, c.seconds, 0.1) << c.input << " " << c.speed;
  }
}

TEST(CommandRuns, ExtractKeepsTheSoundOrTheAccompaniment) {
  const FileEntry video = MediaEntry(test::VideoWithSound(2));
  const BuiltCommand track = BuildExtractCommand(video, "mp3", 0, RunContext());
  ASSERT_TRUE(RunToVerdict(track, OperationKind::Extract));
  const test::MediaInfo trackInfo = test::Probe(track.outputPath);
  EXPECT_EQ(trackInfo.CountType("video"), 0);
  EXPECT_EQ(trackInfo.CountType("audio"), 1);

  const BuiltCommand accompaniment = BuildExtractCommand(video, "wav", 1, RunContext());
  ASSERT_TRUE(RunToVerdict(accompaniment, OperationKind::Extract));
  const test::MediaInfo accInfo = test::Probe(accompaniment.outputPath);
  ASSERT_NE(accInfo.First("audio"), nullptr);
  EXPECT_EQ(accInfo.First("audio")->channels, 1);
  EXPECT_EQ(accInfo.CountType("video"), 0);

  // A 192 kbit/s song keeps its level and its bits: one side alone, and both in opposite phase
  // (their difference would pass full scale).
  for (const char* sides : {"0.5*sin(2*PI*300*t)|0", "0.9*sin(2*PI*300*t)|-0.9*sin(2*PI*300*t)"}) {
    SCOPED_TRACE(sides);
    const std::string song = test::MakeMedia(std::string("song-") + (sides[2] == '5' ? "left" : "opposite") + ".mp3",
                                             {"-f", "lavfi", "-i", std::string("aevalsrc=") + sides + ":s=44100:d=3",
                                              "-b:a", "192k"});
    const BuiltCommand built = BuildExtractCommand(MediaEntry(song), "mp3", 1, RunContext());
    ASSERT_TRUE(RunToVerdict(built, OperationKind::Extract)) << built.command.text;
    std::string rate;
    test::RunProcess({"ffprobe", "-v", "error", "-show_entries", "stream=bit_rate", "-of", "csv=p=0", built.outputPath},
                     &rate);
    EXPECT_GE(std::atoi(rate.c_str()), 160000) << rate;
    const test::Level level = test::MeasureLevel(built.outputPath);
    EXPECT_LT(level.maxDb, -0.1);
    if (sides[2] == '5') EXPECT_NEAR(level.meanDb, test::MeasureLevel(song).meanDb, 1);
  }
}

TEST(CommandRuns, VolumeAndFades) {
  const std::string input = test::ToneWav(4);
  const FileEntry tone = MediaEntry(input);
  const test::Level before = test::MeasureLevel(input);

  VolumeOptions half;
  half.factor = 0.5f;
  const BuiltCommand halfBuilt = BuildVolumeCommand(tone, half, RunContext());
  ASSERT_TRUE(RunToVerdict(halfBuilt, OperationKind::Volume));
  EXPECT_NEAR(test::MeasureLevel(halfBuilt.outputPath).meanDb - before.meanDb, -6.0, 0.5);
  // From the very start, not only on average.
  EXPECT_NEAR(
      test::MeasureLevel(halfBuilt.outputPath, 0, 0.1).meanDb - test::MeasureLevel(input, 0, 0.1).meanDb,
      -6.0, 1.0);

  VolumeOptions fades;
  fades.fadeIn = true;
  fades.fadeInStart = "0";
  fades.fadeInDuration = "2";
  fades.fadeOut = true;
  fades.fadeOutStart = "0";  // "0": the fade ends with the file
  fades.fadeOutDuration = "1";
  const BuiltCommand fadeBuilt = BuildVolumeCommand(tone, fades, RunContext());
  ASSERT_TRUE(RunToVerdict(fadeBuilt, OperationKind::Volume));
  EXPECT_LT(test::MeasureLevel(fadeBuilt.outputPath, 0, 0.02).meanDb, before.meanDb - 30);
  EXPECT_NEAR(test::MeasureLevel(fadeBuilt.outputPath, 2.2, 0.6).meanDb, before.meanDb, 1.0);
  EXPECT_LT(test::MeasureLevel(fadeBuilt.outputPath, 3.97, 0.03).meanDb, before.meanDb - 25);
}

TEST(CommandRuns, BackgroundMusicStartsAfterItsDelay) {
  const FileEntry main = MediaEntry(SilenceWav(6));
  for (const bool loop : {false, true}) {
    SCOPED_TRACE(loop ? "looped" : "once");
    const std::string music = loop ? test::ToneWav(1) : test::ToneWav(6);
    const BuiltCommand built = BuildBgMusicCommand(main, {music, -6, "3", loop}, RunContext());
    ASSERT_TRUE(RunToVerdict(built, OperationKind::BgMusic)) << built.command.text;
    EXPECT_NEAR(test::Probe(built.outputPath).durationSec, 6.0, 0.1);
    EXPECT_LT(test::MeasureLevel(built.outputPath, 0, 2.9).maxDb, -60);
    EXPECT_GT(test::MeasureLevel(built.outputPath, 3.2, 0.6).meanDb, -40);
    // The looped music goes on past its own second.
    if (loop) {
      EXPECT_GT(test::MeasureLevel(built.outputPath, 5.2, 0.6).meanDb, -40);
    }
  }
}

TEST(CommandRuns, CutLastsItsStretch) {
  const CommandContext ctx = RunContext();
  const FileEntry cutWav = MakeCutEntry(MediaEntry(test::ToneWav(5)), 1.00, 3.50, ctx);
  ASSERT_TRUE(RunToVerdict(BuildCutCommand(cutWav, ctx), OperationKind::Cut));
  EXPECT_NEAR(test::Probe(cutWav.fullPath).durationSec, 2.5, 0.05);

  const FileEntry cutVideo = MakeCutEntry(MediaEntry(test::VideoWithSound(4)), 0.5, 2.0, ctx);
  EXPECT_EQ(Extension(cutVideo.fileName), "mp3");
  ASSERT_TRUE(RunToVerdict(BuildCutCommand(cutVideo, ctx), OperationKind::Cut));
  const test::MediaInfo info = test::Probe(cutVideo.fullPath);
  EXPECT_EQ(info.CountType("video"), 0);
  EXPECT_NEAR(info.durationSec, 1.5, 0.1);
}

// What a result must keep of a tagged source with a cover: the picture's bytes and the tags.
struct Kept {
  explicit Kept(const std::string& source)
      : picture(test::PacketHashes(source, "v:0")), tags(test::Tags(source)) {}
  std::vector<std::string> picture;
  std::map<std::string, std::string> tags;
};

void ExpectKept(const Kept& source, const std::string& result) {
  EXPECT_EQ(test::CoverCount(result), 1);
  EXPECT_FALSE(source.picture.empty());
  EXPECT_EQ(test::PacketHashes(result, "v:0"), source.picture);
  const auto tags = test::Tags(result);
  for (const char* key : {"title", "artist", "album"}) {
    EXPECT_EQ(tags.count(key) ? tags.at(key) : "", source.tags.at(key)) << key;
  }
  EXPECT_EQ(source.tags.at("title"), test::kSampleTitle);
  const test::MediaInfo info = test::Probe(result);
  EXPECT_EQ(info.CountType("audio"), 1);
  EXPECT_GT(info.durationSec, 0.9);
}

TEST(CommandRuns, EveryPageKeepsTheCoverAndTags) {
  const std::string music = test::ToneWav(2, 660);
  const struct {
    const char* source;
    const char* other;  // convert goes from another container
  } containers[] = {{"mp3", "flac"}, {"m4a", "mp3"}, {"flac", "m4a"}};
  for (const auto& c : containers) {
    const FileEntry source = MediaEntry(test::TaggedWithCover(c.source));
    const FileEntry other = MediaEntry(test::TaggedWithCover(c.other));
    const Kept ofSource(source.fullPath), ofOther(other.fullPath);
    const CommandContext ctx = RunContext();
    const std::pair<std::string, BuiltCommand> runs[] = {
        {"convert", BuildConvertCommand(other, {c.source, 0, 0, 0}, ctx)},
        {"speed", BuildSpeedCommand(source, "1.5", ctx)},
        {"extract", BuildExtractCommand(other, c.source, 1, ctx)},
        {"volume", BuildVolumeCommand(source, {0.5f}, ctx)},
        {"background music", BuildBgMusicCommand(source, {music, -12, "1", false}, ctx)},
        {"cut", BuildCutCommand(MakeCutEntry(source, 0.5, 2.5, ctx), ctx)},
        {"merge", BuildMergeCommand({source, MediaEntry(music)}, c.source, ctx)},
    };
    for (const auto& [page, built] : runs) {
      SCOPED_TRACE(std::string(c.source) + " " + page);
      ASSERT_TRUE(RunToVerdict(built, OperationKind::Volume)) << built.command.text;
      EXPECT_EQ(Extension(built.outputPath), c.source);
      ExpectKept(page == "convert" || page == "extract" ? ofOther : ofSource, built.outputPath);
    }
  }
}

TEST(CommandRuns, ResultsWithoutRoomForACoverKeepTheSoundAndTags) {
  const FileEntry mp3 = MediaEntry(test::TaggedWithCover("mp3"));
  const FileEntry m4a = MediaEntry(test::TaggedWithCover("m4a"));
  const FileEntry ogg = MediaEntry(test::TaggedWithCover("ogg"));
  const FileEntry mkv = MediaEntry(test::TaggedWithCover("mkv"));
  const CommandContext ctx = RunContext();
  const std::pair<std::string, BuiltCommand> runs[] = {
      {"mp3 to wav", BuildConvertCommand(mp3, {"wav", 0, 0, 0}, ctx)},
      {"mp3 to ogg", BuildConvertCommand(mp3, {"ogg", 0, 0, 0}, ctx)},
      {"accompaniment to ogg", BuildExtractCommand(mp3, "ogg", 1, ctx)},
      {"m4a to ogg", BuildConvertCommand(m4a, {"ogg", 0, 0, 0}, ctx)},
      {"ogg to mp3", BuildConvertCommand(ogg, {"mp3", 0, 0, 0}, ctx)},
      {"ogg to flac", BuildSpeedCommand(ogg, "1.25", ctx)},
      {"matroska to ogg", BuildConvertCommand(mkv, {"ogg", 0, 0, 0}, ctx)},
      {"matroska to mp3", BuildVolumeCommand(mkv, {0.5f}, ctx)},
  };
  for (const auto& [name, built] : runs) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(RunToVerdict(built)) << built.command.text;
    const test::MediaInfo info = test::Probe(built.outputPath);
    EXPECT_EQ(info.CountType("video"), 0);
    ASSERT_EQ(info.CountType("audio"), 1);
    EXPECT_GT(info.durationSec, 2.0);
    const auto tags = test::Tags(built.outputPath);
    EXPECT_EQ(tags.count("title") ? tags.at("title") : "", test::kSampleTitle);
    EXPECT_EQ(tags.count("artist") ? tags.at("artist") : "", test::kSampleArtist);
    // No empty tag, and none of the containers' bookkeeping ("vendor_id" is four zero bytes,
    // "duration" Matroska's per-stream length, "language" a stream's).
    for (const auto& [key, value] : tags) {
      EXPECT_FALSE(value.empty()) << key;
      for (const char* junk : {"major_brand", "minor_version", "compatible_brands", "handler_name", "vendor_id",
                               "duration", "language"})
        EXPECT_NE(key, junk);
    }
  }
}

// A copy of the tagged mp3 whose cover picture is garbage after its first bytes.
std::string BrokenCoverMp3() {
  const std::string path = test::TempDir() + "/broken-cover.mp3";
  std::ifstream in(test::TaggedWithCover("mp3"), std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t png = data.find("\x89PNG");
  for (size_t i = png + 8; i < png + 200 && i < data.size(); ++i) data[i] = static_cast<char>(i * 37);
  std::ofstream(path, std::ios::binary) << data;
  return path;
}

TEST(CommandRuns, HugeBrokenAndSeveralPicturesNeverCostTheSound) {
  const std::string huge =
      test::MakeMedia("huge-cover.mp3", {"-f", "lavfi", "-i", "sine=duration=2", "-f", "lavfi", "-i",
                                         "nullsrc=s=2400x2400:d=1,format=bgr24", "-map", "0:a", "-map", "1:v",
                                         "-frames:v", "1", "-c:v", "bmp", "-disposition:v", "attached_pic"});
  const std::string several = test::MakeMedia("two-covers.mp3", {"-f",
                                                                 "lavfi",
                                                                 "-i",
                                                                 "sine=duration=2",
                                                                 "-f",
                                                                 "lavfi",
                                                                 "-i",
                                                                 "testsrc=s=32x32:d=1",
                                                                 "-f",
                                                                 "lavfi",
                                                                 "-i",
                                                                 "testsrc=s=48x48:d=1",
                                                                 "-map",
                                                                 "0:a",
                                                                 "-map",
                                                                 "1:v",
                                                                 "-map",
                                                                 "2:v",
                                                                 "-frames:v",
                                                                 "1",
                                                                 "-c:v:0",
                                                                 "png",
                                                                 "-c:v:1",
                                                                 "gif",
                                                                 "-disposition:v",
                                                                 "attached_pic"});
  const std::string broken = BrokenCoverMp3();
  const double brokenSec = test::Probe(test::TaggedWithCover("mp3")).durationSec;  // the copy's sound
  const struct {
    std::string source;
    const char* format;
    int covers;
    double seconds;
  } cases[] = {
      {huge, "mp3", 1, 2},           {huge, "flac", 0, 2},  // a FLAC picture block holds less than 16 MiB
      {several, "mp3", 2, 2},        {several, "flac", 1, 2},       {several, "m4a", 1, 2},
      {broken, "mp3", 0, brokenSec}, {broken, "m4a", 0, brokenSec},
  };
  for (const auto& c : cases) {
    const BuiltCommand built = BuildConvertCommand(MediaEntry(c.source), {c.format, 0, 0, 0}, RunContext());
    SCOPED_TRACE(built.command.text);
    ASSERT_TRUE(RunToVerdict(built));
    EXPECT_EQ(test::CoverCount(built.outputPath), c.covers);
    EXPECT_NEAR(test::Probe(built.outputPath).durationSec, c.seconds, 0.1);
  }
}

TEST(CommandRuns, AResultWithACoverHoldsTheSoundTheTranscoderChooses) {
  // The second sound stream is the default one (and has more channels): the transcoder's own
  // choice, which mapping the cover must not change.
  const std::string source =
      test::MakeMedia("two-sounds-second-default.m4a", {"-f",
                                                        "lavfi",
                                                        "-i",
                                                        "sine=frequency=440:duration=2",
                                                        "-f",
                                                        "lavfi",
                                                        "-i",
                                                        "sine=frequency=880:duration=2",
                                                        "-f",
                                                        "lavfi",
                                                        "-i",
                                                        "testsrc=s=32x32:d=1",
                                                        "-map",
                                                        "0:a",
                                                        "-map",
                                                        "1:a",
                                                        "-map",
                                                        "2:v",
                                                        "-frames:v",
                                                        "1",
                                                        "-c:a",
                                                        "aac",
                                                        "-ac:a:1",
                                                        "2",
                                                        "-c:v",
                                                        "png",
                                                        "-disposition:a:0",
                                                        "0",
                                                        "-disposition:a:1",
                                                        "default",
                                                        "-disposition:v",
                                                        "attached_pic"});
  const BuiltCommand built = BuildConvertCommand(MediaEntry(source), {"mp3", 0, 0, 4}, RunContext());
  ASSERT_TRUE(RunToVerdict(built)) << built.command.text;
  EXPECT_EQ(test::CoverCount(built.outputPath), 1);
  EXPECT_GT(test::BandLevelDb(built.outputPath, 850, 910, 0.5, 1),
            test::BandLevelDb(built.outputPath, 410, 470, 0.5, 1) + 20)
      << "the 880 Hz stream";
}

TEST(CommandRuns, ConvertKeepsWhatIsLeftUnchanged) {
  const FileEntry mp3 = MediaEntry(test::TaggedWithCover("mp3"));  // 192 kb/s
  const FileEntry speech = MediaEntry(test::ToneWav(2, 440, 22050, 1));
  const CommandContext ctx = RunContext();
  const struct {
    const FileEntry* source;
    ConvertOptions options;
    long bitRate;
    int rate, channels;
  } cases[] = {
      {&mp3, {"mp3", 0, 0, 0}, 192000, 44100, 2},
      {&mp3, {"mp3", 0, 0, 3}, 192000, 44100, 2},
      {&mp3, {"mp3", 0, 0, 2}, 256000, 44100, 2},
      {&speech, {"mp3", 0, 0, 0}, 160000, 22050, 1},  // MPEG-2's highest: the source's is higher
      {&speech, {"ogg", 0, 0, 0}, 80000, 22050, 1},
  };
  for (const auto& c : cases) {
    const BuiltCommand built = BuildConvertCommand(*c.source, c.options, ctx);
    SCOPED_TRACE(built.command.text);
    ASSERT_TRUE(RunToVerdict(built));
    EXPECT_EQ(test::SoundBitRate(built.outputPath), c.bitRate);
    const test::MediaInfo info = test::Probe(built.outputPath);
    const test::StreamInfo* sound = info.First("audio");
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(sound->sampleRate, c.rate);
    EXPECT_EQ(sound->channels, c.channels);
  }
  // VBR: LAME marks a variable bit rate file with "Xing" in its first frame (a constant one "Info").
  const BuiltCommand vbr = BuildConvertCommand(MediaEntry(test::NoiseWav(2)), {"mp3", 0, 0, kVbrIndex}, ctx);
  ASSERT_TRUE(RunToVerdict(vbr));
  std::ifstream file(vbr.outputPath, std::ios::binary);
  std::string head(4096, '\0');
  file.read(head.data(), static_cast<std::streamsize>(head.size()));
  EXPECT_NE(head.find("Xing"), std::string::npos);
}

TEST(CommandRuns, MergeTakesTheHighestRateAndChannelCount) {
  const FileEntry speech = MediaEntry(test::ToneWav(1, 440, 22050, 1));
  const FileEntry music = MediaEntry(test::ToneWav(1, 660, 44100, 2));
  for (const auto& files : {std::vector<FileEntry>{speech, music}, std::vector<FileEntry>{music, speech}}) {
    const BuiltCommand built = BuildMergeCommand(files, "wav", RunContext());
    ASSERT_TRUE(RunToVerdict(built, OperationKind::Merge)) << built.command.text;
    const test::MediaInfo info = test::Probe(built.outputPath);
    ASSERT_NE(info.First("audio"), nullptr);
    EXPECT_EQ(info.First("audio")->sampleRate, 44100);
    EXPECT_EQ(info.First("audio")->channels, 2);
    EXPECT_NEAR(info.durationSec, 2.0, 0.05);
  }
}

TEST(CommandRuns, BackgroundMusicKeepsTheMainLevelAndNeverClips) {
  // Both near full scale: their plain sum would clip.
  const std::string voice =
      test::MakeMedia("loud-voice-5s.wav",
                      {"-f", "lavfi", "-i", "aevalsrc=0.9*sin(2*PI*440*t)|0.9*sin(2*PI*440*t):s=44100:d=5"});
  const std::string music =
      test::MakeMedia("loud-music-5s.wav", {"-f", "lavfi", "-i", "aevalsrc=0.9*sin(2*PI*300*t):s=44100:d=5"});
  ASSERT_GT(test::MeasureLevel(voice).maxDb, -1.5) << "the sample is not as loud as meant";
  for (const std::string& main :
       {voice, test::MakeMedia("loud-voice-5s.mp3", {"-i", voice, "-b:a", "192k"})}) {
    SCOPED_TRACE(main);
    const BuiltCommand built = BuildBgMusicCommand(MediaEntry(main), {music, 0, "2", false}, RunContext());
    ASSERT_TRUE(RunToVerdict(built, OperationKind::BgMusic)) << built.command.text;
    // Before the music starts the main file is as it was; with it, nothing reaches full scale.
    EXPECT_NEAR(test::MeasureLevel(built.outputPath, 0.2, 1.5).meanDb,
                test::MeasureLevel(main, 0.2, 1.5).meanDb, 0.5);
    EXPECT_LT(test::MeasureLevel(built.outputPath, 2.1).maxDb, -0.1);
  }
  // Music of a lower rate and fewer channels never lowers the main file's; more channels are kept.
  const std::string mono48k = test::ToneWav(2, 440, 48000, 1);
  const std::string stereo48k = test::ToneWav(2, 440, 48000, 2);
  const std::string mono22k = test::ToneWav(2, 660, 22050, 1);
  const std::string stereo44k = test::ToneWav(2, 660, 44100, 2);
  const struct {
    std::string main, music;
    int rate, channels;
  } formats[] = {
      {stereo48k, mono22k, 48000, 2}, {mono48k, stereo44k, 48000, 2}, {mono22k, stereo48k, 48000, 2}};
  for (const auto& f : formats) {
    const BuiltCommand built =
        BuildBgMusicCommand(MediaEntry(f.main), {f.music, -6, "1", false}, RunContext());
    SCOPED_TRACE(built.command.text);
    ASSERT_TRUE(RunToVerdict(built, OperationKind::BgMusic));
    const test::MediaInfo info = test::Probe(built.outputPath);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.First("audio")->sampleRate, f.rate);
    EXPECT_EQ(info.First("audio")->channels, f.channels);
    // A one-channel main file is heard at its own level on both sides.
    EXPECT_NEAR(test::MeasureLevel(built.outputPath, 0.2, 0.6).meanDb, test::MeasureLevel(f.main, 0.2, 0.6).meanDb, 1);
  }
}

TEST(CommandRuns, SameSecondRunsBothSucceed) {
  // Both start before either has written its file, under one designed name: each publishes a
  // result of its own.
  const FileEntry tone = MediaEntry(test::ToneWav(2));
  const CommandContext ctx = RunContext();
  const BuiltCommand first = BuildSpeedCommand(tone, "1.5", ctx);
  const BuiltCommand second = BuildSpeedCommand(tone, "1.5", ctx);
  test::QueueSink sink;
  ASSERT_TRUE(StartTranscoder(first.command, 1, OperationKind::Speed, &sink));
  ASSERT_TRUE(StartTranscoder(second.command, 2, OperationKind::Speed, &sink));
  std::set<std::string> published;
  for (int i = 0; i < 2; ++i) {
    auto verdict =
        sink.WaitMatch([](const Message& m) { return m.id == WM_TASK_DONE || m.id == WM_TASK_FAILED; },
                       std::chrono::seconds(60));
    ASSERT_TRUE(verdict.has_value());
    ASSERT_EQ(verdict->id, WM_TASK_DONE);
    published.insert(verdict->As<FinishRecord>()->outputPath);
  }
  const std::string second2 = first.outputPath.substr(0, first.outputPath.size() - 4) + "-2.wav";
  EXPECT_EQ(published, (std::set<std::string>{first.outputPath, second2}));
  for (const std::string& path : published) EXPECT_NEAR(test::Probe(path).durationSec, 1.333, 0.1);
}

// The one table of hostile file names: for every operation, each name reaches the transcoder as
// exactly one argument, byte for byte, and the result's name keeps it. A stand-in transcoder
// records the argument vector it was started with.
TEST(CommandRuns, HostileNamesReachTheChildAsOneArgumentEach) {
  const std::string dir = test::TempDir();
  const std::string recorded = dir + "/args";
  const std::string standIn = dir + "/record-args";
  // It also lists what it holds open (from a subshell, so that the listing's own redirection is
  // not among them): its input, output and errors, and the script itself.
  std::ofstream(standIn) << "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" << recorded << "'\n(ls -l /proc/$$/fd) > '"
                         << recorded << ".fds'\n";
  fs::permissions(standIn, fs::perms::owner_all);
  const auto argumentsSeen = [&](const BuiltCommand& built) {
    fs::remove(recorded);
    test::QueueSink sink;
    EXPECT_TRUE(StartTranscoder(built.command, 1, OperationKind::Convert, &sink));
    EXPECT_TRUE(
        sink.WaitMatch([](const Message& m) { return m.id == WM_TASK_DONE || m.id == WM_TASK_FAILED; },
                       std::chrono::seconds(30)));
    std::ifstream fds(recorded + ".fds");
    for (std::string line; std::getline(fds, line);) {
      const size_t arrow = line.find(" -> ");
      if (arrow == std::string::npos) continue;
      const int fd = std::atoi(line.substr(line.rfind(' ', arrow - 1) + 1).c_str());
      if (fd > 2) EXPECT_EQ(line.substr(arrow + 4), standIn) << "descriptor " << fd << " reached the child";
    }
    std::ifstream in(recorded, std::ios::binary);
    std::vector<std::string> args{standIn};
    for (std::string arg; std::getline(in, arg, '\0');) args.push_back(arg);
    return args;
  };
  const auto count = [](const std::vector<std::string>& args, const std::string& value) {
    return std::count(args.begin(), args.end(), value);
  };
  const FileEntry plain = MediaEntry(test::ToneWav(1));
  for (const std::string& name : test::HostileNames()) {
    SCOPED_TRACE(name);
    const std::string path = dir + "/" + name;
    fs::copy_file(test::ToneWav(1), path, fs::copy_options::overwrite_existing);
    const FileEntry entry = EntryForPath(path);
    CommandContext ctx = RunContext();
    ctx.transcoder = standIn;
    VolumeOptions fades;
    fades.fadeOut = true;
    fades.fadeOutStart = "0";
    fades.fadeOutDuration = "1";
    const struct {
      const char* operation;
      BuiltCommand built;
      std::vector<std::string> inputs;  // each must arrive once, unchanged
    } runs[] = {
        {"convert", BuildConvertCommand(entry, {"mp3", 1, 2, 3}, ctx), {path}},
        {"merge", BuildMergeCommand({entry, plain}, "wav", ctx), {path, plain.fullPath}},
        {"speed", BuildSpeedCommand(entry, "1.5", ctx), {path}},
        {"extract", BuildExtractCommand(entry, "mp3", 1, ctx), {path}},
        {"volume", BuildVolumeCommand(entry, fades, ctx), {path}},
        {"music", BuildBgMusicCommand(plain, {path, -3, "0", true}, ctx), {plain.fullPath, path}},
        {"cut", BuildCutCommand(MakeCutEntry(entry, 0.2, 0.8, ctx), ctx), {path}},
    };
    for (const auto& run : runs) {
      SCOPED_TRACE(run.operation);
      ASSERT_TRUE(run.built.ok) << run.built.message;
      const std::vector<std::string> seen = argumentsSeen(run.built);
      ASSERT_FALSE(seen.empty());
      // The child writes under a partial name beside the result, and is given nothing else new.
      const std::string written = seen.back();
      EXPECT_TRUE(IsPartialName(fs::path(written).filename().string())) << written;
      EXPECT_EQ(fs::path(written).parent_path(), fs::path(run.built.outputPath).parent_path());
      std::vector<std::string> expected = run.built.command.args;
      expected.back() = written;
      EXPECT_EQ(seen, expected);
      for (const std::string& input : run.inputs) EXPECT_EQ(count(seen, input), 1);
      EXPECT_EQ(fs::path(run.built.outputPath).parent_path(), fs::path(ctx.outputFolder));
      if (run.inputs.front() == path && std::string(run.operation) != "merge") {
        EXPECT_EQ(fs::path(run.built.outputPath).filename().string().rfind(BaseName(name), 0), 0u)
            << "the result's name starts with the source's";
      }
    }
    EXPECT_TRUE(fs::exists(path));
  }
  EXPECT_FALSE(fs::exists(dir + "/pwned"));
  EXPECT_FALSE(fs::exists("pwned"));
}

// The real transcoder takes such names too, and unreadable input fails visibly and keeps the
// input as it was.
TEST(CommandRuns, TheTranscoderTakesHostileNamesAndRefusesBrokenInput) {
  const std::string dir = test::TempDir();
  const std::string path = dir + "/-i $(touch pwned) it's \"q\" 中文.wav";
  fs::copy_file(test::ToneWav(1), path);
  CommandContext ctx = RunContext();
  ctx.outputFolder = dir;
  const BuiltCommand built = BuildVolumeCommand(MediaEntry(path), {0.5f}, ctx);
  EXPECT_TRUE(RunToVerdict(built, OperationKind::Volume));
  EXPECT_NEAR(test::DecodedSeconds(built.outputPath), 1.0, 0.05);
  EXPECT_FALSE(fs::exists(dir + "/pwned"));

  const std::string text = dir + "/text.mp3";
  fs::copy_file(test::TextNamedMp3(), text);
  const auto sizeBefore = fs::file_size(text);
  EXPECT_FALSE(RunToVerdict(BuildSpeedCommand(MediaEntry(text), "2.0", RunContext()), OperationKind::Speed));
  EXPECT_FALSE(
      RunToVerdict(BuildConvertCommand(EntryForPath(dir + "/missing.wav"), {"mp3", 0, 0, 0}, RunContext())));
  EXPECT_EQ(fs::file_size(text), sizeBefore);
}

// A result named after its source keeps the source's extension only when the transcoder can
// write that format; an input without one, or with one it only reads (ape), gives mp3.
TEST(CommandRuns, ResultsOfSourcesWithoutAWritableExtensionCanBeWritten) {
  for (const char* name : {"noextension", "song.ape", "song.APE"}) {
    SCOPED_TRACE(name);
    const FileEntry source = MediaEntry(test::CopyAs(test::ToneWav(2), name));
    const struct {
      const char* operation;
      BuiltCommand built;
    } runs[] = {
        {"speed", BuildSpeedCommand(source, "2.0", RunContext())},
        {"volume", BuildVolumeCommand(source, {0.5f}, RunContext())},
        {"music", BuildBgMusicCommand(source, {test::ToneWav(1), -6, "0", false}, RunContext())},
    };
    for (const auto& run : runs) {
      SCOPED_TRACE(run.operation);
      EXPECT_TRUE(RunToVerdict(run.built)) << run.built.command.text;
      EXPECT_EQ(Extension(run.built.outputPath), "mp3");
      EXPECT_GT(test::DecodedSeconds(run.built.outputPath), 0.9);
    }
  }
}

TEST(CommandRuns, ConvertOntoItselfLeavesTheInputIntact) {
  const std::string dir = test::TempDir();
  const std::string input = dir + "/song.wav";
  fs::copy_file(test::ToneWav(1), input);
  const auto sizeBefore = fs::file_size(input);
  CommandContext ctx = RunContext();
  ctx.outputFolder = dir;
  const BuiltCommand built = BuildConvertCommand(MediaEntry(input), {"wav", 0, 5, 0}, ctx);
  std::string published;
  ASSERT_TRUE(RunToVerdict(built, OperationKind::Convert, &published));
  EXPECT_EQ(fs::file_size(input), sizeBefore);
  EXPECT_EQ(published, dir + "/song-2.wav");
  EXPECT_EQ(test::Probe(published).First("audio")->sampleRate, 22050);
}

TEST(CommandRuns, ContextComesFromTheSettings) {
  const std::string out = test::TempDir() + "/结果 folder";
  ASSERT_TRUE(SettingsFile::Instance().WriteString(kSettingsSection, kKeyOutputDir, out));
  ASSERT_TRUE(SettingsFile::Instance().WriteInt(kSettingsSection, kKeyAudioQuality, 1));
  CommandContext ctx = CurrentCommandContext();
  EXPECT_EQ(ctx.outputFolder, out);
  EXPECT_TRUE(fs::is_directory(out));
  EXPECT_EQ(ctx.bitRate, 320000);
  EXPECT_EQ(ctx.timestamp.size(), 14u);
  ASSERT_TRUE(SettingsFile::Instance().WriteInt(kSettingsSection, kKeyAudioQuality, 0));
  ctx = CurrentCommandContext();
  EXPECT_EQ(ctx.bitRate, 128000);
  const BuiltCommand built = BuildSpeedCommand(MediaEntry(test::ToneMp3(1)), "1.25", ctx);
  EXPECT_NE(built.command.text.find("-ab 128000"), std::string::npos);
  ASSERT_TRUE(RunToVerdict(built, OperationKind::Speed));
  EXPECT_EQ(fs::path(built.outputPath).parent_path(), fs::path(out));
}

}  // namespace
}  // namespace tw
