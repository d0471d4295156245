#include "tasks/Commands.h"

#include <glog/logging.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <map>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include "app/MediaHelpers.h"
#include "app/SettingsFile.h"
#include "app/Translation.h"
#include "tasks/FailureReason.h"
#include "tasks/Transcoder.h"

extern char** environ;

namespace tw {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  return std::string(text.substr(b, e - b));
}

// Fills each "%s" or "%d" of a template with the next value, in order. The templates hold no
// other conversions, so the text cannot be cut or misread whatever the values contain.
std::string FillTemplate(std::string_view tmpl, std::initializer_list<std::string> values) {
  std::string out;
  auto next = values.begin();
  for (size_t i = 0; i < tmpl.size(); ++i) {
    if (tmpl[i] == '%' && i + 1 < tmpl.size() && (tmpl[i + 1] == 's' || tmpl[i + 1] == 'd') &&
        next != values.end()) {
      out += *next++;
      ++i;
    } else {
      out += tmpl[i];
    }
  }
  return out;
}

// A path as the child gets it: one starting with "-" would be read as an option.
std::string PathArg(const std::string& path) {
  // Neither an option ("-x") nor, for the transcoder, a protocol ("http:x", "pipe:0").
  const size_t colon = path.find(':');
  const bool protocolLike = colon != std::string::npos && path.find('/') > colon;
  return !path.empty() && (path[0] == '-' || protocolLike) ? "./" + path : path;
}

// The background music mix's ceiling: 1 dB below full scale, which lossy encoders' own
// overshoot stays within.
constexpr const char* kMixLimit = "0.891251";

std::string NumberedPath(const std::string& folder, const std::string& stem, const std::string& ext) {
  return folder + "/" + stem + (ext.empty() ? "" : "." + ext);
}

// The name a result is designed to carry. Whether it is free is decided when the result is
// published (ResultFile), never here: a name checked now may be taken before the run ends.
std::string FreeOutputPath(const CommandContext& ctx, const std::string& stem, const std::string& ext) {
  return NumberedPath(ctx.outputFolder, stem, ext);
}

std::string ConvertOutputPath(const FileEntry& entry, const std::string& format, const CommandContext& ctx) {
  return NumberedPath(ctx.outputFolder, BaseName(entry.fileName), format);
}

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

void Append(std::vector<std::string>& to, const std::vector<std::string>& words) {
  to.insert(to.end(), words.begin(), words.end());
}

bool KeepsCovers(const MediaFacts& facts, std::string_view format) {
  for (const CoverPicture& picture : facts.covers) {
    if (CanHoldCover(format, picture)) return true;
  }
  return false;
}

// Where a template selects its streams with "-vn": that, or the pictures the result keeps
// instead; and the tag arguments of KeepArgs.
std::vector<std::string> StreamArgs(const MediaFacts& facts, std::string_view format) {
  std::vector<std::string> args = KeepArgs(facts, format, 0, false);
  if (!KeepsCovers(facts, format)) args.insert(args.begin(), "-vn");
  return args;
}

// " " + the words, or "" for none: for a template without a place of its own for them.
std::string Suffix(const std::vector<std::string>& words) {
  return words.empty() ? "" : " " + Joined(words);
}

// The name of the standard layout of a channel count ("mono", "stereo", "5.1", ...).
std::string LayoutName(int channels) {
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, channels);
  char name[64] = {};
  av_channel_layout_describe(&layout, name, sizeof name);
  av_channel_layout_uninit(&layout);
  return name;
}

// Filters that bring every input of a merge to the highest rate and channel count among them,
// labelled [m0], [m1] ..., followed by those labels; "" when the inputs already agree (or
// nothing is known of them), so that the concat filter, which takes the first input's format
// for the whole, loses nothing.
// The shape of the joined sound: the highest rate and channel count of the files, in the default
// layout of that count where they differ (as MergeFormatFilters makes it), else the first's.
MediaFacts JoinedShape(const std::vector<FileEntry>& entries, bool* differ) {
  MediaFacts joined;
  for (const FileEntry& e : entries) {
    joined.sampleRate = std::max(joined.sampleRate, e.facts.sampleRate);
    joined.channels = std::max(joined.channels, e.facts.channels);
  }
  *differ = false;
  for (const FileEntry& e : entries) {
    *differ = *differ || (e.facts.sampleRate && e.facts.sampleRate != joined.sampleRate) ||
              (e.facts.channels && e.facts.channels != joined.channels);
  }
  joined.layout = *differ ? LayoutName(joined.channels) : entries.empty() ? "" : entries.front().facts.layout;
  return joined;
}

std::string MergeFormatFilters(const std::vector<FileEntry>& entries) {
  bool differ = false;
  const MediaFacts joined = JoinedShape(entries, &differ);
  const int rate = joined.sampleRate, channels = joined.channels;
  if (!differ) return "";
  std::string format = "aformat=";
  if (rate) format += "sample_rates=" + std::to_string(rate);
  if (channels) format += std::string(rate ? ":" : "") + "channel_layouts=" + LayoutName(channels);
  std::string filters, labels;
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string n = std::to_string(i);
    filters += "[" + n + ":a]" + format + "[m" + n + "];";
    labels += "[m" + n + "]";
  }
  return filters + labels;
}

