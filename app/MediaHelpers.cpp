#include "app/MediaHelpers.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

extern "C" {
#include <libavformat/avformat.h>
}

#include "app/FFmpegPtr.h"
#include "app/Translation.h"

namespace tw {

bool IsBookkeepingTag(std::string_view key, std::string_view) {
  std::string lower(key);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // MP4's brands and handlers, a stream's language, and the statistics Matroska and WebM keep
  // on each stream (its DURATION above all, which would be wrong for any other length).
  for (const char* name : {"major_brand", "minor_version", "compatible_brands", "handler_name", "vendor_id",
                           "language", "duration", "bps", "number_of_frames", "number_of_bytes"}) {
    if (lower == name) return true;
  }
  return lower.rfind("_statistics_", 0) == 0;
}

bool IsDescriptiveTag(std::string_view key, std::string_view value) {
  if (value.empty() || IsBookkeepingTag(key, value)) return false;
  std::string lower(key);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower != "encoder";
}

bool CanHoldCover(std::string_view format, const CoverPicture& picture) {
  std::string f(format);
  for (char& ch : f) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  const std::string& c = picture.codec;
  if (picture.width <= 0 || picture.height <= 0) return false;
  if (f == "mp3") return c == "mjpeg" || c == "png" || c == "bmp" || c == "gif" || c == "tiff";
  if (f == "m4a" || f == "mp4") return c == "mjpeg" || c == "png" || c == "bmp";
  // A FLAC picture block counts its length in 24 bits; room is left for its header.
  if (f == "flac")
    return (c == "mjpeg" || c == "png" || c == "bmp" || c == "tiff") && picture.bytes < (1 << 24) - 4096;
  return false;
}

std::string FormatFileSize(std::int64_t sizeBytes) {
  char text[64];
  if (sizeBytes < 1024) {
    std::snprintf(text, sizeof text, "%dB", static_cast<int>(static_cast<std::uint32_t>(sizeBytes)));
  } else if (sizeBytes < 1048576) {
    std::snprintf(text, sizeof text, "%dKB", static_cast<int>(sizeBytes >> 10));
  } else if (sizeBytes < 1073741824) {
    std::snprintf(text, sizeof text, "%.2fM", static_cast<double>(static_cast<float>(sizeBytes) * 9.5367431640625e-07f));
  } else {
    std::snprintf(text, sizeof text, "%.2fG", static_cast<double>(static_cast<float>(sizeBytes) * 9.31322574615478515625e-10f));
  }
  return text;
}

int ChooseSoundStream(const AVFormatContext* input) {
  int chosen = -1;
  long long best = -1;
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream* stream = input->streams[i];
    if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    const long long score = stream->codecpar->ch_layout.nb_channels +
                            ((stream->disposition & AV_DISPOSITION_DEFAULT) ? 5000000LL : 0);
    if (score > best) {
      best = score;
      chosen = static_cast<int>(i);
    }
  }
  return chosen;
}

std::string KeptTrackNote(const MediaFacts& facts) {
  if (facts.soundStreams <= 1 || facts.soundIndex < 0) return "";
  return FormatText(Tr("MediaHelpers", "仅保留了第 %1 条音轨（共 %2 条）"),
                    {std::to_string(facts.soundIndex + 1), std::to_string(facts.soundStreams)});
}

namespace {

// One probe, shared by its caller and the thread that runs it; the caller may leave first.
struct ProbeCall {
  std::string path;
  std::chrono::steady_clock::time_point deadline;
  std::atomic<bool> givenUp{false};
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  MediaProbe result;
};

int ProbeInterrupt(void* opaque) {
  const auto* call = static_cast<const ProbeCall*>(opaque);
  return call->givenUp || std::chrono::steady_clock::now() >= call->deadline ? 1 : 0;
}

std::vector<std::string> BookkeepingKeys(const AVDictionary* tags) {
  std::vector<std::string> keys;
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = av_dict_get(tags, "", entry, AV_DICT_IGNORE_SUFFIX)))
    if (IsBookkeepingTag(entry->key, entry->value)) keys.emplace_back(entry->key);
  return keys;
}

