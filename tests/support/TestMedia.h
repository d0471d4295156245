// Media for tests, made with ffmpeg's lavfi sources on first use and kept for the whole
// test run in TW_TEST_MEDIA_DIR (scripts/test makes a fresh one per run). Safe to call
// from several test processes at once: each file is generated under a lock.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tw::test {

// The folder holding generated media.
std::string MediaDir();

// The path of `name` in MediaDir, generated when missing by
//   ffmpeg -hide_banner -loglevel error -y <args...> <path>
// Fails the calling test (ADD_FAILURE) when ffmpeg fails.
std::string MakeMedia(const std::string& name, const std::vector<std::string>& args);

// The standard set. Durations in seconds.
std::string ToneWav(double seconds = 5, int frequency = 440, int rate = 44100, int channels = 2);
std::string ToneMp3(double seconds = 5, int frequency = 440);
std::string NoiseWav(double seconds = 5);
std::string VideoWithSound(double seconds = 5);     // mp4: testsrc 320x240 25 fps + sine, AAC
std::string VideoWithoutSound(double seconds = 5);  // mp4: testsrc only
std::string TwoAudioStreams();  // mkv: 440 Hz stream, then 880 Hz marked as the default one
std::string SurroundWav();                          // 5.1, 3 s
std::string Mp3WithCover();                         // mp3 with an attached PNG picture
std::string TextNamedMp3();                         // plain text named .mp3
std::string EmptyMp3();                             // zero bytes
std::string LongMp3();  // 20 minutes, 16 kHz stereo: seconds of work for every engine, even on a fast machine

// ---- Inputs that break the assumptions of code that matches text, checks paths, builds names
// or expects one rate, layout or frame rate. Each is made once per test run.

// Texts the transcoder itself prints, which the verdict and progress parsers look for.
const std::vector<std::string>& TranscoderMessageTexts();
// File names a user may really have: shell metacharacters, quotes, a leading dash, CJK, a
// newline, printf conversions, a protocol-like prefix, and the transcoder's message texts.
const std::vector<std::string>& HostileNames();
std::string ToneMono(double seconds = 3);  // wav, 44100 Hz, one channel
std::string Tone48k(double seconds = 3);   // wav, 48000 Hz stereo
std::string Tone8k(double seconds = 3);    // wav, 8000 Hz, one channel (telephone sound)
// 30 s of variable-rate MP3 without its Xing header, 3 s of silence first: its header says
// 32 kbit/s and 136 s.
std::string VbrMp3WithoutHeader();
// 10 s of ADTS AAC with 300 bytes in its middle overwritten: ffmpeg decodes about 9.5 s of it.
std::string DamagedAac();
// 10 s of mp4 (picture and AAC sound) whose first sound packet at or after 5 s is overwritten.
std::string VideoWithDamagedSound();
// AAC sound whose timestamps jump from about 4 s to 5 s, silent but for a 1 kHz beep (100 ms) at
// 7 s: 9 s by its timestamps, 8 s of samples; in Matroska, under a 9 s picture when video.
std::string SoundWithGap(bool video);
// 5 s of noise as 256 kbit/s AAC in Matroska, which states no rate of its own.
std::string AacInMatroska();
// An mp3 whose title, artist, album and comment tags carry the transcoder's message texts.
std::string TaggedWithTranscoderTexts();
// mp4 whose frame rate changes (30 fps, then 10 fps after 1.5 s), with the picture flashing white
// exactly while the sound beeps (1 kHz at 1.0-1.1 s and 2.5-2.6 s); 4 s.
std::string VariableFrameRateVideo();
// mp4 of 321x241 pixels (odd width and height; 4:4:4 H.264 allows them) with sound; 3 s.
std::string OddSizeVideo();
// A half-second 8-bit mono WAV whose header claims `rate` samples a second (and the byte rate to
// match), named "rate-<rate>.wav": a damaged or hostile header that decoders take as it stands.
std::string WavClaimingRate(unsigned rate);
// The same WAV with a LIST/INFO chunk before its sound whose one tag claims 2 GB
// ("huge-tag.wav"): the demuxer allocates what a tag claims before reading it.
std::string WavWithHugeTag();
// A named pipe "pipe.wav" in a fresh folder that nobody writes to: opening it for reading waits.
std::string NamedPipe();
// Two different sources with one base name in one folder ("song.wav": 3 s 440 Hz; "song.flac":
// 2 s 880 Hz).
struct SameBaseName {
  std::string first, second;
};
SameBaseName TwoSourcesOneBaseName();
// A copy of src under name in a fresh folder.
std::string CopyAs(const std::string& src, const std::string& name);