// How a background-music mix brings its two inputs together: the format of the result (the
// highest rate and channel count of the two, as ",aformat=..." for the end of the graph, since
// the mix would take the music's alone; "" when either is unknown or both are the same), and a
// one-channel input of a two-channel mix heard at its own level on both sides (the automatic
// up-mix would put it 3 dB down).
struct MixShape {
  std::string format;
  std::string upMain, upMusic;  // "pan=..." for that input, or ""
};
MixShape ShapeOfMix(const MediaFacts& main, const BgMusicOptions& options) {
  MixShape shape;
  if (main.sampleRate <= 0 || main.channels <= 0) return shape;
  const MediaFacts music =
      options.musicFacts.sampleRate > 0 ? options.musicFacts : ProbeMedia(options.musicPath).facts;
  if (music.sampleRate <= 0 || music.channels <= 0) return shape;
  if (music.sampleRate == main.sampleRate && music.channels == main.channels) return shape;
  const int channels = std::max(main.channels, music.channels);
  shape.format = ",aformat=sample_rates=" + std::to_string(std::max(main.sampleRate, music.sampleRate)) +
                 ":channel_layouts=" + LayoutName(channels);
  const char* both = "pan=stereo|c0=c0|c1=c0";
  if (channels == 2) (main.channels == 1 ? shape.upMain : shape.upMusic) = both;
  return shape;
}

// message: a source text of Commands.h, shown in the language in use.
// The refusal of a time that does not lie within the file: message's %1 is its length.
BuiltCommand RefusePastEnd(const char* message, double fileSeconds) {
  char length[32];
  std::snprintf(length, sizeof length, "%.1f", fileSeconds);
  BuiltCommand refused;
  refused.message = FormatText(Tr("Commands", message), {length});
  return refused;
}

BuiltCommand Refuse(const std::string& message) {
  BuiltCommand built;
  built.message = Tr("Commands", message.c_str());
  return built;
}

BuiltCommand Finish(std::string outputPath, CommandLine cmd) {
  BuiltCommand built;
  if (std::string refusal = CheckCommandFits(cmd); !refusal.empty()) return Refuse(refusal);
  built.ok = true;
  built.outputPath = std::move(outputPath);
  built.command = std::move(cmd);
  return built;
}

// A format text becomes a file extension: letters and digits only, so it cannot name
// another folder or carry blanks into the command.
bool IsPlainFormat(std::string_view format) {
  if (format.empty() || format.size() > 16) return false;
  for (char c : format) {
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool IsSpeedNumber(std::string_view text) {
  if (text.empty() || text.size() > 16) return false;
  bool digit = false, dot = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !dot) {
      dot = true;
    } else {
      return false;
    }
  }
  return digit;
}

// The extension of a result named after its source: the source's own when the transcoder can
// write that format (case kept), otherwise "mp3" (a source without one, or with one the
// transcoder only reads, such as ape).
std::string ResultExtension(const std::string& sourceExtension) {
  return CanWriteFormat(Lower(sourceExtension)) ? sourceExtension : "mp3";
}

int ClampedInt(std::string_view text) {
  const long long value = LeadingInt(text);
  return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

}  // namespace

const char* CheckSpeed(std::string_view speed) {
  if (!IsSpeedNumber(speed)) return kMsgBadSpeed;
  // The filter takes the factor in hundredths: 1.004 is 1.00 too.
  if (std::fabs(std::strtod(std::string(speed).c_str(), nullptr) - 1.0) < 0.005) return kMsgSpeedUnchanged;
  return "";
}

std::string LocalTimestamp(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof(text), "%Y%m%d%H%M%S", &local);
  return text;
}

int QualityBitRate(int audioQuality) {
  return audioQuality == 0 ? 128000 : 320000;
}

CommandContext CurrentCommandContext() {
  CommandContext ctx;
  ctx.transcoder = TranscoderPath();
  ctx.outputFolder = GetOutputFolder();
  while (ctx.outputFolder.size() > 1 && ctx.outputFolder.back() == '/') ctx.outputFolder.pop_back();
  ctx.timestamp = LocalTimestamp(std::time(nullptr));
  ctx.bitRate = QualityBitRate(SettingsFile::Instance().GetInt(kSettingsSection, kKeyAudioQuality, 0));
  return ctx;
}

std::string BaseName(std::string_view fileName) {
  const size_t dot = fileName.rfind('.');
  return std::string(dot == std::string_view::npos ? fileName : fileName.substr(0, dot));
}

std::string Extension(std::string_view fileName) {
  const size_t dot = fileName.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(fileName.substr(dot + 1));
}

bool IsUnsupportedExtension(std::string_view extension) {
  const std::string lower = Lower(extension);
  for (const char* ext : {"ncm", "mgg", "mflac", "kgm", "kgma"}) {
    if (lower == ext) return true;
  }
  return false;
}

std::string CheckCommandFits(const CommandLine& cmd) {
  const long page = sysconf(_SC_PAGESIZE);
  const size_t perArgument = static_cast<size_t>(page > 0 ? page : 4096) * 32;
  const long argMax = sysconf(_SC_ARG_MAX);
  size_t total = 0;
  for (const std::string& arg : cmd.args) {
    if (arg.size() + 1 > perArgument) return kMsgCommandTooLong;
    total += arg.size() + 1 + sizeof(char*);
  }
  for (char** env = environ; env && *env; ++env) total += std::strlen(*env) + 1 + sizeof(char*);
  // A little room for what the kernel and the loader add.
  if (argMax > 0 && total + 4096 > static_cast<size_t>(argMax)) return kMsgCommandTooLong;
  return "";
}

