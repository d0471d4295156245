#include "tests/support/TestMedia.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/json.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

extern char** environ;

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
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return -1;
  }
  std::string text;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
                          "sine=frequency=" + std::to_string(frequency) + ":sample_rate=" + std::to_string(rate) +
                              ":duration=" + Num(seconds),
                          "-ac", std::to_string(channels), "-c:a", "pcm_s16le"});
}

std::string ToneMp3(double seconds, int frequency) {
  return MakeMedia("tone-" + Num(seconds) + "s-" + std::to_string(frequency) + "hz.mp3",
                   {"-f", "lavfi", "-i",
                    "sine=frequency=" + std::to_string(frequency) + ":sample_rate=44100:duration=" + Num(seconds),
                    "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k"});
}

std::string NoiseWav(double seconds) {
  return MakeMedia("noise-" + Num(seconds) + "s.wav",
                   {"-f", "lavfi", "-i", "anoisesrc=color=white:amplitude=0.1:sample_rate=44100:duration=" + Num(seconds),
                    "-ac", "2", "-c:a", "pcm_s16le"});
}

std::string VideoWithSound(double seconds) {
  return MakeMedia("video-sound-" + Num(seconds) + "s.mp4",
                   {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=" + Num(seconds), "-f", "lavfi", "-i",
                    "sine=frequency=440:sample_rate=44100:duration=" + Num(seconds), "-c:v", "libx264", "-preset",
                    "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-ac", "2", "-shortest"});
}

std::string VideoWithoutSound(double seconds) {
  return MakeMedia("video-silent-" + Num(seconds) + "s.mp4",
                   {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=" + Num(seconds), "-c:v", "libx264",
                    "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
}

std::string TwoAudioStreams() {
  return MakeMedia("two-audio-streams.mkv",
                   {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=4", "-f", "lavfi", "-i",
                    "sine=frequency=880:sample_rate=44100:duration=4", "-map", "0:a", "-map", "1:a", "-c:a",
                    "pcm_s16le"});
}

std::string SurroundWav() {
  return MakeMedia("surround-5.1.wav", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=3",
                                        "-af", "pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0", "-c:a", "pcm_s16le"});
}

std::string Mp3WithCover() {
  const std::string cover = MakeMedia("cover.png", {"-f", "lavfi", "-i", "testsrc=size=64x64:duration=1", "-frames:v", "1"});
  return MakeMedia("with-cover.mp3", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=4", "-i",
                                      cover, "-map", "0:a", "-map", "1:v", "-c:a", "libmp3lame", "-c:v", "png",
                                      "-disposition:v", "attached_pic", "-id3v2_version", "3"});
}

std::string TextNamedMp3() {
  const std::string path = MediaDir() + "/text-named.mp3";
  if (!fs::exists(path)) {
    std::ofstream(path + ".tmp") << "This is plain text, not sound.\nLine two.\n";
    fs::rename(path + ".tmp", path);
  }
  return path;
}

std::string EmptyMp3() {
  const std::string path = MediaDir() + "/empty.mp3";
  if (!fs::exists(path)) std::ofstream(path).close();
  return path;
}

namespace {

// Never destroyed: the exit handler that removes the folders runs after static destructors.
std::vector<std::string>& TempDirs() {
  static auto* dirs = new std::vector<std::string>;
  return *dirs;
}

void RemoveTempDirs() {
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
    std::atexit(RemoveTempDirs);
  });
  std::string pattern = (fs::temp_directory_path() / "tw-test.XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (!made) return {};
  TempDirs().push_back(made);
  return made;
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
  const int rc = RunProcess({"ffprobe", "-v", "error", "-print_format", "json", "-show_format", "-show_streams", path},
                            &out);
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
  const bool picture = extension != "ogg";
  if (picture)
    args.insert(args.end(), {"-i", SampleCover(), "-map", "0:a", "-map", "1:v", "-c:v", "copy",
                             "-disposition:v", "attached_pic"});
  args.insert(args.end(), {"-ac", "2"});
  if (extension == "mp3") args.insert(args.end(), {"-b:a", "192k", "-id3v2_version", "3"});
  const std::vector<std::string> tags = SampleTagArgs();
  args.insert(args.end(), tags.begin(), tags.end());
  return MakeMedia("tagged-cover." + extension, args);
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

std::string LongMp3() {
  return MakeMedia("long-20min-16k.mp3", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=16000:duration=1200",
                                          "-ac", "1", "-c:a", "libmp3lame", "-b:a", "16k"});
}

int RunningTranscoders() {
  int running = 0;
  std::error_code error;
  for (const auto& e : fs::directory_iterator("/proc", error)) {
    if (e.path().filename().string().find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(e.path() / "stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t open = text.find('('), close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (text.substr(open + 1, close - open - 1) == "ffmpeg" &&
        std::sscanf(text.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == getpid() && state != 'Z')
      ++running;
  }
  return running;
}

}  // namespace tw::test