bool HasDescriptiveTags(const AVDictionary* tags) {
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = av_dict_get(tags, "", entry, AV_DICT_IGNORE_SUFFIX))) {
    if (IsDescriptiveTag(entry->key, entry->value)) return true;
  }
  return false;
}

// The sound stream's real average bit rate, 0 when unknown: its packets' bytes over the time
// they cover, from at most its first minute (and 64 MiB of the file, for a big video).
std::int64_t MeasuredBitRate(AVFormatContext* input, const AVStream* sound) {
  AVPacket* packet = av_packet_alloc();
  if (!packet) return 0;
  const std::int64_t minute = av_rescale_q(60 * AV_TIME_BASE, AV_TIME_BASE_Q, sound->time_base);
  std::int64_t bytes = 0, first = AV_NOPTS_VALUE, end = AV_NOPTS_VALUE;
  while (av_read_frame(input, packet) >= 0) {
    if (packet->stream_index == sound->index && packet->pts != AV_NOPTS_VALUE) {
      if (first == AV_NOPTS_VALUE) first = packet->pts;
      bytes += packet->size;
      end = std::max(end, packet->pts + packet->duration);
    }
    av_packet_unref(packet);
    if ((first != AV_NOPTS_VALUE && end - first >= minute) || (input->pb && avio_tell(input->pb) > (64 << 20)))
      break;
  }
  av_packet_free(&packet);
  if (first == AV_NOPTS_VALUE) return 0;
  const double seconds = static_cast<double>(end - first) * av_q2d(sound->time_base);
  return seconds >= 0.5 ? static_cast<std::int64_t>(static_cast<double>(bytes) * 8 / seconds) : 0;
}

// The sound stream the transcoder would take by itself and the pictures beside it.
MediaFacts ReadFacts(AVFormatContext* input) {
  MediaFacts facts;
  const int soundStream = ChooseSoundStream(input);
  const AVStream* sound = soundStream >= 0 ? input->streams[soundStream] : nullptr;
  int audioCount = 0, videoCount = 0;
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream* stream = input->streams[i];
    const AVCodecParameters* par = stream->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
      if (stream == sound) facts.soundIndex = audioCount;
      ++audioCount;
    } else if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
      if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) {
        const AVCodecDescriptor* codec = avcodec_descriptor_get(par->codec_id);
        facts.covers.push_back(
            {videoCount, codec ? codec->name : "", stream->attached_pic.size, par->width, par->height});
      }
      ++videoCount;
    }
  }
  facts.soundStreams = audioCount;
  facts.bookkeepingTags = BookkeepingKeys(input->metadata);
  if (!sound) return facts;
  facts.channels = sound->codecpar->ch_layout.nb_channels;
  char layout[64] = "";
  if (av_channel_layout_describe(&sound->codecpar->ch_layout, layout, sizeof layout) > 0) facts.layout = layout;
  facts.sampleRate = sound->codecpar->sample_rate;
  facts.bitRate = sound->codecpar->bit_rate;
  // Where the container states no rate of the sound (Matroska) or only that of its first frame
  // (an MP3 of variable rate without its Xing header), the rate is measured.
  if (facts.bitRate <= 0 || input->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) {
    if (const std::int64_t measured = MeasuredBitRate(input, sound); measured > 0) facts.bitRate = measured;
  }
  // A file that is nothing but its sound: the container's rate is the sound's.
  if (facts.bitRate <= 0 && input->nb_streams == 1 && input->bit_rate > 0) facts.bitRate = input->bit_rate;
  facts.tagsOnSound = !HasDescriptiveTags(input->metadata) && HasDescriptiveTags(sound->metadata);
  facts.soundBookkeepingTags = BookkeepingKeys(sound->metadata);
  return facts;
}