// ---- Keeping what the source carries ----------------------------------------------------

std::vector<std::string> KeepArgs(const MediaFacts& facts, std::string_view format, int pictureInput,
                                  bool soundMapped) {
  std::vector<std::string> args;
  const std::string pictures = std::to_string(pictureInput) + ":v:";
  for (const CoverPicture& picture : facts.covers) {
    if (!CanHoldCover(format, picture)) continue;
    if (args.empty() && !soundMapped) args = {"-map", "0:a:" + std::to_string(std::max(facts.soundIndex, 0))};
    Append(args, {"-map", pictures + std::to_string(picture.videoIndex)});
  }
  if (!args.empty()) Append(args, {"-c:v", "copy"});
  if (facts.tagsOnSound && facts.soundIndex >= 0)
    Append(args, {"-map_metadata", "0:s:a:" + std::to_string(facts.soundIndex)});
  for (const std::string& key : facts.bookkeepingTags) Append(args, {"-metadata", key + "="});
  // The sound stream's tags go along whether it is copied or encoded again (and become the
  // file's where the tags live on the stream, as in Ogg).
  for (const std::string& key : facts.soundBookkeepingTags) {
    Append(args, {"-metadata:s:a:0", key + "="});
    if (facts.tagsOnSound) Append(args, {"-metadata", key + "="});
  }
  return args;
}

// ---- Convert ----------------------------------------------------------------------------

int BitRateIndex(long bitRate) {
  for (size_t i = 0; i < std::size(kBitRateChoices); ++i) {
    if (kBitRateChoices[i] == bitRate) return static_cast<int>(i) + 1;
  }
  return -1;
}

namespace {

// The nearest of a table of rates in kbit/s (the higher one on a tie), in bit/s.
int NearestOf(std::initializer_list<int> kbps, std::int64_t bitRate) {
  int best = 0;
  std::int64_t bestDistance = -1;
  for (const int rate : kbps) {
    const std::int64_t distance = std::llabs(rate * 1000LL - bitRate);
    if (bestDistance < 0 || distance <= bestDistance) {
      best = rate * 1000;
      bestDistance = distance;
    }
  }
  return best;
}

int Clamped(std::int64_t bitRate, int low, int high) {
  return static_cast<int>(std::clamp<std::int64_t>(bitRate, low, high));
}

// What libvorbis takes, by rate and channels: it knows no rate above 48 kHz and no bit rate
// for more than two channels.
int VorbisBitRate(std::int64_t bitRate, int rate, int channels) {
  static const struct {
    int upToRate;
    int monoLow, monoHigh, stereoLow, stereoHigh;
  } kRanges[] = {{8000, 8000, 40000, 12000, 80000},     {12000, 12000, 48000, 16000, 96000},
                 {16000, 16000, 96000, 24000, 192000},  {24000, 16000, 80000, 32000, 160000},
                 {32000, 32000, 160000, 40000, 320000}, {48000, 32000, 224000, 48000, 500000}};
  if (channels > 2) return 0;
  for (const auto& r : kRanges) {
    if (rate > r.upToRate) continue;
    return channels == 1 ? Clamped(bitRate, r.monoLow, r.monoHigh)
                         : Clamped(bitRate, r.stereoLow, r.stereoHigh);
  }
  return 0;
}

}  // namespace

int NearestBitRate(std::string_view format, std::int64_t bitRate, int outRate, int outChannels) {
  if (bitRate <= 0) return 0;
  const std::string f = Lower(format);
  const int rate = outRate > 0 ? outRate : 44100;
  const int channels = outChannels > 0 ? outChannels : 2;
  const bool lowRate = rate < 32000;  // MPEG-2 and 2.5 take their own, lower rates
  if (f == "mp3") {
    return lowRate ? NearestOf({8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}, bitRate)
                   : NearestOf({32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}, bitRate);
  }
  if (f == "mp2") {
    return lowRate ? NearestOf({8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}, bitRate)
                   : NearestOf({32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384}, bitRate);
  }
  if (f == "ac3")
    return NearestOf({32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640},
                     bitRate);
  if (f == "aac" || f == "m4a") return Clamped(bitRate, 8000, 320000);
  if (f == "wma") return Clamped(bitRate, 24000, 320000);
  if (f == "opus") return Clamped(bitRate, 6000, std::min(256000 * channels, 512000));
  if (f == "ogg") return VorbisBitRate(bitRate, rate, channels);
  return 0;
}