// A fresh empty folder for one test (removed at process exit).
std::string TempDir();

// The whole content of a file; empty when it cannot be read.
std::string ReadBytes(const std::string& path);
// The SHA-256 of bytes as sha256sum gives it (64 lower-case hex digits).
std::string Sha256Of(const std::string& bytes);
// The names in a folder, sorted; none when it cannot be read.
std::vector<std::string> FileNames(const std::string& folder);

// Runs argv (no shell) and returns its exit status (128 + signal when killed, -1 when it cannot
// start); output (stdout+stderr) when asked. tests/support/Process.h has the rest.
int RunProcess(const std::vector<std::string>& argv, std::string* output = nullptr);

// ffprobe facts about a file.
struct StreamInfo {
  std::string codecType;  // "audio", "video"
  std::string codecName;
  int channels = 0;
  int sampleRate = 0;
  int width = 0;
  int height = 0;
  std::string frameRate;  // "25/1"
  std::string rotate;     // the rotation of the display matrix or tag, "" when none
};
struct MediaInfo {
  bool ok = false;
  double durationSec = 0;
  std::string formatName;
  std::vector<StreamInfo> streams;
  int CountType(const std::string& type) const;
  const StreamInfo* First(const std::string& type) const;
};
MediaInfo Probe(const std::string& path);

// Mean and peak level in dB of the sound between start and start+length seconds
// (volumedetect); -91 for digital silence.
struct Level {
  double meanDb = -91;
  double maxDb = -91;
};
Level MeasureLevel(const std::string& path, double startSec = 0, double lengthSec = -1);
// Mean level in dB (as MeasureLevel's mean) of the part of the sound between lowHz and highHz,
// from the spectrum of the stretch from start to start+length seconds (the work grows with the
// band's width and the square of the stretch's length: keep both to what the check needs); -91 for
// silence in that band.
double BandLevelDb(const std::string& path, double lowHz, double highHz, double startSec = 0,
                   double lengthSec = -1);
// Seconds of sound the first audio stream decodes to (counted samples, not the header's claim);
// -1 when it cannot be decoded.
double DecodedSeconds(const std::string& path);
// Times in seconds at which the picture turns bright and at which the sound starts after
// silence (as in VariableFrameRateVideo), in order.
std::vector<double> FlashTimes(const std::string& path);
std::vector<double> BeepTimes(const std::string& path);

}  // namespace tw::test

namespace tw::test {

// A small file system of its own (tmpfs) for full-disk cases, mounted on a fresh folder for the
// life of the object and detached at its end. Needs the right to mount (root here); otherwise
// Ok() is false and Why() says why, for GTEST_SKIP.
class SmallDisk {
 public:
  explicit SmallDisk(size_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Ok() const { return mounted_; }
  // Mounts it again read-only (a disk that turns read-only under a running program, as after
  // an I/O error): every later write fails, what is there stays readable. True when done.
  bool MakeReadOnly();
  const std::string& Why() const { return why_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string why_;
  bool mounted_ = false;
};

}  // namespace tw::test

namespace tw::test {

// ---- What results must keep of their sources

// The title, artist and album of the tagged samples: CJK, quotes, a shell substitution and a
// text the transcoder prints itself.
inline constexpr const char* kSampleTitle = "夜曲 \"第一\" $(x) Conversion failed";
inline constexpr const char* kSampleArtist = "周 某";
inline constexpr const char* kSampleAlbum = "十一月的萧邦";
// 3 s of stereo sound at 44.1 kHz with a PNG cover picture and the sample tags, as an "mp3",
// "m4a" or "flac" file; "ogg" has the tags (on its sound stream) and no picture.
std::string TaggedWithCover(const std::string& extension);
// mp4: 3 s of H.264 picture and AAC sound, with a PNG cover picture and the sample tags.
std::string TaggedVideoWithCover();
// The tags of a file with lower-case keys: the file's own, or its first sound stream's when the
// file has none (Ogg).
std::map<std::string, std::string> Tags(const std::string& path);
// The MD5 of each packet of a stream ("v:0", "a:0") in order; empty when there is none.
std::vector<std::string> PacketHashes(const std::string& path, const std::string& stream);
// The number of cover pictures (streams marked attached_pic).
int CoverCount(const std::string& path);
// The bit rate of the first sound stream in bit/s as the file declares it; 0 when unknown.
long SoundBitRate(const std::string& path);
// The transcoder children of this process that are still running (not zombies).
int RunningTranscoders();

}  // namespace tw::test
