#include "tests/support/TestMedia.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "tests/support/Process.h"

namespace fs = std::filesystem;

namespace tw::test {

std::string MediaDir() {
  static const std::string dir = [] {
    const char* env = std::getenv("TW_TEST_MEDIA_DIR");
    std::string d = env && *env ? env : "/tmp/tw-media-" + std::to_string(getuid());
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

int RunProcess(const std::vector<std::string>& argv, std::string* output) {
  SpawnOptions options;
  options.mergeError = true;
  Process child(argv, options);
  if (!child.Started()) return -1;
  const ProcessResult result = child.Finish();
  if (output) *output = result.out;
  return result.signal ? 128 + result.signal : result.exitStatus;
}

std::string MakeMedia(const std::string& name, const std::vector<std::string>& args) {
  const std::string path = MediaDir() + "/" + name;
  if (fs::exists(path)) return path;
  const std::string lockPath = path + ".lock";
  const int lockFd = open(lockPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  if (lockFd >= 0) flock(lockFd, LOCK_EX);
  if (!fs::exists(path)) {
    const std::string partial = MediaDir() + "/.partial-" + std::to_string(getpid()) + "-" + name;
    std::vector<std::string> argv{"ffmpeg", "-hide_banner", "-loglevel", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(partial);
    std::string out;
    const int rc = RunProcess(argv, &out);
    if (rc == 0) {
      fs::rename(partial, path);
    } else {
      ADD_FAILURE() << "generating " << name << " failed: " << out;
      std::error_code ec;
      fs::remove(partial, ec);
    }
  }
  if (lockFd >= 0) {
    flock(lockFd, LOCK_UN);
    close(lockFd);
  }
  return path;
}

namespace {

std::string Num(double v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

}  // namespace

std::string ToneWav(double seconds, int frequency, int rate, int channels) {
  const std::string name = "tone-" + Num(seconds) + "s-" + std::to_string(frequency) + "hz-" +
                           std::to_string(rate) + "-" + std::to_string(channels) + "ch.wav";
  return MakeMedia(name, {"-f", "lavfi", "-i",
                          "sine=frequency=" + std::to_string(frequency) +
                              ":sample_rate=" + std::to_string(rate) + ":duration=" + Num(seconds),
                          "-ac", std::to_string(channels), "-c:a", "pcm_s16le"});
}

std::string ToneMp3(double seconds, int frequency) {
  return MakeMedia(
      "tone-" + Num(seconds) + "s-" + std::to_string(frequency) + "hz.mp3",
      {"-f", "lavfi", "-i",
       "sine=frequency=" + std::to_string(frequency) + ":sample_rate=44100:duration=" + Num(seconds), "-ac",
       "2", "-c:a", "libmp3lame", "-b:a", "128k"});
}

std::string NoiseWav(double seconds) {
  return MakeMedia(
      "noise-" + Num(seconds) + "s.wav",
      {"-f", "lavfi", "-i", "anoisesrc=color=white:amplitude=0.1:sample_rate=44100:duration=" + Num(seconds),
       "-ac", "2", "-c:a", "pcm_s16le"});
}

std::string VideoWithSound(double seconds) {
  return MakeMedia(
      "video-sound-" + Num(seconds) + "s.mp4",
      {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=" + Num(seconds), "-f", "lavfi", "-i",
       "sine=frequency=440:sample_rate=44100:duration=" + Num(seconds), "-c:v", "libx264", "-preset",
       "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-ac", "2", "-shortest"});
}

std::string VideoWithoutSound(double seconds) {
  return MakeMedia("video-silent-" + Num(seconds) + "s.mp4",
                   {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=" + Num(seconds), "-c:v",
                    "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
}

std::string TwoAudioStreams() {
  return MakeMedia(
      "two-audio-streams-second-default.mkv",
      {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=4", "-f", "lavfi", "-i",
       "sine=frequency=880:sample_rate=44100:duration=4", "-map", "0:a", "-map", "1:a", "-disposition:a:0", "0",
       "-disposition:a:1", "default", "-c:a", "pcm_s16le"});
}

std::string SurroundWav() {
  return MakeMedia("surround-5.1.wav",
                   {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=3", "-af",
                    "pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0", "-c:a", "pcm_s16le"});
}

std::string Mp3WithCover() {
  const std::string cover =
      MakeMedia("cover.png", {"-f", "lavfi", "-i", "testsrc=size=64x64:duration=1", "-frames:v", "1"});
  return MakeMedia("with-cover.mp3", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=4",
                                      "-i", cover, "-map", "0:a", "-map", "1:v", "-c:a", "libmp3lame", "-c:v",
                                      "png", "-disposition:v", "attached_pic", "-id3v2_version", "3"});
}

std::string TextNamedMp3() {
  const std::string path = MediaDir() + "/text-named.mp3";
  if (!fs::exists(path)) {
    std::ofstream(path + ".tmp." + std::to_string(getpid())) << "This is plain text, not sound.\nLine two.\n";
    fs::rename(path + ".tmp." + std::to_string(getpid()), path);
  }
  return path;
}

std::string EmptyMp3() {
  const std::string path = MediaDir() + "/empty.mp3";
  if (!fs::exists(path)) std::ofstream(path).close();
  return path;
}

namespace {

// Four bytes, little-endian, as RIFF headers hold numbers.
std::string Le32(std::uint32_t v) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xff);
  return bytes;
}

// Writes beside and renames, so that a test process running at the same time never reads half a file.
void WriteWhole(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".tmp." + std::to_string(getpid());
  std::ofstream(temporary, std::ios::binary) << bytes;
  fs::rename(temporary, path);
}

}  // namespace

std::string WavClaimingRate(unsigned rate) {
  const std::string base = MakeMedia(
      "u8-8k-mono-0.5s.wav",
      {"-f", "lavfi", "-i", "sine=sample_rate=8000:duration=0.5", "-ac", "1", "-c:a", "pcm_u8", "-bitexact"});
  const std::string path = MediaDir() + "/rate-" + std::to_string(rate) + ".wav";
  if (!fs::exists(path)) {
    std::string bytes = ReadBytes(base);
    if (bytes.size() < 44 || bytes.compare(12, 4, "fmt ") != 0) {
      ADD_FAILURE() << "unexpected WAV header in " << base;
      return path;
    }
    // The format chunk's sample rate and byte rate (one byte a sample here).
    bytes.replace(24, 4, Le32(rate));
    bytes.replace(28, 4, Le32(rate));
    WriteWhole(path, bytes);
  }
  return path;
}

std::string WavWithHugeTag() {
  const std::string path = MediaDir() + "/huge-tag.wav";
  if (!fs::exists(path)) {
    std::string bytes = ReadBytes(WavClaimingRate(8000));
    if (bytes.size() < 44) return path;
    // After the 12-byte RIFF header and the 24-byte format chunk.
    bytes.insert(36, "LIST" + Le32(0x7ffffff0u) + "INFO" + "ISFT" + Le32(0x7f000000u) + "Lavf");
    WriteWhole(path, bytes);
  }
  return path;
}

std::string LongMp3() {
  // Stereo, so that every page takes it (the accompaniment of a mono file is refused).
  return MakeMedia("long-20min-16k-stereo.mp3",
                   {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=16000:duration=1200", "-ac", "2",
                    "-c:a", "libmp3lame", "-b:a", "32k"});
}

const std::vector<std::string>& TranscoderMessageTexts() {
  static const std::vector<std::string> texts = {"Conversion failed!",
                                                 "No space left on device",
                                                 "video:0kB audio:1kB muxing overhead: 0.1%",
                                                 "Invalid argument",
                                                 "time=99:59:59.99 bitrate=1.0kbits/s",
                                                 "Duration: 99:59:59.99, start: 0.000000"};
  return texts;
}

const std::vector<std::string>& HostileNames() {
  static const std::vector<std::string> names = {
      "it's \"quoted\".wav",
      "$(touch pwned) `touch pwned`.wav",
      "a;b|c&d>e<f.wav",
      "-i leading-dash.wav",
      "中文 名字 (1).wav",
      "line\nbreak.wav",
      "100%s %d %n.wav",
      "file:concat:x.wav",
      "Conversion failed!.wav",
      "No space left on device.wav",
      "muxing overhead: 1%.wav",
      "Invalid argument.wav",
      "time=99:00:00.00.wav",
      "  spaces  .wav",
      "<b>take.wav",  // markup, shown as it is
      "<font color=white>hidden.wav",
      "noextension",
  };
  return names;
}

std::string ToneMono(double seconds) {
  return ToneWav(seconds, 440, 44100, 1);
}

std::string Tone48k(double seconds) {
  return ToneWav(seconds, 440, 48000, 2);
}

std::string Tone8k(double seconds) {
  return ToneWav(seconds, 440, 8000, 1);
}

std::string VbrMp3WithoutHeader() {
  return MakeMedia("vbr-no-xing.mp3",
                   {"-f", "lavfi", "-i", "anullsrc=r=44100:cl=stereo:d=3", "-f", "lavfi", "-i",
                    "anoisesrc=r=44100:d=27:a=0.5", "-filter_complex",
                    "[1]aformat=channel_layouts=stereo[n];[0][n]concat=n=2:v=0:a=1", "-c:a", "libmp3lame",
                    "-q:a", "0", "-write_xing", "0"});
}

namespace {

// A copy of source named name whose count bytes from offset are overwritten with a pattern no
// decoder takes for its own syntax. Made once, like every other medium.
std::string Damaged(const std::string& source, const std::string& name, std::uintmax_t offset, long count) {
  const std::string path = MediaDir() + "/" + name;
  if (fs::exists(path)) return path;
  const std::string partial = MediaDir() + "/.partial-" + std::to_string(getpid()) + "-" + name;
  fs::copy_file(source, partial, fs::copy_options::overwrite_existing);
  {
    std::fstream file(partial, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    for (long i = 0; i < count; ++i) file.put(static_cast<char>(0x5A ^ (i * 37)));
  }
  fs::rename(partial, path);
  return path;
}

}  // namespace

std::string DamagedAac() {
  const std::string clean = MakeMedia("tone-10s.aac", {"-f", "lavfi", "-i", "sine=d=10", "-c:a", "aac"});
  return Damaged(clean, "tone-10s-damaged.aac", fs::file_size(clean) / 2, 300);
}

std::string VideoWithDamagedSound() {
  const std::string clean =
      MakeMedia("video-10s.mp4", {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:d=10", "-f", "lavfi", "-i",
                                  "sine=d=10", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"});
  std::string out;
  RunProcess({"ffprobe", "-v", "error", "-select_streams", "a", "-show_entries", "packet=pts_time,size,pos", "-of",
              "csv=p=0", clean},
             &out);
  std::istringstream lines(out);
  double at = 0;
  long size = 0;
  std::uintmax_t pos = 0;
  char comma = 0;
  while (lines >> at >> comma >> size >> comma >> pos && at < 5) {
  }
  return Damaged(clean, "video-10s-damaged-sound.mp4", pos, size);
}

std::string SoundWithGap(bool video) {
  std::vector<std::string> args;
  if (video) args = {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:d=9", "-c:v", "libx264", "-preset", "ultrafast"};
  args.insert(video ? args.begin() + 4 : args.end(),
              {"-f", "lavfi", "-i", "aevalsrc=exprs=0.5*sin(2*PI*1000*t)*between(t\\,6\\,6.1):s=44100:d=8"});
  args.insert(args.end(), {"-af", "asetpts=PTS+gte(T\\,4)/TB", "-c:a", "aac"});
  return MakeMedia(video ? "gap-under-picture.mkv" : "gap.mka", args);
}

std::string AacInMatroska() {
  return MakeMedia("aac-256k.mkv",
                   {"-f", "lavfi", "-i", "anoisesrc=r=48000:d=5:a=0.5", "-ac", "2", "-c:a", "aac", "-b:a", "256k"});
}

namespace {

std::vector<std::string> TagArgs(const std::vector<std::pair<std::string, std::string>>& tags) {
  std::vector<std::string> args;
  for (const auto& [key, value] : tags) args.insert(args.end(), {"-metadata", key + "=" + value});
  return args;
}

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

std::string TaggedWithTranscoderTexts() {
  const auto& texts = TranscoderMessageTexts();
  return MakeMedia("tagged-with-messages.mp3",
                   Joined({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=3", "-c:a",
                           "libmp3lame", "-id3v2_version", "3"},
                          TagArgs({{"title", texts[0]},
                                   {"artist", texts[1]},
                                   {"album", texts[2]},
                                   {"comment", texts[3]},
                                   {"genre", texts[4]},
                                   {"composer", texts[5]}})));
}

std::string VariableFrameRateVideo() {
  return MakeMedia(
      "vfr-flash-beep.mp4",
      {"-f",
       "lavfi",
       "-i",
       "color=c=black:size=320x240:rate=30:duration=4,drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:"
       "enable='between(t,1,1.1)+between(t,2.5,2.6)',select='lt(t\\,1.5)+not(mod(n\\,3))'",
       "-f",
       "lavfi",
       "-i",
       "aevalsrc=0.5*sin(2*PI*1000*t)*(between(t\\,1\\,1.1)+between(t\\,2.5\\,2.6)):s=44100:d=4",
       "-fps_mode",
       "vfr",
       "-c:v",
       "libx264",
       "-preset",
       "ultrafast",
       "-pix_fmt",
       "yuv420p",
       "-c:a",
       "aac",
       "-ac",
       "2"});
}

std::string OddSizeVideo() {
  return MakeMedia("odd-size-321x241.mp4",
                   {"-f", "lavfi", "-i", "testsrc=size=321x241:rate=25:duration=3", "-f", "lavfi", "-i",
                    "sine=frequency=440:sample_rate=44100:duration=3", "-c:v", "libx264", "-preset",
                    "ultrafast", "-pix_fmt", "yuv444p", "-c:a", "aac", "-ac", "2", "-shortest"});
}

std::string NamedPipe() {
  const std::string path = TempDir() + "/pipe.wav";
  if (mkfifo(path.c_str(), 0600) != 0) ADD_FAILURE() << "mkfifo " << path;
  return path;
}

SameBaseName TwoSourcesOneBaseName() {
  const std::string dir = TempDir();
  SameBaseName pair{dir + "/song.wav", dir + "/song.flac"};
  fs::copy_file(ToneWav(3, 440), pair.first);
  fs::copy_file(
      MakeMedia("tone-2s-880hz.flac", {"-f", "lavfi", "-i", "sine=frequency=880:sample_rate=44100:duration=2",
                                       "-ac", "2", "-c:a", "flac"}),
      pair.second);
  return pair;
}

std::string CopyAs(const std::string& src, const std::string& name) {
  const std::string path = TempDir() + "/" + name;
  fs::copy_file(src, path, fs::copy_options::overwrite_existing);
  return path;
}

namespace {

// Never destroyed: the exit handler that removes the folders runs after static destructors.
std::vector<std::string>& TempDirs() {
  static auto* dirs = new std::vector<std::string>;
  return *dirs;
}

// The process that made the folders; a forked child that ends with exit() leaves them alone.
pid_t gTempDirOwner = 0;

void RemoveTempDirs() {
  if (getpid() != gTempDirOwner) return;
  for (const auto& d : TempDirs()) {
    std::error_code ec;
    fs::remove_all(d, ec);
  }
}

}  // namespace

std::string TempDir() {
  static std::once_flag once;
  // The list must exist before the handler is registered, so that it is destroyed after it runs.
  std::call_once(once, [] {
    TempDirs();
    gTempDirOwner = getpid();
    std::atexit(RemoveTempDirs);
  });
  std::string pattern = (fs::temp_directory_path() / "tw-test.XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (!made) return {};
  TempDirs().push_back(made);
  return made;
}

std::string Sha256Of(const std::string& bytes) {
  const std::string copy = TempDir() + "/bytes";
  std::ofstream(copy, std::ios::binary) << bytes;
  std::string sum;
  RunProcess({"sha256sum", copy}, &sum);
  return sum.substr(0, 64);
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& e : fs::directory_iterator(folder, error)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int MediaInfo::CountType(const std::string& type) const {
  int n = 0;
  for (const auto& s : streams) n += s.codecType == type;
  return n;
}

const StreamInfo* MediaInfo::First(const std::string& type) const {
  for (const auto& s : streams) {
    if (s.codecType == type) return &s;
  }
  return nullptr;
}

MediaInfo Probe(const std::string& path) {
  MediaInfo info;
  std::string out;
  const int rc = RunProcess(
      {"ffprobe", "-v", "error", "-print_format", "json", "-show_format", "-show_streams", path}, &out);
  if (rc != 0) return info;
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(out);
  if (!Json::parseFromStream(builder, in, &root, &errors)) return info;
  info.ok = true;
  info.durationSec = std::atof(root["format"]["duration"].asString().c_str());
  info.formatName = root["format"]["format_name"].asString();
  for (const auto& s : root["streams"]) {
    StreamInfo si;
    si.codecType = s["codec_type"].asString();
    si.codecName = s["codec_name"].asString();
    si.channels = s["channels"].asInt();
    si.sampleRate = std::atoi(s["sample_rate"].asString().c_str());
    si.width = s["width"].asInt();
    si.height = s["height"].asInt();
    si.frameRate = s["r_frame_rate"].asString();
    if (s["tags"].isMember("rotate")) si.rotate = s["tags"]["rotate"].asString();
    for (const auto& sd : s["side_data_list"]) {
      if (sd.isMember("rotation")) si.rotate = std::to_string(sd["rotation"].asInt());
    }
    info.streams.push_back(si);
  }
  return info;
}

Level MeasureLevel(const std::string& path, double startSec, double lengthSec) {
  std::vector<std::string> argv{"ffmpeg", "-hide_banner", "-nostats", "-ss", Num(startSec)};
  if (lengthSec > 0) {
    argv.push_back("-t");
    argv.push_back(Num(lengthSec));
  }
  argv.insert(argv.end(), {"-i", path, "-vn", "-af", "volumedetect", "-f", "null", "-"});
  std::string out;
  RunProcess(argv, &out);
  Level level;
  const auto read = [&](const std::string& key, double& value) {
    const size_t p = out.find(key);
    if (p != std::string::npos) value = std::atof(out.c_str() + p + key.size());
  };
  read("mean_volume: ", level.meanDb);
  read("max_volume: ", level.maxDb);
  return level;
}

double BandLevelDb(const std::string& path, double lowHz, double highHz, double startSec, double lengthSec) {
  // Each channel's power in the band from its Hann-windowed spectrum (one Goertzel filter per
  // frequency bin), averaged over the channels.
  constexpr int kRate = 44100;
  const MediaInfo info = Probe(path);
  const StreamInfo* audio = info.First("audio");
  if (!audio || audio->channels <= 0) return -91;
  const auto channels = static_cast<size_t>(audio->channels);
  std::vector<std::string> argv{"ffmpeg", "-hide_banner", "-v", "error", "-ss", Num(startSec)};
  if (lengthSec > 0) argv.insert(argv.end(), {"-t", Num(lengthSec)});
  argv.insert(argv.end(), {"-i", path, "-map", "0:a:0", "-ar", std::to_string(kRate), "-f", "f32le", "-"});
  const ProcessResult r = Run(argv);
  const size_t frames = r.out.size() / (channels * sizeof(float));
  if (r.exitStatus != 0 || frames < 64) return -91;
  std::vector<float> samples(frames * channels);
  std::memcpy(samples.data(), r.out.data(), samples.size() * sizeof(float));
  const double n = static_cast<double>(frames);
  std::vector<double> window(frames);
  double windowEnergy = 0;
  for (size_t i = 0; i < frames; ++i) {
    window[i] = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / (n - 1));
    windowEnergy += window[i] * window[i];
  }
  const auto firstBin = static_cast<size_t>(std::ceil(lowHz * n / kRate));
  const auto lastBin = static_cast<size_t>(std::floor(highHz * n / kRate));
  double power = 0;
  for (size_t channel = 0; channel < channels; ++channel) {
    for (size_t k = firstBin; k <= lastBin && k < frames / 2; ++k) {
      const double coefficient = 2 * std::cos(2 * M_PI * static_cast<double>(k) / n);
      double s1 = 0, s2 = 0;
      for (size_t i = 0; i < frames; ++i) {
        const double s0 = samples[i * channels + channel] * window[i] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
      }
      power += s1 * s1 + s2 * s2 - coefficient * s1 * s2;  // |X_k|^2
    }
  }
  // Parseval: a sine of amplitude A spread over its bins gives A^2 / 2, as volumedetect reads it.
  const double meanPower = 2 * power / (n * windowEnergy) / static_cast<double>(channels);
  return meanPower > 1e-10 ? std::max(-91.0, 10 * std::log10(meanPower)) : -91;
}

double DecodedSeconds(const std::string& path) {
  constexpr int kRate = 8000;
  const ProcessResult r = Run({"ffmpeg", "-hide_banner", "-v", "error", "-i", path, "-map", "0:a:0", "-ac",
                               "1", "-ar", std::to_string(kRate), "-f", "s16le", "-"});
  if (r.exitStatus != 0) return -1;
  return static_cast<double>(r.out.size()) / 2 / kRate;
}

namespace {

// The pts_time of each frame that a metadata=print line reports with value above threshold.
std::vector<double> FramesAbove(const std::string& out, const std::string& key, double threshold) {
  std::vector<double> times;
  double pts = -1;
  bool was = false;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (const size_t p = line.find("pts_time:"); p != std::string::npos)
      pts = std::atof(line.c_str() + p + 9);
    if (const size_t p = line.find(key + "="); p != std::string::npos) {
      const bool above = std::atof(line.c_str() + p + key.size() + 1) > threshold;
      if (above && !was) times.push_back(pts);
      was = above;
    }
  }
  return times;
}

}  // namespace

std::vector<double> FlashTimes(const std::string& path) {
  std::string out;
  RunProcess({"ffmpeg", "-hide_banner", "-nostats", "-i", path, "-map", "0:v:0", "-vf",
              "signalstats,metadata=print:key=lavfi.signalstats.YAVG", "-f", "null", "-"},
             &out);
  return FramesAbove(out, "lavfi.signalstats.YAVG", 128);
}

std::vector<double> BeepTimes(const std::string& path) {
  std::string out;
  RunProcess({"ffmpeg", "-hide_banner", "-nostats", "-i", path, "-map", "0:a:0", "-af",
              "aresample=44100,asetnsamples=n=441,astats=metadata=1:reset=1,"
              "ametadata=print:key=lavfi.astats.Overall.RMS_level",
              "-f", "null", "-"},
             &out);
  return FramesAbove(out, "lavfi.astats.Overall.RMS_level", -30);
}

}  // namespace tw::test

namespace tw::test {

SmallDisk::SmallDisk(size_t bytes) : path_(TempDir() + "/small-disk") {
  std::filesystem::create_directories(path_);
  const std::string options = "size=" + std::to_string(bytes);
  mounted_ = mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  if (!mounted_) why_ = std::string("a small disk cannot be mounted here: ") + std::strerror(errno);
}

bool SmallDisk::MakeReadOnly() {
  return mounted_ && mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) umount2(path_.c_str(), MNT_DETACH);
}

}  // namespace tw::test

namespace tw::test {

namespace {

std::vector<std::string> SampleTagArgs() {
  return {"-metadata", std::string("title=") + kSampleTitle,
          "-metadata", std::string("artist=") + kSampleArtist,
          "-metadata", std::string("album=") + kSampleAlbum};
}

std::string SampleCover() {
  return MakeMedia("sample-cover.png",
                   {"-f", "lavfi", "-i", "testsrc=size=96x96:duration=1", "-frames:v", "1"});
}

}  // namespace

std::string TaggedWithCover(const std::string& extension) {
  std::vector<std::string> args = {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=3"};
  const bool picture = extension != "ogg" && extension != "mkv";
  if (picture)
    args.insert(args.end(), {"-i", SampleCover(), "-map", "0:a", "-map", "1:v", "-c:v", "copy",
                             "-disposition:v", "attached_pic"});
  args.insert(args.end(), {"-ac", "2"});
  if (extension == "mp3") args.insert(args.end(), {"-b:a", "192k", "-id3v2_version", "3"});
  const std::vector<std::string> tags = SampleTagArgs();
  args.insert(args.end(), tags.begin(), tags.end());
  // A stream language, as phones and editors write it: the stream's, never the result's tag.
  args.insert(args.end(), {"-metadata:s:a:0", "language=eng"});
  return MakeMedia("tagged-cover-eng." + extension, args);
}

std::string TaggedVideoWithCover() {
  std::vector<std::string> args = {"-f",
                                   "lavfi",
                                   "-i",
                                   "testsrc=size=320x240:rate=25:duration=3",
                                   "-f",
                                   "lavfi",
                                   "-i",
                                   "sine=frequency=440:sample_rate=44100:duration=3",
                                   "-i",
                                   SampleCover(),
                                   "-map",
                                   "0:v",
                                   "-map",
                                   "1:a",
                                   "-map",
                                   "2:v",
                                   "-c:v:0",
                                   "libx264",
                                   "-preset",
                                   "ultrafast",
                                   "-pix_fmt",
                                   "yuv420p",
                                   "-c:v:1",
                                   "copy",
                                   "-disposition:v:1",
                                   "attached_pic",
                                   "-c:a",
                                   "aac",
                                   "-ac",
                                   "2"};
  const std::vector<std::string> tags = SampleTagArgs();
  args.insert(args.end(), tags.begin(), tags.end());
  return MakeMedia("tagged-video-cover.mp4", args);
}

std::map<std::string, std::string> Tags(const std::string& path) {
  std::string out;
  RunProcess({"ffprobe", "-v", "error", "-print_format", "json", "-show_entries",
              "format_tags:stream=codec_type:stream_tags", path},
             &out);
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(out);
  std::map<std::string, std::string> tags;
  if (!Json::parseFromStream(builder, in, &root, &errors)) return tags;
  auto take = [&tags](const Json::Value& from) {
    for (const std::string& key : from.getMemberNames()) {
      std::string lower = key;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      tags[lower] = from[key].asString();
    }
  };
  take(root["format"]["tags"]);
  if (tags.empty()) {
    for (const auto& s : root["streams"]) {
      if (s["codec_type"].asString() != "audio") continue;
      take(s["tags"]);
      break;
    }
  }
  return tags;
}

std::vector<std::string> PacketHashes(const std::string& path, const std::string& stream) {
  std::string out;
  if (RunProcess(
          {"ffmpeg", "-v", "error", "-i", path, "-map", "0:" + stream, "-c", "copy", "-f", "framemd5", "-"},
          &out) != 0)
    return {};
  std::vector<std::string> hashes;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    hashes.push_back(line.substr(line.rfind(',') + 1));
  }
  return hashes;
}

int CoverCount(const std::string& path) {
  std::string out;
  RunProcess(
      {"ffprobe", "-v", "error", "-show_entries", "stream_disposition=attached_pic", "-of", "csv=p=0", path},
      &out);
  int covers = 0;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) covers += line.find('1') != std::string::npos;
  return covers;
}

long SoundBitRate(const std::string& path) {
  std::string out;
  RunProcess({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries", "stream=bit_rate", "-of",
              "csv=p=0", path},
             &out);
  return std::atol(out.c_str());
}

int RunningTranscoders() {
  int running = 0;
  for (const pid_t child : ChildrenOf(getpid())) {
    ProcStat stat;
    if (ReadProcStat(child, &stat) && stat.name == "ffmpeg" && stat.state != 'Z') ++running;
  }
  return running;
}

}  // namespace tw::test