namespace {

// The sample rate nearest to rate that the encoder the transcoder picks for format takes (the same
// libraries answer in this process); rate itself when the encoder takes any, or 0 for 0.
int EncoderSampleRate(const std::string& format, int rate) {
  if (rate <= 0) return rate;
  const std::string name = "result." + Lower(format);
  const AVOutputFormat* muxer = av_guess_format(nullptr, name.c_str(), nullptr);
  const AVCodec* encoder = muxer ? avcodec_find_encoder(muxer->audio_codec) : nullptr;
  if (!encoder || !encoder->supported_samplerates) return rate;
  int best = 0;
  for (const int* r = encoder->supported_samplerates; *r; ++r)
    if (best == 0 || std::abs(*r - rate) < std::abs(best - rate)) best = *r;
  return best ? best : rate;
}

// What a result in format needs beyond the source's shape where the encoder cannot take that shape
// (the page leaving channels and rate as the source's): WMA holds at most two channels at up to
// 48 kHz; Opus holds the layouts of its channel families only, and makes one of them from the
// default layout of 5 to 8 channels.
std::vector<std::string> EncoderFitArgs(const std::string& format, const MediaFacts& source, bool channelsChosen,
                                        bool rateChosen) {
  static const char* const kOpusLayouts[] = {"mono", "stereo", "3.0", "quad", "5.0", "5.1", "6.1", "7.1"};
  const std::string f = Lower(format);
  int channels = 0, rate = 0;
  if (f == "wma") {
    if (source.channels > 2) channels = 2;
    if (source.sampleRate > 48000) rate = 48000;
  } else if (f == "opus" && source.channels > 2 &&
             std::find(std::begin(kOpusLayouts), std::end(kOpusLayouts), source.layout) == std::end(kOpusLayouts)) {
    channels = source.channels >= 5 ? std::min(source.channels, 8) : 2;
  }
  std::vector<std::string> args;
  if (channels && !channelsChosen) Append(args, {"-ac", std::to_string(channels)});
  if (rate && !rateChosen) Append(args, {"-ar", std::to_string(rate)});
  return args;
}

}  // namespace

std::string ConvertOptionText(const ConvertOptions& options, const MediaFacts& source) {
  static const int kChannels[] = {0, 2, 1};
  static const int kRates[] = {0, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
  auto pick = [](const auto& table, int index) {
    const int size = static_cast<int>(std::size(table));
    return index >= 0 && index < size ? table[index] : 0;
  };
  std::string text;
  const int channels = pick(kChannels, options.channelIndex);
  // A chosen rate the format's encoder does not take becomes the nearest one it does.
  const int rate = EncoderSampleRate(options.format, pick(kRates, options.sampleRateIndex));
  if (channels) text += " -ac " + std::to_string(channels);
  if (rate) text += " -ar " + std::to_string(rate);
  for (const std::string& arg : EncoderFitArgs(options.format, source, channels != 0, rate != 0)) text += " " + arg;
  const int index = options.bitRateIndex;
  if (index == kVbrIndex && Lower(options.format) == "mp3") return text + " -q:a 2";
  if (index >= 1 && index <= static_cast<int>(std::size(kBitRateChoices))) {
    // So does a chosen bit rate; a lossless format gets none (WavPack would turn lossy).
    const int taken = NearestBitRate(options.format, kBitRateChoices[index - 1], rate ? rate : source.sampleRate,
                                     channels ? channels : source.channels);
    return taken ? text + " -ab " + std::to_string(taken) : text;
  }
  const int kept = NearestBitRate(options.format, source.bitRate, rate ? rate : source.sampleRate,
                                  channels ? channels : source.channels);
  if (kept) text += " -ab " + std::to_string(kept);
  return text;
}

BuiltCommand BuildConvertCommand(const FileEntry& entry, const ConvertOptions& options,
                                 const CommandContext& ctx) {
  if (!IsPlainFormat(options.format)) return Refuse(kMsgBadFormat);
  const std::string output = ConvertOutputPath(entry, options.format, ctx);

  CommandLine cmd;
  cmd.args = {ctx.transcoder, "-y", "-i", PathArg(entry.fullPath)};
  if (options.format == "amr") {
    cmd.text = FillTemplate("\"%s\" -y -i \"%s\" -ar 8000 -ac 1 -vn \"%s\"",
                            {ctx.transcoder, entry.fullPath, output});
    Append(cmd.args, {"-ar", "8000", "-ac", "1", "-vn"});
  } else {
    const std::string optionText = ConvertOptionText(options, entry.facts);
    const std::vector<std::string> streams = StreamArgs(entry.facts, options.format);
    if (optionText.empty()) {
      cmd.text = FillTemplate("\"%s\" -y -i \"%s\" %s \"%s\"",
                              {ctx.transcoder, entry.fullPath, Joined(streams), output});
    } else {
      cmd.text = FillTemplate("\"%s\" -y -i \"%s\" %s %s \"%s\"",
                              {ctx.transcoder, entry.fullPath, optionText, Joined(streams), output});
      Append(cmd.args, SplitText(optionText, " "));
    }
    Append(cmd.args, streams);
  }
  cmd.args.push_back(PathArg(output));
  return Finish(output, std::move(cmd));
}

// ---- Merge ------------------------------------------------------------------------------

BuiltCommand BuildMergeCommand(const std::vector<FileEntry>& entries, const std::string& format,
                               const CommandContext& ctx) {
  if (entries.empty()) return Refuse(kMsgMergeNoFiles);
  if (entries.size() < 2) return Refuse(kMsgMergeTooFew);
  if (!IsPlainFormat(format)) return Refuse(kMsgBadFormat);

  CommandLine cmd;
  cmd.args.push_back(ctx.transcoder);
  std::string inputText, labels;
  double total = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    inputText += " -i \"" + entries[i].fullPath + "\"";
    labels += "[" + std::to_string(i) + ":a]";
    cmd.args.insert(cmd.args.end(), {"-i", PathArg(entries[i].fullPath)});
    total += entries[i].duration;
  }
  LOG(INFO) << "mergeFileStr:" << labels;
  LOG(INFO) << "inputStr:" << inputText;
  // The first file's pictures come from an input of their own: the transcoder ends a filter
  // graph's input early when one of its streams is also copied.
  const FileEntry& first = entries.front();
  std::vector<std::string> keep = KeepArgs(first.facts, format, static_cast<int>(entries.size()), true);
  bool differ = false;
  Append(keep, EncoderFitArgs(format, JoinedShape(entries, &differ), false, false));
  if (KeepsCovers(first.facts, format)) {
    inputText += " -i \"" + first.fullPath + "\"";
    cmd.args.insert(cmd.args.end(), {"-i", PathArg(first.fullPath)});
  }
  if (const std::string formats = MergeFormatFilters(entries); !formats.empty()) labels = formats;
  const std::string count = std::to_string(entries.size());
  const std::string output = FreeOutputPath(ctx, "合并-" + ctx.timestamp, format);
  const std::string graph = labels + "concat=n=" + count + ":v=0:a=1 [a]";
  cmd.args.insert(cmd.args.end(), {"-filter_complex", graph, "-map", "[a]"});
  Append(cmd.args, keep);
  if (format == "mp3") {
    cmd.text = FillTemplate(
        "\"%s\" %s -filter_complex \"%sconcat=n=%s:v=0:a=1 [a]\" -map \"[a]\"%s -ab %d \"%s\"",
        {ctx.transcoder, inputText, labels, count, Suffix(keep), std::to_string(ctx.bitRate), output});
    cmd.args.insert(cmd.args.end(), {"-ab", std::to_string(ctx.bitRate)});
  } else {
    cmd.text = FillTemplate("\"%s\" %s -filter_complex \"%sconcat=n=%s:v=0:a=1 [a]\" -map \"[a]\"%s \"%s\"",
                            {ctx.transcoder, inputText, labels, count, Suffix(keep), output});
  }
  cmd.args.push_back(PathArg(output));
  BuiltCommand built = Finish(output, std::move(cmd));
  built.totalSeconds = total;
  return built;
}