MediaProbe ProbeNow(ProbeCall& call) {
  MediaProbe probe;
  struct stat st {};
  if (stat(call.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return probe;
  int error = 0;
  // "file:" keeps a name that reads like a protocol ("pipe:0", "http:x") a plain file.
  FormatInputPtr input = OpenInput("file:" + call.path, {&ProbeInterrupt, &call}, &error);
  if (!input) return probe;
  if (avformat_find_stream_info(input.get(), nullptr) < 0) return probe;
  // A length the container estimated from the first frame's rate (an MP3 of variable rate
  // without its Xing header) is scaled by the rate measured over the sound itself. The stated
  // rate is taken first: reading the packets moves it to the last frame's.
  std::int64_t stated = 0;
  for (unsigned i = 0; i < input->nb_streams && stated <= 0; ++i)
    if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) stated = input->streams[i]->codecpar->bit_rate;
  probe.facts = ReadFacts(input.get());
  probe.hasSound = probe.facts.soundIndex >= 0;
  const double scale = input->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE && stated > 0 &&
                               probe.facts.bitRate > 0
                           ? static_cast<double>(stated) / static_cast<double>(probe.facts.bitRate)
                           : 1.0;
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream* stream = input->streams[i];
    const AVMediaType type = stream->codecpar->codec_type;
    if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) continue;
    // A cover picture is a one-frame "video" stream without duration; the container's
    // duration then stands for the file, as for any stream without its own.
    double duration = stream->duration == AV_NOPTS_VALUE ? -1.0 : av_q2d(stream->time_base) * stream->duration;
    if (duration < 0) {
      if (input->duration == AV_NOPTS_VALUE || input->duration < 0) return probe;
      duration = static_cast<double>(input->duration / 1000000);
    }
    probe.duration = duration * scale;
    return probe;
  }
  std::printf("not found a video stream.\n");
  return probe;
}

// The thread that runs one calling thread's probes, so that the caller can stop waiting for a
// probe that hangs where no callback reaches (a stalled network share blocks inside the
// kernel). A helper whose probe outlived its deadline finishes it on its own and quits; its
// caller gets a new one.
class ProbeHelper {
 public:
  // Null when no thread can be started.
  static std::shared_ptr<ProbeHelper> Start() {
    auto helper = std::make_shared<ProbeHelper>();
    try {
      std::thread([helper] { helper->Loop(); }).detach();
    } catch (const std::system_error&) {
      return nullptr;
    }
    return helper;
  }
  void Run(std::shared_ptr<ProbeCall> call) {
    std::lock_guard<std::mutex> hold(lock_);
    call_ = std::move(call);
    wake_.notify_one();
  }
  void Quit() {
    std::lock_guard<std::mutex> hold(lock_);
    quit_ = true;
    wake_.notify_one();
  }

 private:
  void Loop() {
    for (;;) {
      std::shared_ptr<ProbeCall> call;
      {
        std::unique_lock<std::mutex> hold(lock_);
        wake_.wait(hold, [this] { return quit_ || call_; });
        if (!call_) return;
        call = std::move(call_);
      }
      const MediaProbe result = ProbeNow(*call);
      std::lock_guard<std::mutex> hold(call->lock);
      call->result = result;
      call->done = true;
      call->finished.notify_all();
    }
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::shared_ptr<ProbeCall> call_;
  bool quit_ = false;
};

// The calling thread's helper; it quits when the calling thread ends.
struct ThreadProbeHelper {
  std::shared_ptr<ProbeHelper> helper;
  ~ThreadProbeHelper() {
    if (helper) helper->Quit();
  }
};
thread_local ThreadProbeHelper tlProbeHelper;

}  // namespace

MediaProbe ProbeMedia(const std::string& pathUtf8, std::chrono::milliseconds deadline) {
  auto call = std::make_shared<ProbeCall>();
  call->path = pathUtf8;
  call->deadline = std::chrono::steady_clock::now() + deadline;
  std::shared_ptr<ProbeHelper>& helper = tlProbeHelper.helper;
  if (!helper) helper = ProbeHelper::Start();
  if (!helper) return ProbeNow(*call);
  helper->Run(call);
  std::unique_lock<std::mutex> hold(call->lock);
  if (call->finished.wait_until(hold, call->deadline, [&] { return call->done; })) return call->result;
  call->givenUp = true;
  helper->Quit();
  helper.reset();
  std::printf("probe given up after %lld ms: %s\n", static_cast<long long>(deadline.count()),
              pathUtf8.c_str());
  return {};
}

