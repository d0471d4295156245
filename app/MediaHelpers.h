// Small stateless helpers shared by the pages, lists and engines: size and duration
// texts, the duration probe, the cut page's time text, video extensions, splitting.
// Texts are UTF-8.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct AVFormatContext;

namespace tw {

// "1023B", "1KB", "1.00M", "1.50G" (powers of 1024).
std::string FormatFileSize(std::int64_t sizeBytes);

// How long a probe may take before it is given up (a file on a stalled network share, say).
inline constexpr std::chrono::milliseconds kProbeDeadline{5000};

// A picture a file carries beside its sound (a cover): the N of the transcoder's stream
// specifier "v:N", the picture's codec as FFmpeg names it ("mjpeg", "png", ...), its size in
// bytes and its dimensions (0 when the picture cannot be read).
struct CoverPicture {
  int videoIndex = 0;
  std::string codec;
  std::int64_t bytes = 0;
  int width = 0;
  int height = 0;
};

// What decides how a file's results are written so that they keep what it carries.
// The sound stream every engine and the transcoder take from input: the one marked as the default,
// else the one with the most channels (the first on a tie), as the transcoder chooses for itself.
// Its index among input's streams, or -1 when there is none.
int ChooseSoundStream(const AVFormatContext* input);

struct MediaFacts {
  // The sound stream the transcoder takes by itself (its default one, else the one with the
  // most channels; the first on a tie), as the N of "a:N"; -1 when there is no sound.
  int soundIndex = -1;
  int soundStreams = 0;      // sound streams in the file: a result keeps the one above alone
  int channels = 0;          // of that stream; 0 when unknown
  std::string layout;        // its channel layout as FFmpeg names it ("5.1(side)"); "" when unknown
  int sampleRate = 0;        // Hz; 0 when unknown
  std::int64_t bitRate = 0;  // bit/s of that stream; 0 when unknown
  std::vector<CoverPicture> covers;
  // The file's tags live on its sound stream (Ogg, Opus), not on the file.
  bool tagsOnSound = false;
  // Entries the container keeps among the tags for its own bookkeeping (IsBookkeepingTag), on
  // the file and on that sound stream: copied to another container they are junk tags.
  std::vector<std::string> bookkeepingTags;
  std::vector<std::string> soundBookkeepingTags;
};

// True for a tag entry that is a container's bookkeeping rather than a description of the
// content ("major_brand", "minor_version", "compatible_brands", "handler_name", "vendor_id",
// "language", and Matroska's per-stream statistics: "DURATION", "BPS", "NUMBER_OF_FRAMES",
// "NUMBER_OF_BYTES", "_STATISTICS_..."), in any letter case.
bool IsBookkeepingTag(std::string_view key, std::string_view value);

// True when a result with this extension can carry this cover picture: mp3 (JPEG, PNG, BMP,
// GIF, TIFF), m4a and mp4 (JPEG, PNG, BMP), flac (JPEG, PNG, BMP, TIFF, below the 16 MiB of a
// picture block). Others (wav, ogg, opus, amr ...) hold none, and no container takes a picture
// whose dimensions cannot be read (a broken one).
bool CanHoldCover(std::string_view format, const CoverPicture& picture);

// What a result of a file with several sound tracks says: which one it kept, of how many
// (translated); "" for a file with one or none.
std::string KeptTrackNote(const MediaFacts& facts);

// True for a tag entry a result should carry over: not empty, no bookkeeping, not the
// "encoder" entry a writer sets for itself.
bool IsDescriptiveTag(std::string_view key, std::string_view value);

// What a probe found: the duration as ProbeDuration gives it, whether there is sound, and the
// facts of its streams, all from one open of the file.
struct MediaProbe {
  double duration = -1;
  bool hasSound = false;
  MediaFacts facts;
};
// Probes a file. Only a regular file is opened (a named pipe or a device would block the
// reader); the probe runs on a thread of its own and is given up after deadline, when this
// returns what an unreadable file gives (that thread then ends by itself). Any thread.
MediaProbe ProbeMedia(const std::string& pathUtf8, std::chrono::milliseconds deadline = kProbeDeadline);

// Duration in seconds of the first audio or video stream, or -1 when the file cannot be
// opened, has neither, is not a regular file or cannot be read within kProbeDeadline.
double ProbeDuration(const std::string& pathUtf8);

// "%02d:%02d:%02d" of the whole seconds (cut towards zero).
std::string FormatDuration(double seconds);

// "%02d:%02d:%02d.%02d" of a position: hundredths cut towards zero.
std::string FormatTimeText(double seconds);

bool IsDigits(std::string_view text);
bool IsTimeText(std::string_view text);
// Seconds of an H:MM:SS.cc text; 0 for a text that fails the checks.
double ParseTimeText(std::string_view text);

// True for one of the 24 video container extensions (given without the dot, any ASCII case).
bool IsVideoExtension(std::string_view extension);

// Cuts at every delimiter character; empty pieces are dropped.
std::vector<std::string> SplitText(std::string_view text, std::string_view delimiters);

// "?timestamp=" followed by the milliseconds since the epoch.
std::string MakeTimestampQuery();

// Reads leading decimal digits (after optional blanks and sign) like the platform's atoi;
// no digits give 0.
long long LeadingInt(std::string_view text);

}  // namespace tw