// ---- Change speed -----------------------------------------------------------------------

BuiltCommand BuildSpeedCommand(const FileEntry& entry, const std::string& speedText,
                               const CommandContext& ctx) {
  const std::string speed = speedText.empty() ? "1.0" : speedText;
  // The text goes into a filter graph: a number only, nothing that could add filters.
  if (const std::string refusal = CheckSpeed(speed); !refusal.empty()) return Refuse(refusal);
  const std::string ext = ResultExtension(Extension(entry.fileName));
  const std::string output = FreeOutputPath(ctx, BaseName(entry.fileName) + "-变速-" + ctx.timestamp, ext);
  const std::vector<std::string> streams = StreamArgs(entry.facts, ext);
  CommandLine cmd;
  cmd.args = {ctx.transcoder, "-i", PathArg(entry.fullPath), "-filter:a", "atempo=" + speed};
  if (Lower(ext) == "mp3") {
    cmd.text = FillTemplate(
        "\"%s\" -i \"%s\" -filter:a \"atempo=%s\" -ab %d %s \"%s\"",
        {ctx.transcoder, entry.fullPath, speed, std::to_string(ctx.bitRate), Joined(streams), output});
    cmd.args.insert(cmd.args.end(), {"-ab", std::to_string(ctx.bitRate)});
  } else {
    cmd.text = FillTemplate("\"%s\" -i \"%s\" -filter:a \"atempo=%s\" %s \"%s\"",
                            {ctx.transcoder, entry.fullPath, speed, Joined(streams), output});
  }
  Append(cmd.args, streams);
  cmd.args.push_back(PathArg(output));
  return Finish(output, std::move(cmd));
}

// ---- Extract ----------------------------------------------------------------------------

BuiltCommand BuildExtractCommand(const FileEntry& entry, const std::string& format, int extractType,
                                 const CommandContext& ctx) {
  if (!IsPlainFormat(format)) return Refuse(kMsgBadFormat);
  const bool video = IsVideoExtension(Extension(entry.fileName));
  const bool soundTrack = video && extractType == 0;
  if (!soundTrack && entry.facts.channels == 1) return Refuse(kMsgMonoNoAccompaniment);
  const std::string output = FreeOutputPath(ctx, BaseName(entry.fileName) + "-提取-" + ctx.timestamp, format);
  std::vector<std::string> streams = StreamArgs(entry.facts, format);
  // The accompaniment is one channel already.
  const std::vector<std::string> fit = EncoderFitArgs(format, entry.facts, !soundTrack, false);
  CommandLine cmd;
  cmd.args = {ctx.transcoder, "-i", PathArg(entry.fullPath)};
  if (soundTrack) {
    streams.insert(streams.begin(), fit.begin(), fit.end());
    cmd.text =
        FillTemplate("\"%s\" -i \"%s\" %s \"%s\"", {ctx.transcoder, entry.fullPath, Joined(streams), output});
    Append(cmd.args, streams);
  } else {
    // Without a selection of its own the transcoder would add a video's picture (or a cover the
    // result cannot hold, re-encoded) as a video stream of the result.
    const bool pictures = video || !entry.facts.covers.empty();
    std::vector<std::string> keep = pictures ? streams : KeepArgs(entry.facts, format, 0, false);
    keep.insert(keep.begin(), fit.begin(), fit.end());
    // Left minus right at the level of the source's channels; where the two are in opposite
    // phase the difference would pass full scale, which the limiter holds 1 dB below.
    const std::string filter = "pan=mono|c0=0.7071*c0-0.7071*c1,alimiter=limit=" + std::string(kMixLimit) +
                               ":level=false:latency=true";
    // As many bits as the source had (the encoder's mono default is far fewer).
    if (const int kept = NearestBitRate(format, entry.facts.bitRate, entry.facts.sampleRate, 1); kept > 0)
      keep.insert(keep.begin(), {"-ab", std::to_string(kept)});
    cmd.text = FillTemplate("\"%s\" -i \"%s\"  -af \"%s\"%s \"%s\"",
                            {ctx.transcoder, entry.fullPath, filter, Suffix(keep), output});
    cmd.args.insert(cmd.args.end(), {"-af", filter});
    Append(cmd.args, keep);
  }
  cmd.args.push_back(PathArg(output));
  return Finish(output, std::move(cmd));
}

