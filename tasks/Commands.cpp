#include "tasks/Commands.h"

#include <glog/logging.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <mutex>
#include <set>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "app/MediaHelpers.h"
#include "app/SettingsFile.h"

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
  return !path.empty() && path[0] == '-' ? "./" + path : path;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Names handed out by this process whose files the transcoder may not have made yet.
std::mutex reservedLock;
std::set<std::string> reservedPaths;

std::string NumberedPath(const std::string& folder, const std::string& stem, const std::string& ext, int n) {
  std::string name = n <= 1 ? stem : stem + "-" + std::to_string(n);
  if (!ext.empty()) name += "." + ext;
  return folder + "/" + name;
}

// folder/stem.ext, or the first of folder/stem-2.ext, -3 ... that is free on disk and not
// handed out before. Never the file at avoidPath.
std::string FreeOutputPath(const CommandContext& ctx, const std::string& stem, const std::string& ext,
                           const std::string& avoidPath = "") {
  if (!ctx.avoidCollisions) return NumberedPath(ctx.outputFolder, stem, ext, 1);
  std::lock_guard<std::mutex> hold(reservedLock);
  for (int n = 1;; ++n) {
    const std::string candidate = NumberedPath(ctx.outputFolder, stem, ext, n);
    if (Exists(candidate) || reservedPaths.count(candidate)) continue;
    if (!avoidPath.empty() && SameFile(candidate, avoidPath)) continue;
    reservedPaths.insert(candidate);
    return candidate;
  }
}