double ProbeDuration(const std::string& pathUtf8) {
  return ProbeMedia(pathUtf8).duration;
}

namespace {

// Seconds a file may claim held to what the texts can show: not a number gives 0, anything
// beyond about 31,000 years the limit, so that the conversions to integers stay defined.
double ShowableSeconds(double seconds) {
  constexpr double kLimit = 1e12;
  if (std::isnan(seconds)) return 0;
  return std::clamp(seconds, -kLimit, kLimit);
}

}  // namespace

std::string FormatDuration(double seconds) {
  const long long whole = static_cast<long long>(ShowableSeconds(seconds));
  char text[64];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", whole / 3600, (whole % 3600) / 60, (whole % 3600) % 60);
  return text;
}

std::string FormatTimeText(double seconds) {
  seconds = ShowableSeconds(seconds);
  // Whole hundredths, cut towards zero. A time read from a text ("00:00:13.62") lies a
  // rounding error below its hundredth; that error, which grows with the time, must not cost
  // the hundredth.
  const double scaled = seconds * 100;
  const double nudge = std::max(1e-7, std::fabs(scaled) * 1e-15);
  const long long centis = static_cast<long long>(scaled + (seconds >= 0 ? nudge : -nudge));
  const long long whole = centis / 100;
  const int hundredths = static_cast<int>(centis % 100);
  char text[64];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%02d", whole / 3600, (whole % 3600) / 60, whole % 60,
                hundredths);
  return text;
}

bool IsDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

long long LeadingInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > 100000000000000000LL) break;  // far beyond any value read here
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

namespace {

struct TimeFields {
  long long hours = 0, minutes = 0, seconds = 0, hundredths = 0;  // LeadingInt caps huge values
};

// Splits and checks an H:MM:SS.cc text; false when it is not one.
bool ReadTimeFields(std::string_view text, TimeFields& out) {
  const auto fields = SplitText(text, ":");
  if (fields.size() != 3) return false;
  if (!IsDigits(fields[0]) || !IsDigits(fields[1])) return false;
  const auto secondParts = SplitText(fields[2], ".");
  if (secondParts.size() < 2) return false;
  if (!IsDigits(secondParts[0]) || !IsDigits(secondParts[1])) return false;
  out.hours = LeadingInt(fields[0]);
  out.minutes = LeadingInt(fields[1]);
  out.seconds = LeadingInt(secondParts[0]);
  out.hundredths = LeadingInt(secondParts[1]);
  return out.minutes < 60 && out.seconds <= 59 && out.hundredths <= 99;
}

}  // namespace

bool IsTimeText(std::string_view text) {
  TimeFields fields;
  if (!ReadTimeFields(text, fields)) return false;
  // Validation wants exactly two "."-fields in the seconds; parsing ignores any beyond.
  return SplitText(SplitText(text, ":")[2], ".").size() == 2;
}

double ParseTimeText(std::string_view text) {
  TimeFields f;
  if (!ReadTimeFields(text, f)) return 0;
  return static_cast<double>(f.hours) * 3600.0 + static_cast<double>(f.minutes * 60 + f.seconds) +
         static_cast<double>(f.hundredths) / 100.0;
}

bool IsVideoExtension(std::string_view extension) {
  static const char* const kVideo[] = {"mp4", "flv", "wmv",  "avi",  "mov", "mkv", "m4v", "f4v",
                                       "ts",  "mts", "rm",   "rmvb", "m3u8", "webm", "mpg", "mpeg",
                                       "asf", "dat", "3gp",  "3g2",  "vob", "ogv", "divx", "mxf"};
  std::string lower(extension);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* ext : kVideo) {
    if (lower == ext) return true;
  }
  return false;
}

std::vector<std::string> SplitText(std::string_view text, std::string_view delimiters) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find_first_of(delimiters, start);
    const size_t stop = end == std::string_view::npos ? text.size() : end;
    if (stop > start) pieces.emplace_back(text.substr(start, stop - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return pieces;
}

std::string MakeTimestampQuery() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
  return "?timestamp=" + std::to_string(ms);
}

}  // namespace tw