// ---- Volume -----------------------------------------------------------------------------

std::string CheckVolumeOptions(const VolumeOptions& options) {
  struct Field {
    bool ticked;
    const std::string& text;
    const char* emptyMessage;
    const char* digitsMessage;
  };
  const Field fields[] = {
      {options.fadeIn, options.fadeInStart, kMsgFadeInStartEmpty, kMsgFadeInStartDigits},
      {options.fadeIn, options.fadeInDuration, kMsgFadeInDurationEmpty, kMsgFadeInDurationDigits},
      {options.fadeOut, options.fadeOutStart, kMsgFadeOutStartEmpty, kMsgFadeOutStartDigits},
      {options.fadeOut, options.fadeOutDuration, kMsgFadeOutDurationEmpty, kMsgFadeOutDurationDigits},
  };
  for (const Field& f : fields) {
    if (!f.ticked) continue;
    const std::string trimmed = Trim(f.text);
    if (trimmed.empty()) return f.emptyMessage;
    if (!IsDigits(trimmed)) return f.digitsMessage;
  }
  // A fade of no length is no fade.
  const bool fades = (options.fadeIn && ClampedInt(Trim(options.fadeInDuration)) > 0) ||
                     (options.fadeOut && ClampedInt(Trim(options.fadeOutDuration)) > 0);
  if (!fades && std::fabs(options.factor - 1.0f) < 0.005f) return kMsgVolumeUnchanged;
  return "";
}

std::string VolumeFilter(const VolumeOptions& options, double inputDurationSec) {
  char factor[64];
  std::snprintf(factor, sizeof(factor), "%.2f", static_cast<double>(options.factor));
  const int inStart = ClampedInt(Trim(options.fadeInStart));
  const int inDuration = ClampedInt(Trim(options.fadeInDuration));
  int outStart = ClampedInt(Trim(options.fadeOutStart));
  const int outDuration = ClampedInt(Trim(options.fadeOutDuration));
  if (options.fadeOut && outStart == 0) {
    const double start = inputDurationSec - outDuration;
    // A fade longer than the file starts at its beginning.
    outStart = start > 0 ? static_cast<int>(start) : 0;
  }
  const std::string f = factor;
  const auto n = [](int v) { return std::to_string(v); };
  if (options.fadeIn && options.fadeOut) {
    return "[0:a]afade=t=in:st=" + n(inStart) + ":d=" + n(inDuration) +
           "[a1];[a1]afade=t=out:st=" + n(outStart) + ":d=" + n(outDuration) + "[a2];[a2]volume=" + f;
  }
  if (options.fadeIn)
    return "[0:a]afade=t=in:st=" + n(inStart) + ":d=" + n(inDuration) + "[a1];[a1]volume=" + f;
  if (options.fadeOut)
    return "[0:a]afade=t=out:st=" + n(outStart) + ":d=" + n(outDuration) + "[a1];[a1]volume=" + f;
  return "volume=" + f;
}

BuiltCommand BuildVolumeCommand(const FileEntry& entry, const VolumeOptions& options,
                                const CommandContext& ctx) {
  if (std::string refusal = CheckVolumeOptions(options); !refusal.empty()) return Refuse(refusal);
  if (entry.duration > 0) {
    // A fade-out that starts at 0 ends at the end of the file.
    const auto pastEnd = [&](bool ticked, const std::string& start, const std::string& length) {
      const double from = ClampedInt(Trim(start)), to = from + ClampedInt(Trim(length));
      return ticked && (from >= entry.duration || to > entry.duration + 0.5);
    };
    for (const auto& [past, message] :
         {std::pair{pastEnd(options.fadeIn, options.fadeInStart, options.fadeInDuration), kMsgFadeInPastEnd},
          std::pair{pastEnd(options.fadeOut, options.fadeOutStart, options.fadeOutDuration), kMsgFadeOutPastEnd}}) {
      if (past) return RefusePastEnd(message, entry.duration);
    }
  }
  const std::string ext = ResultExtension(Extension(entry.fileName));
  double duration = 0;
  if (options.fadeOut && ClampedInt(Trim(options.fadeOutStart)) == 0) {
    duration = ProbeDuration(entry.fullPath);
    if (duration < 0) duration = entry.duration;
  }
  const std::string filter = VolumeFilter(options, duration);
  const std::string output =
      FreeOutputPath(ctx, BaseName(entry.fileName) + "-声音调整-" + ctx.timestamp, ext);
  const std::vector<std::string> streams = StreamArgs(entry.facts, ext);
  CommandLine cmd;
  cmd.args = {ctx.transcoder, "-i", PathArg(entry.fullPath), "-filter:a", filter};
  if (Lower(ext) == "mp3") {
    cmd.text = FillTemplate(
        "\"%s\" -i \"%s\" -filter:a \"%s\" -ab %d %s \"%s\"",
        {ctx.transcoder, entry.fullPath, filter, std::to_string(ctx.bitRate), Joined(streams), output});
    cmd.args.insert(cmd.args.end(), {"-ab", std::to_string(ctx.bitRate)});
  } else {
    cmd.text = FillTemplate("\"%s\" -i \"%s\" -filter:a \"%s\" %s \"%s\"",
                            {ctx.transcoder, entry.fullPath, filter, Joined(streams), output});
  }
  Append(cmd.args, streams);
  cmd.args.push_back(PathArg(output));
  return Finish(output, std::move(cmd));
}

