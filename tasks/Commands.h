// The command line of every transcoder operation: output name, command text (exactly as the
// templates read, for logs and tests) and the argument vector built from the same pieces (what
// the child is given; no shell sees it), plus the checks made before a run with the prompt
// texts the page or the CLI shows. Pure apart from two marked reads: CurrentCommandContext
// (settings, clock, program folder) and the volume builder's duration probe. The names given
// are designed names; the one a result takes is decided when it is published (ResultFile).
// Safe from any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "app/Translation.h"
#include "tasks/TaskRecords.h"
#include "tasks/Transcoder.h"

namespace tw {

// Prompt texts of the checks (source texts: a refusal carries them translated, tw::Tr).
inline constexpr const char* kMsgMergeNoFiles = TW_TRANSLATE_NOOP("Commands", "请添加要合并的音频文件!");
inline constexpr const char* kMsgMergeTooFew = TW_TRANSLATE_NOOP("Commands", "至少需要添加2个音频文件!");
inline constexpr const char* kMsgFadeInStartEmpty = TW_TRANSLATE_NOOP("Commands", "淡入起始位置不能为空!");
inline constexpr const char* kMsgFadeInStartDigits =
    TW_TRANSLATE_NOOP("Commands", "淡入起始位置只能输入数字!");
inline constexpr const char* kMsgFadeInDurationEmpty = TW_TRANSLATE_NOOP("Commands", "淡入时长不能为空!");
inline constexpr const char* kMsgFadeInDurationDigits =
    TW_TRANSLATE_NOOP("Commands", "淡入时长只能输入数字!");
// A fade that does not lie within the file would do nothing, or never finish; %1 is the file's
// length.
inline constexpr const char* kMsgFadeInPastEnd = TW_TRANSLATE_NOOP("Commands", "淡入超出了文件的长度(%1 秒)!");
inline constexpr const char* kMsgFadeOutPastEnd = TW_TRANSLATE_NOOP("Commands", "淡出超出了文件的长度(%1 秒)!");
inline constexpr const char* kMsgFadeOutStartEmpty = TW_TRANSLATE_NOOP("Commands", "淡出起始位置不能为空!");
inline constexpr const char* kMsgFadeOutStartDigits =
    TW_TRANSLATE_NOOP("Commands", "淡出起始位置只能输入数字!");
inline constexpr const char* kMsgFadeOutDurationEmpty = TW_TRANSLATE_NOOP("Commands", "淡出时长不能为空!");
inline constexpr const char* kMsgFadeOutDurationDigits =
    TW_TRANSLATE_NOOP("Commands", "淡出时长只能输入数字!");
inline constexpr const char* kMsgBgMusicNoFile = TW_TRANSLATE_NOOP("Commands", "请先选择背景音乐文件!");
inline constexpr const char* kMsgBgMusicStartDigits = TW_TRANSLATE_NOOP("Commands", "起始位置只能输入数字!");
// The music's start, in whole seconds: at most a day.
inline constexpr long long kBgMusicStartMax = 86400;
inline constexpr const char* kMsgBgMusicStartRange =
    TW_TRANSLATE_NOOP("Commands", "起始位置应在 0 到 86400 秒之间!");
// Refusals of input the page controls cannot produce but a batch caller can.
inline constexpr const char* kMsgCommandTooLong =
    TW_TRANSLATE_NOOP("Commands", "命令超出系统长度限制,请减少文件数量或缩短路径!");
inline constexpr const char* kMsgBadFormat = TW_TRANSLATE_NOOP("Commands", "输出格式无效!");
inline constexpr const char* kMsgBadSpeed = TW_TRANSLATE_NOOP("Commands", "速度倍数无效!");
// Jobs that would write a copy of their source and call it done.
inline constexpr const char* kMsgSpeedUnchanged =
    TW_TRANSLATE_NOOP("Commands", "速度为1.0倍,结果会与源文件相同!");
inline constexpr const char* kMsgVolumeUnchanged =
    TW_TRANSLATE_NOOP("Commands", "音量为1.0倍且没有淡入淡出,结果会与源文件相同!");
// %1 is the main file's length.
inline constexpr const char* kMsgBgMusicStartPastEnd =
    TW_TRANSLATE_NOOP("Commands", "起始位置超出了文件的长度(%1 秒)!");
// The accompaniment of a sound with one channel cannot be told from its voice.
inline constexpr const char* kMsgMonoNoAccompaniment =
    TW_TRANSLATE_NOOP("Commands", "单声道音频没有伴奏可提取!");

// What a run is built from besides its own options. Resolved when the run starts.
struct CommandContext {
  std::string transcoder;    // TranscoderPath()
  std::string outputFolder;  // GetOutputFolder(), without a trailing "/"
  std::string timestamp;     // local time "%Y%m%d%H%M%S"
  int bitRate = 128000;      // bit/s of MP3 results, from "audio-quality"
};

// Reads TranscoderPath, GetOutputFolder, the local clock and "audio-quality" now.
CommandContext CurrentCommandContext();

// 14-digit local time of t.
std::string LocalTimestamp(std::time_t t);
// "audio-quality" 0 gives 128000 bit/s, any other value 320000.
int QualityBitRate(int audioQuality);

// The result of a builder: on success the output path and the command; otherwise the prompt
// text in message and nothing to run.
struct BuiltCommand {
  bool ok = false;
  std::string message;
  std::string outputPath;
  CommandLine command;
  double totalSeconds = 0;  // merge: sum of the merged files' durations, for its progress
};

// Name up to its last "." (the whole name without one) and the text after it ("" without).
std::string BaseName(std::string_view fileName);
std::string Extension(std::string_view fileName);

// Extensions (lower-cased: ncm, mgg, mflac, kgm, kgma) that never enter a list.
bool IsUnsupportedExtension(std::string_view extension);

// "" when the command can be handed to the system, otherwise kMsgCommandTooLong: one argument
// above the kernel's per-argument limit, or all of them with the environment above ARG_MAX.
std::string CheckCommandFits(const CommandLine& cmd);

// ---- Keeping what the source carries ----------------------------------------------------
// What a result of one source needs beyond its template to keep what the source carries, in
// the place where the template selects its streams ("-vn"): the source's pictures the result's
// container can hold, copied from input pictureInput (the sound then taken by "-map 0:a:N"
// unless soundMapped), the tags an Ogg or Opus source keeps on its sound stream as the result's
// own, and none of the container bookkeeping among its tags, the file's or its sound stream's
// ("-metadata key=" empties them). Empty for a source with none of these.
std::vector<std::string> KeepArgs(const MediaFacts& facts, std::string_view format, int pictureInput,
                                  bool soundMapped);

// ---- Convert ----------------------------------------------------------------------------
// The bit-rate choices of the page after "unchanged", by item index.
inline constexpr int kBitRateChoices[] = {320000, 256000, 192000, 128000, 96000, 64000};
inline constexpr int kVbrIndex = 7;  // MP3 at variable bit rate (LAME quality 2)
// The page's choices by item index (0 = unchanged) and the shown format text.
struct ConvertOptions {
  std::string format = "mp3";
  int channelIndex = 0;     // 0 unchanged, 1 two channels, 2 one channel
  int sampleRateIndex = 0;  // 0 unchanged, 1 48000 ... 9 8000
  int bitRateIndex = 0;     // 0 unchanged, 1..6 kBitRateChoices, 7 VBR (kVbrIndex)
};
// The bit-rate index of a bit rate in bit/s (one of kBitRateChoices); -1 for another value.
int BitRateIndex(long bitRate);
// The bit rate the encoder of a lossy format takes nearest to bitRate, for a result of outRate
// Hz (0: unknown) and outChannels channels: one of its rates for mp3, mp2 and ac3, otherwise
// held to the range it accepts. 0 for a lossless or unknown format, an unknown bit rate, or
// a result its encoder takes no bit rate for (then the encoder chooses).
int NearestBitRate(std::string_view format, std::int64_t bitRate, int outRate, int outChannels);
// " -ac %d", " -ar %d" and the bit rate (" -ab %d", or " -q:a 2" for VBR MP3), for each chosen
// value in that order; "" when none. An unchanged bit rate keeps the source's (source facts)
// when the format is lossy: NearestBitRate of it. VBR for another format counts as unchanged.
std::string ConvertOptionText(const ConvertOptions& options, const MediaFacts& source = {});
// base + "." + format, with "-y" (for the partial file the run writes). The name is the one the
// result is designed to carry: publishing it (ResultFile) takes the first free "-2", "-3" ...
// where a file holds it then, the input itself included, and never writes over one.
BuiltCommand BuildConvertCommand(const FileEntry& entry, const ConvertOptions& options,
                                 const CommandContext& ctx);

// ---- Merge ------------------------------------------------------------------------------
// The entries in list order. Task id of the run: kMergeTaskId. Inputs that differ in rate or
// channels are all brought to the highest rate and channel count among them before they are
// joined; the result keeps the first file's pictures and tags.
BuiltCommand BuildMergeCommand(const std::vector<FileEntry>& entries, const std::string& format,
                               const CommandContext& ctx);

// ---- Change speed -----------------------------------------------------------------------
// Speed, volume and background-music results keep the source's extension when the transcoder
// can write that format, otherwise they are mp3 (a source without an extension, or an ape).
// speedText: "0.5" ... "2.0" or the slider's "%.2f" text; "" means "1.0".
BuiltCommand BuildSpeedCommand(const FileEntry& entry, const std::string& speedText,
                               const CommandContext& ctx);

// ---- Extract ----------------------------------------------------------------------------
// extractType 0 takes a video's sound track; 1 (and every audio input) keeps left minus right,
// which a source of one channel has not (kMsgMonoNoAccompaniment).
BuiltCommand BuildExtractCommand(const FileEntry& entry, const std::string& format, int extractType,
                                 const CommandContext& ctx);

// ---- Volume -----------------------------------------------------------------------------
struct VolumeOptions {
  float factor = 1.0f;  // slider value / 100
  bool fadeIn = false;
  std::string fadeInStart, fadeInDuration;  // whole seconds, as typed
  bool fadeOut = false;
  std::string fadeOutStart, fadeOutDuration;  // a start of 0 means end of file - duration
};
// The first failed check's prompt text, "" when all pass. Fields of an unticked fade are not
// checked.
// The refusal of a speed factor ("" when it is a plain number that changes the speed).
const char* CheckSpeed(std::string_view speed);
// A factor of 1.00 with no fade changes nothing and is refused too.
std::string CheckVolumeOptions(const VolumeOptions& options);
// The -filter:a text; inputDurationSec is used only for a fade-out start of 0.
std::string VolumeFilter(const VolumeOptions& options, double inputDurationSec);
// Probes the input's duration when a fade-out starts at 0.
BuiltCommand BuildVolumeCommand(const FileEntry& entry, const VolumeOptions& options,
                                const CommandContext& ctx);

// ---- Background music -------------------------------------------------------------------
struct BgMusicOptions {
  std::string musicPath;  // "bg-music-edit"
  int levelDb = 0;        // "bg-music-slider"
  std::string startPos;   // "bg-music-start-pos": whole seconds, "" means 0
  bool loop = false;      // "bg-music-loop"
  // What the music's check found (CheckBgMusic); the builder probes the music when it is unset.
  MediaFacts musicFacts;
};
inline constexpr const char* kMsgBgMusicUnusable = TW_TRANSLATE_NOOP("Commands", "无法使用该背景音乐文件:%1");
// A typed music path is taken as a chosen one is: a regular, readable file with sound (never a
// pipe, a folder or an address). "" when it is, else the refusal to show; fills musicFacts.
std::string CheckBgMusic(BgMusicOptions& options);
// The main file keeps its level, the music is added levelDb under (or over) it, and a limiter
// keeps the sum 1 dB below full scale. The result takes the highest sample rate and channel
// count of the two (the music is probed for them).
BuiltCommand BuildBgMusicCommand(const FileEntry& entry, const BgMusicOptions& options,
                                 const CommandContext& ctx);

// ---- Cut --------------------------------------------------------------------------------
// The checks of a typed stretch, as the cut page makes them and the CLI repeats them.
inline constexpr const char* kMsgCutStartFormat = TW_TRANSLATE_NOOP("CutPage", "开始时间格式错误!");
inline constexpr const char* kMsgCutEndFormat = TW_TRANSLATE_NOOP("CutPage", "结束时间格式错误!");
inline constexpr const char* kMsgCutStartPastEnd = TW_TRANSLATE_NOOP("CutPage", "开始时间超出文件长度!");
inline constexpr const char* kMsgCutEndPastEnd = TW_TRANSLATE_NOOP("CutPage", "结束时间超出文件长度!");
inline constexpr const char* kMsgCutNothingChosen = TW_TRANSLATE_NOOP("CutPage", "请选取要截取位置!");
inline constexpr const char* kMsgCutStartNotBeforeEnd = TW_TRANSLATE_NOOP("CutPage", "开始时间必须早于结束时间!");
// Times closer than this count as equal (and a start this close to 0 as the file's start).
inline constexpr double kCutTimeEpsilon = 0.00001;
// The source text of the first check the stretch startSec..endSec of a durationSec-long file
// fails, in the page's order (past the end, nothing chosen, no length or reversed); nullptr when
// it can be cut.
const char* CheckCutStretch(double durationSec, double startSec, double endSec);
// The cut result's extension: the source's, lower-cased, or "mp3" for none, "3gpp", "ape",
// "amr", "awb" and video containers.
std::string CutExtension(std::string_view sourceFileName);
// Designed output path of a new cut entry (made when the entry is added; the export publishes
// under it or the next free numbered name).
std::string CutOutputPath(std::string_view sourceFileName, const CommandContext& ctx);
// The cut entry as the page files it: fileName/fullPath = output, filePath = the source's
// folder, size and facts = the source's, duration = end - start, and the stretch.
FileEntry MakeCutEntry(const FileEntry& source, double startSec, double endSec, const CommandContext& ctx);
// Exports entry.cutStart..cutEnd of entry.sourcePath into entry.fullPath. A source with a cover
// the result can hold is cut by a trim filter instead of -ss/-to, which would drop the picture.
BuiltCommand BuildCutCommand(const FileEntry& cutEntry, const CommandContext& ctx);

// ---- Format lists -----------------------------------------------------------------------
// The format texts the convert, merge and extract choices offer: those of a fixed candidate
// list whose muxer and default audio encoder the installed FFmpeg has (asked in-process).
std::vector<std::string> WritableAudioFormats();
// True when FFmpeg can write an audio file with this extension by default, into that one file.
bool CanWriteFormat(const std::string& format);

}  // namespace tw