BuiltCommand Refuse(std::string message) {
  BuiltCommand built;
  built.message = std::move(message);
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

int ClampedInt(std::string_view text) {
  const long long value = LeadingInt(text);
  return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

}  // namespace

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

// ---- Convert ----------------------------------------------------------------------------

std::string ConvertOptionText(const ConvertOptions& options) {
  static const int kChannels[] = {0, 2, 1};
  static const int kRates[] = {0, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
  static const int kBitRates[] = {0, 320000, 128000, 96000, 64000};
  auto pick = [](const auto& table, int index) {
    const int size = static_cast<int>(std::size(table));
    return index >= 0 && index < size ? table[index] : 0;
  };
  std::string text;
  if (const int v = pick(kChannels, options.channelIndex)) text += " -ac " + std::to_string(v);
  if (const int v = pick(kRates, options.sampleRateIndex)) text += " -ar " + std::to_string(v);
  if (const int v = pick(kBitRates, options.bitRateIndex)) text += " -ab " + std::to_string(v);
  return text;
}

BuiltCommand BuildConvertCommand(const FileEntry& entry, const ConvertOptions& options,
                                 const CommandContext& ctx) {
  if (!IsPlainFormat(options.format)) return Refuse(kMsgBadFormat);
  const std::string base = BaseName(entry.fileName);
  // The result replaces an earlier result of the same name, never the file it is made from.
  std::string output = NumberedPath(ctx.outputFolder, base, options.format, 1);
  for (int n = 2; SameFile(output, entry.fullPath); ++n)
    output = NumberedPath(ctx.outputFolder, base, options.format, n);

  CommandLine cmd;
  cmd.args = {ctx.transcoder, "-y", "-i", PathArg(entry.fullPath)};
  if (options.format == "amr") {
    cmd.text = FillTemplate("\"%s\" -y -i \"%s\" -ar 8000 -ac 1 -vn \"%s\"",
                            {ctx.transcoder, entry.fullPath, output});
    cmd.args.insert(cmd.args.end(), {"-ar", "8000", "-ac", "1"});
  } else {
    const std::string optionText = ConvertOptionText(options);
    if (optionText.empty()) {
      cmd.text = FillTemplate("\"%s\" -y -i \"%s\" -vn \"%s\"", {ctx.transcoder, entry.fullPath, output});
    } else {
      cmd.text = FillTemplate("\"%s\" -y -i \"%s\" %s -vn \"%s\"",
                              {ctx.transcoder, entry.fullPath, optionText, output});
      for (std::string& word : SplitText(optionText, " ")) cmd.args.push_back(std::move(word));
    }
  }
  cmd.args.insert(cmd.args.end(), {"-vn", PathArg(output)});
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
  const std::string count = std::to_string(entries.size());
  const std::string output = FreeOutputPath(ctx, "合并-" + ctx.timestamp, format);
  const std::string graph = labels + "concat=n=" + count + ":v=0:a=1 [a]";
  cmd.args.insert(cmd.args.end(), {"-filter_complex", graph, "-map", "[a]"});
  if (format == "mp3") {
    cmd.text =
        FillTemplate("\"%s\" %s -filter_complex \"%sconcat=n=%s:v=0:a=1 [a]\" -map \"[a]\" -ab %d \"%s\"",
                     {ctx.transcoder, inputText, labels, count, std::to_string(ctx.bitRate), output});
    cmd.args.insert(cmd.args.end(), {"-ab", std::to_string(ctx.bitRate)});
  } else {
    cmd.text = FillTemplate("\"%s\" %s -filter_complex \"%sconcat=n=%s:v=0:a=1 [a]\" -map \"[a]\" \"%s\"",
                            {ctx.transcoder, inputText, labels, count, output});
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
  if (!IsSpeedNumber(speed)) return Refuse(kMsgBadSpeed);
  const std::string ext = Extension(entry.fileName);
  if (!ext.empty() && !IsPlainFormat(ext)) return Refuse(kMsgBadFormat);
  const std::string output = FreeOutputPath(ctx, BaseName(entry.fileName) + "-变速-" + ctx.timestamp, ext);
  CommandLine cmd;
  cmd.args = {ctx.transcoder, "-i", PathArg(entry.fullPath), "-filter:a", "atempo=" + speed};
  if (Lower(ext) == "mp3") {
    cmd.text = FillTemplate("\"%s\" -i \"%s\" -filter:a \"atempo=%s\" -ab %d -vn \"%s\"",
                            {ctx.transcoder, entry.fullPath, speed, std::to_string(ctx.bitRate), output});
    cmd.args.insert(cmd.args.end(), {"-ab", std::to_string(ctx.bitRate)});
  } else {
    cmd.text = FillTemplate("\"%s\" -i \"%s\" -filter:a \"atempo=%s\" -vn \"%s\"",
                            {ctx.transcoder, entry.fullPath, speed, output});
  }
  cmd.args.insert(cmd.args.end(), {"-vn", PathArg(output)});
  return Finish(output, std::move(cmd));
}

// ---- Extract ----------------------------------------------------------------------------

BuiltCommand BuildExtractCommand(const FileEntry& entry, const std::string& format, int extractType,
                                 const CommandContext& ctx) {
  if (!IsPlainFormat(format)) return Refuse(kMsgBadFormat);
  const std::string output = FreeOutputPath(ctx, BaseName(entry.fileName) + "-提取-" + ctx.timestamp, format);
  CommandLine cmd;
  cmd.args = {ctx.transcoder, "-i", PathArg(entry.fullPath)};
  if (IsVideoExtension(Extension(entry.fileName)) && extractType == 0) {
    cmd.text = FillTemplate("\"%s\" -i \"%s\" -vn \"%s\"", {ctx.transcoder, entry.fullPath, output});
    cmd.args.push_back("-vn");
  } else {
    cmd.text = FillTemplate("\"%s\" -i \"%s\"  -af pan=\"stereo|c0=c0|c1=-1*c1\" -ac 1 \"%s\"",
                            {ctx.transcoder, entry.fullPath, output});
    cmd.args.insert(cmd.args.end(), {"-af", "pan=stereo|c0=c0|c1=-1*c1", "-ac", "1"});
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
  const std::string ext = Extension(entry.fileName);
  if (!ext.empty() && !IsPlainFormat(ext)) return Refuse(kMsgBadFormat);
  double duration = 0;
  if (options.fadeOut && ClampedInt(Trim(options.fadeOutStart)) == 0) {
    duration = ProbeDuration(entry.fullPath);
    if (duration < 0) duration = entry.duration;
  }
  const std::string filter = VolumeFilter(options, duration);
  const std::string output =
      FreeOutputPath(ctx, BaseName(entry.fileName) + "-声音调整-" + ctx.timestamp, ext);
  CommandLine cmd;
  cmd.args = {ctx.transcoder, "-i", PathArg(entry.fullPath), "-filter:a", filter};
  if (Lower(ext) == "mp3") {
    cmd.text = FillTemplate("\"%s\" -i \"%s\" -filter:a \"%s\" -ab %d -vn \"%s\"",
                            {ctx.transcoder, entry.fullPath, filter, std::to_string(ctx.bitRate), output});
    cmd.args.insert(cmd.args.end(), {"-ab", std::to_string(ctx.bitRate)});
  } else {
    cmd.text = FillTemplate("\"%s\" -i \"%s\" -filter:a \"%s\" -vn \"%s\"",
                            {ctx.transcoder, entry.fullPath, filter, output});
  }
  cmd.args.insert(cmd.args.end(), {"-vn", PathArg(output)});
  return Finish(output, std::move(cmd));
}

// ---- Background music -------------------------------------------------------------------

BuiltCommand BuildBgMusicCommand(const FileEntry& entry, const BgMusicOptions& options,
                                 const CommandContext& ctx) {
  if (options.musicPath.empty()) return Refuse(kMsgBgMusicNoFile);
  if (!IsDigits(options.startPos)) return Refuse(kMsgBgMusicStartDigits);
  const std::string ext = Extension(entry.fileName);
  if (!ext.empty() && !IsPlainFormat(ext)) return Refuse(kMsgBadFormat);
  const long long delayMs = std::min<long long>(LeadingInt(options.startPos) * 1000, INT_MAX);
  const std::string delay = std::to_string(delayMs);
  const std::string level = std::to_string(options.levelDb);
  const std::string output =
      FreeOutputPath(ctx, BaseName(entry.fileName) + "-背景音乐-" + ctx.timestamp, ext);
  CommandLine cmd;
  cmd.args = {ctx.transcoder, "-i", PathArg(entry.fullPath)};
  std::string graph;
  if (options.loop) {
    graph = "[1:a]volume=" + level + "dB[a1],[a1]adelay=" + delay + "|" + delay +
            "[b],[0:a][b]amix=inputs=2:duration=first";
    cmd.text = FillTemplate(
        "\"%s\" -i \"%s\" -stream_loop -1 -i \"%s\" -filter_complex "
        "\"[1:a]volume=%ddB[a1],[a1]adelay=%d|%d[b],[0:a][b]amix=inputs=2:duration=first\" -vn \"%s\"",
        {ctx.transcoder, entry.fullPath, options.musicPath, level, delay, delay, output});
    cmd.args.insert(cmd.args.end(), {"-stream_loop", "-1"});
  } else {
    graph = "[1]volume=" + level + "dB[a1],[a1]adelay=" + delay + "|" + delay +
            "[b],[0][b]amix=inputs=2:duration=first";
    cmd.text = FillTemplate(
        "\"%s\" -i \"%s\" -i \"%s\" -filter_complex "
        "\"[1]volume=%ddB[a1],[a1]adelay=%d|%d[b],[0][b]amix=inputs=2:duration=first\" -vn \"%s\"",
        {ctx.transcoder, entry.fullPath, options.musicPath, level, delay, delay, output});
  }
  cmd.args.insert(cmd.args.end(),
                  {"-i", PathArg(options.musicPath), "-filter_complex", graph, "-vn", PathArg(output)});
  return Finish(output, std::move(cmd));
}

// ---- Cut --------------------------------------------------------------------------------

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
  CommandLine cmd;
  cmd.text = FillTemplate("\"%s\" -y -i \"%s\" -ss %s -to %s -ab %d -vn \"%s\"",
                          {ctx.transcoder, cutEntry.sourcePath, start, end, bitRate, cutEntry.fullPath});
  cmd.args = {ctx.transcoder, "-y",    "-i",  PathArg(cutEntry.sourcePath), "-ss", start, "-to", end,
              "-ab",          bitRate, "-vn", PathArg(cutEntry.fullPath)};
  return Finish(cutEntry.fullPath, std::move(cmd));
}

// ---- Format lists -----------------------------------------------------------------------

bool CanWriteFormat(const std::string& format) {
  if (!IsPlainFormat(format)) return false;
  const std::string probeName = "probe." + format;
  const AVOutputFormat* muxer = av_guess_format(nullptr, probeName.c_str(), nullptr);
  if (!muxer || muxer->audio_codec == AV_CODEC_ID_NONE) return false;
  const AVCodec* encoder = avcodec_find_encoder(muxer->audio_codec);
  // The transcoder refuses experimental encoders unless told otherwise, and no command asks.
  return encoder && !(encoder->capabilities & AV_CODEC_CAP_EXPERIMENTAL);
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