// ---- Background music -------------------------------------------------------------------

std::string CheckBgMusic(BgMusicOptions& options) {
  const SourceCheck check = CheckSource(options.musicPath, true);
  options.musicFacts = check.facts;
  if (check.reason == FailureReason::None) return "";
  return FormatText(Tr("Commands", kMsgBgMusicUnusable), {Tr("FailureReason", ReasonText(check.reason))});
}

BuiltCommand BuildBgMusicCommand(const FileEntry& entry, const BgMusicOptions& options,
                                 const CommandContext& ctx) {
  if (options.musicPath.empty()) return Refuse(kMsgBgMusicNoFile);
  if (!IsDigits(options.startPos)) return Refuse(kMsgBgMusicStartDigits);
  // LeadingInt stops short of overflow; anything past a day is refused before it is multiplied.
  if (LeadingInt(options.startPos) > kBgMusicStartMax) return Refuse(kMsgBgMusicStartRange);
  const std::string ext = ResultExtension(Extension(entry.fileName));
  const long long delayMs = LeadingInt(options.startPos) * 1000;
  // Music that would start after the main file ends would never be heard.
  if (entry.duration > 0 && delayMs >= entry.duration * 1000) return RefusePastEnd(kMsgBgMusicStartPastEnd, entry.duration);
  const std::string delay = std::to_string(delayMs);
  const std::string level = std::to_string(options.levelDb);
  const std::string output =
      FreeOutputPath(ctx, BaseName(entry.fileName) + "-背景音乐-" + ctx.timestamp, ext);
  // The main file's pictures come from a third input: the transcoder ends a filter graph's
  // input early when one of its streams is also copied.
  const bool covers = KeepsCovers(entry.facts, ext);
  std::vector<std::string> streams = KeepArgs(entry.facts, ext, 2, true);
  if (!covers) streams.insert(streams.begin(), "-vn");
  const std::string pictureInput = covers ? " -i \"" + entry.fullPath + "\"" : "";
  CommandLine cmd;
  cmd.args = {ctx.transcoder, "-i", PathArg(entry.fullPath)};
  // amix alone would halve both inputs; the sum instead keeps the main file's level and the
  // limiter (without its look-ahead delay) keeps it from clipping.
  const MixShape shape = ShapeOfMix(entry.facts, options);
  const std::string mix = "amix=inputs=2:duration=first:normalize=0,alimiter=limit=" + std::string(kMixLimit) +
                          ":level=false:latency=true" + shape.format;
  const std::string mainIn = options.loop ? "[0:a]" : "[0]";
  std::string graph = shape.upMain.empty() ? "" : mainIn + shape.upMain + "[m0],";
  graph += (options.loop ? "[1:a]" : "[1]") + (shape.upMusic.empty() ? "" : shape.upMusic + ",") + "volume=" +
           level + "dB[a1],[a1]adelay=" + delay + "|" + delay + "[b]," +
           (shape.upMain.empty() ? mainIn : "[m0]") + "[b]" + mix;
  cmd.text = FillTemplate("\"%s\" -i \"%s\"%s -i \"%s\"%s -filter_complex \"%s\" %s \"%s\"",
                          {ctx.transcoder, entry.fullPath, options.loop ? " -stream_loop -1" : "", options.musicPath,
                           pictureInput, graph, Joined(streams), output});
  if (options.loop) cmd.args.insert(cmd.args.end(), {"-stream_loop", "-1"});
  cmd.args.insert(cmd.args.end(), {"-i", PathArg(options.musicPath)});
  if (covers) cmd.args.insert(cmd.args.end(), {"-i", PathArg(entry.fullPath)});
  cmd.args.insert(cmd.args.end(), {"-filter_complex", graph});
  Append(cmd.args, streams);
  cmd.args.push_back(PathArg(output));
  return Finish(output, std::move(cmd));
}

// ---- Cut --------------------------------------------------------------------------------

namespace {

// A time text "HH:MM:SS.cc" as seconds "S.cc" for a filter option, where ":" would end the value.
std::string FilterSeconds(const std::string& timeText) {
  const std::vector<std::string> fields = SplitText(timeText, ":.");
  if (fields.size() != 4) return "0";
  return std::to_string(LeadingInt(fields[0]) * 3600 + LeadingInt(fields[1]) * 60 + LeadingInt(fields[2])) +
         "." + fields[3];
}

}  // namespace

const char* CheckCutStretch(double durationSec, double startSec, double endSec) {
  if (durationSec < startSec) return kMsgCutStartPastEnd;
  if (durationSec < endSec) return kMsgCutEndPastEnd;
  if (startSec < kCutTimeEpsilon && endSec < kCutTimeEpsilon) return kMsgCutNothingChosen;
  if (!(endSec - startSec > kCutTimeEpsilon)) return kMsgCutStartNotBeforeEnd;
  return nullptr;
}

std::string CutExtension(std::string_view sourceFileName) {
  if (sourceFileName.find('.') == std::string_view::npos) return "mp3";
  const std::string ext = Lower(Extension(sourceFileName));
  if (ext.empty() || ext == "3gpp" || ext == "ape" || ext == "amr" || ext == "awb" || IsVideoExtension(ext))
    return "mp3";
  return IsPlainFormat(ext) ? ext : "mp3";
}

std::string CutOutputPath(std::string_view sourceFileName, const CommandContext& ctx) {
  return FreeOutputPath(ctx, BaseName(sourceFileName) + "-剪辑-" + ctx.timestamp,
                        CutExtension(sourceFileName));
}

FileEntry MakeCutEntry(const FileEntry& source, double startSec, double endSec, const CommandContext& ctx) {
  FileEntry entry;
  entry.fullPath = CutOutputPath(source.fileName, ctx);
  entry.fileName = entry.fullPath.substr(entry.fullPath.rfind('/') + 1);
  entry.filePath = source.filePath;
  entry.size = source.size;
  entry.facts = source.facts;
  entry.duration = endSec - startSec;
  entry.cutStart = startSec;
  entry.cutEnd = endSec;
  entry.sourcePath = source.fullPath;
  return entry;
}

BuiltCommand BuildCutCommand(const FileEntry& cutEntry, const CommandContext& ctx) {
  const std::string start = FormatTimeText(cutEntry.cutStart);
  const std::string end = FormatTimeText(cutEntry.cutEnd);
  const std::string bitRate = std::to_string(ctx.bitRate);
  const std::string ext = Extension(cutEntry.fileName);
  const std::vector<std::string> streams = StreamArgs(cutEntry.facts, ext);
  CommandLine cmd;
  cmd.args = {ctx.transcoder, "-y", "-i", PathArg(cutEntry.sourcePath)};
  if (KeepsCovers(cutEntry.facts, ext)) {
    // Output seeking drops a cover picture (its one packet lies before the start); the trim
    // filter cuts the same stretch of sound and leaves the picture alone.
    const std::string trim =
        "atrim=start=" + FilterSeconds(start) + ":end=" + FilterSeconds(end) + ",asetpts=PTS-STARTPTS";
    cmd.text = FillTemplate(
        "\"%s\" -y -i \"%s\" -af \"%s\" -ab %d %s \"%s\"",
        {ctx.transcoder, cutEntry.sourcePath, trim, bitRate, Joined(streams), cutEntry.fullPath});
    Append(cmd.args, {"-af", trim});
  } else {
    cmd.text = FillTemplate(
        "\"%s\" -y -i \"%s\" -ss %s -to %s -ab %d %s \"%s\"",
        {ctx.transcoder, cutEntry.sourcePath, start, end, bitRate, Joined(streams), cutEntry.fullPath});
    Append(cmd.args, {"-ss", start, "-to", end});
  }
  Append(cmd.args, {"-ab", bitRate});
  Append(cmd.args, streams);
  cmd.args.push_back(PathArg(cutEntry.fullPath));
  return Finish(cutEntry.fullPath, std::move(cmd));
}

// ---- Format lists -----------------------------------------------------------------------

bool CanWriteFormat(const std::string& format) {
  if (!IsPlainFormat(format)) return false;
  const std::string probeName = "probe." + format;
  const AVOutputFormat* muxer = av_guess_format(nullptr, probeName.c_str(), nullptr);
  // A muxer that opens files of its own (playlists, segments) would write beside the result.
  if (!muxer || muxer->audio_codec == AV_CODEC_ID_NONE || (muxer->flags & AVFMT_NOFILE)) return false;
  // The transcoder refuses experimental encoders unless told otherwise, and no command asks.
  // Its own list decides; the linked library only when the transcoder cannot be asked.
  const std::vector<std::string>& listed = TranscoderAudioEncoders();
  void* at = nullptr;
  while (const AVCodec* encoder = av_codec_iterate(&at)) {
    if (!av_codec_is_encoder(encoder) || encoder->id != muxer->audio_codec) continue;
    if (listed.empty() ? !(encoder->capabilities & AV_CODEC_CAP_EXPERIMENTAL)
                       : std::find(listed.begin(), listed.end(), encoder->name) != listed.end())
      return true;
  }
  return false;
}

std::vector<std::string> WritableAudioFormats() {
  static const char* const kCandidates[] = {"mp3", "wav", "aac",  "m4a", "flac", "ogg", "opus",
                                            "wma", "ac3", "aiff", "mp2", "wv",   "amr"};
  std::vector<std::string> formats;
  for (const char* format : kCandidates) {
    if (CanWriteFormat(format)) formats.emplace_back(format);
  }
  return formats;
}

}  // namespace tw
