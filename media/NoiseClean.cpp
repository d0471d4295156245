#include "media/NoiseClean.h"

#include <glog/logging.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/MediaHelpers.h"
#include "media/AudioInput.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

namespace tw {

namespace {

// Pointers to the sample at offset in every plane (or in the one packed plane).
void OffsetPointers(uint8_t* const* data, int offset, AVSampleFormat format, int channels, uint8_t** out) {
  const int bytes = av_get_bytes_per_sample(format);
  if (av_sample_fmt_is_planar(format)) {
    for (int c = 0; c < channels; ++c) out[c] = data[c] + static_cast<size_t>(offset) * bytes;
  } else {
    out[0] = data[0] + static_cast<size_t>(offset) * bytes * channels;
  }
}

constexpr int kMaxChannels = 64;

}  // namespace

std::string LocalFileUrl(const std::string& path) {
  return "file:" + path;
}

int OpenPartFile(AVFormatContext* output, const ResultFile& result) {
  const std::string& part = result.PartialPath();
  // Muxers that reopen their file by name find the partial file too.
  av_freep(&output->url);
  output->url = av_strdup(part.c_str());
  if (!output->url) return AVERROR(ENOMEM);
  return avio_open(&output->pb, LocalFileUrl(part).c_str(), AVIO_FLAG_WRITE);
}

int CloseOutputFile(AVFormatContext* output) {
  if (!output || !output->pb || (output->oformat && (output->oformat->flags & AVFMT_NOFILE))) return 0;
  avio_flush(output->pb);
  const int writeError = output->pb->error;
  const int closeError = avio_closep(&output->pb);
  if (writeError < 0) return writeError;
  return closeError < 0 ? closeError : 0;
}

std::string PublishPartFile(const ResultFile& result, bool complete, int* publishError) {
  if (!complete) {
    result.Discard();
    return "";
  }
  return result.Publish(publishError);
}

void CopyResultTags(const AVFormatContext* input, const AVStream* sound, AVFormatContext* output) {
  const auto copy = [output](const AVDictionary* tags) {
    bool any = false;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(tags, "", entry, AV_DICT_IGNORE_SUFFIX))) {
      if (!IsDescriptiveTag(entry->key, entry->value)) continue;
      av_dict_set(&output->metadata, entry->key, entry->value, 0);
      any = true;
    }
    return any;
  };
  if (!copy(input->metadata) && sound) copy(sound->metadata);
}

bool AddCoverStreams(const AVFormatContext* input, AVFormatContext* output, const std::string& outputPath,
                     std::vector<CoverStream>& covers) {
  const std::string name = outputPath.substr(outputPath.find_last_of('/') + 1);
  const size_t dot = name.find_last_of('.');
  const std::string format = dot == std::string::npos ? "" : name.substr(dot + 1);
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream* source = input->streams[i];
    if (!(source->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
    const AVCodecDescriptor* codec = avcodec_descriptor_get(source->codecpar->codec_id);
    const CoverPicture picture{0, codec ? codec->name : "", source->attached_pic.size,
                               source->codecpar->width, source->codecpar->height};
    if (!CanHoldCover(format, picture)) continue;
    AVStream* result = avformat_new_stream(output, nullptr);
    if (!result || avcodec_parameters_copy(result->codecpar, source->codecpar) < 0) return false;
    result->codecpar->codec_tag = 0;
    result->disposition = AV_DISPOSITION_ATTACHED_PIC;
    result->time_base = source->time_base;
    // The picture's own description and kind ("Cover (front)") travel with it.
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(source->metadata, "", entry, AV_DICT_IGNORE_SUFFIX))) {
      if (IsDescriptiveTag(entry->key, entry->value))
        av_dict_set(&result->metadata, entry->key, entry->value, 0);
    }
    covers.push_back({source, result});
  }
  return true;
}

int WriteCovers(AVFormatContext* output, const std::vector<CoverStream>& covers) {
  for (const CoverStream& cover : covers) {
    PacketPtr packet = MakePacket();
    if (!packet || av_packet_ref(packet.get(), &cover.source->attached_pic) < 0) return AVERROR(ENOMEM);
    packet->stream_index = cover.result->index;
    packet->pts = packet->dts = 0;
    packet->flags |= AV_PKT_FLAG_KEY;
    if (const int ret = av_interleaved_write_frame(output, packet.get()); ret < 0) return ret;
  }
  return 0;
}

int NoisePercent(double done, double total) {
  if (!(total > 0) || !(done > 0)) return 0;
  const double percent = done / total * 100.0;
  if (!(percent < 99.0)) return 99;
  return static_cast<int>(percent);
}

// ---------------------------------------------------------------------------------------
// NoiseSuppressor

int NoiseSuppressor::Init(int policy) {
  apm_ = MakeAudioProcessing();
  if (!apm_) {
    LOG(ERROR) << "WebRtcNs_Create error";
    return -1;
  }
  if (apm_->Initialize(kRate, kRate, kRate, webrtc::AudioProcessing::kMono, webrtc::AudioProcessing::kMono,
                       webrtc::AudioProcessing::kMono) != webrtc::AudioProcessing::kNoError ||
      apm_->noise_suppression()->Enable(true) != webrtc::AudioProcessing::kNoError) {
    LOG(ERROR) << "WebRtcNs_Init error";
    apm_.reset();
    return -1;
  }
  const int level = std::clamp(policy, 0, 3);
  if (apm_->noise_suppression()->set_level(static_cast<webrtc::NoiseSuppression::Level>(level)) !=
      webrtc::AudioProcessing::kNoError) {
    LOG(ERROR) << "WebRtcNs_set_policy error";
    apm_.reset();
    return -1;
  }
  return 0;
}

bool NoiseSuppressor::Process(int16_t* block) {
  if (!apm_) return false;
  webrtc::AudioFrame frame;
  frame.sample_rate_hz_ = kRate;
  frame.num_channels_ = 1;
  frame.samples_per_channel_ = kBlockSamples;
  std::memcpy(frame.data_, block, kBlockBytes);
  if (apm_->ProcessStream(&frame) != webrtc::AudioProcessing::kNoError) return false;
  std::memcpy(block, frame.data_, kBlockBytes);
  return true;
}

// ---------------------------------------------------------------------------------------
// CleanBlocks

void CleanBlocks::Append(NoiseSuppressor& ns, const uint8_t* bytes, size_t count, std::vector<int16_t>& out) {
  buffer_.insert(buffer_.end(), bytes, bytes + count);
  size_t offset = 0;
  int16_t block[NoiseSuppressor::kBlockSamples];
  while (buffer_.size() - offset >= static_cast<size_t>(NoiseSuppressor::kBlockBytes)) {
    std::memcpy(block, buffer_.data() + offset, NoiseSuppressor::kBlockBytes);
    offset += NoiseSuppressor::kBlockBytes;
    ++blocks_;
    if (ns.Process(block)) out.insert(out.end(), block, block + NoiseSuppressor::kBlockSamples);
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(offset));
}

void CleanBlocks::Flush(NoiseSuppressor& ns, std::vector<int16_t>& out) {
  if (buffer_.empty()) return;
  int16_t block[NoiseSuppressor::kBlockSamples] = {};
  const size_t samples = buffer_.size() / 2;
  std::memcpy(block, buffer_.data(), samples * 2);
  buffer_.clear();
  ++blocks_;
  if (ns.Process(block)) out.insert(out.end(), block, block + samples);
}

// ---------------------------------------------------------------------------------------
// SampleBuffer

SampleBuffer::~SampleBuffer() {
  if (data_) av_freep(&data_[0]);
  av_freep(&data_);
}

bool SampleBuffer::Reserve(int samples, int channels, AVSampleFormat format) {
  if (channels != channels_ || format != format_) {
    if (data_) av_freep(&data_[0]);
    av_freep(&data_);
    capacity_ = 0;
    count = 0;
    channels_ = channels;
    format_ = format;
  }
  if (samples <= capacity_ && data_) return true;
  const int room = std::max({samples, 1024, capacity_ * 2});
  uint8_t** grown = nullptr;
  int lineSize = 0;
  if (av_samples_alloc_array_and_samples(&grown, &lineSize, channels, room, format, 0) < 0) return false;
  if (data_ && count > 0) av_samples_copy(grown, data_, 0, 0, count, channels, format);
  if (data_) av_freep(&data_[0]);
  av_freep(&data_);
  data_ = grown;
  capacity_ = room;
  return true;
}

// ---------------------------------------------------------------------------------------
// SoundCleaner

int SoundCleaner::Open(const AVChannelLayout& outLayout, int outRate, AVSampleFormat outFormat) {
  av_channel_layout_uninit(&outLayout_);
  if (av_channel_layout_copy(&outLayout_, &outLayout) < 0) return -1;
  outRate_ = outRate;
  outFormat_ = outFormat;
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  SwrContext* swr = nullptr;
  if (swr_alloc_set_opts2(&swr, &outLayout_, outFormat_, outRate_, &mono, AV_SAMPLE_FMT_S16,
                          NoiseSuppressor::kRate, 0, nullptr) < 0 ||
      !swr) {
    LOG(ERROR) << "Could not allocate resampler context";
    return -1;
  }
  // Mono spread to stereo would otherwise enter each side 3 dB down: the cleaned sound is
  // to keep its level, so the one channel goes to every output channel at full gain.
  std::vector<double> spread(static_cast<size_t>(std::max(outLayout_.nb_channels, 1)), 1.0);
  swr_set_matrix(swr, spread.data(), 1);
  fromClean_.reset(swr);
  if (swr_init(swr) < 0) {
    LOG(ERROR) << "Failed to initialize the resampling context";
    fromClean_.reset();
    return -1;
  }
  return 0;
}

int SoundCleaner::StartSuppressor(int policy) {
  return ns_.Init(policy);
}

int SoundCleaner::MakeToClean(const AVFrame* frame) {
  if (!UsableSampleRate(frame->sample_rate)) {
    LOG(ERROR) << "sample rate out of range: " << frame->sample_rate;
    return -1;
  }
  AVChannelLayout inLayout{};
  if (frame->ch_layout.nb_channels > 0 && frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_copy(&inLayout, &frame->ch_layout);
  } else {
    av_channel_layout_default(&inLayout, std::max(frame->ch_layout.nb_channels, 1));
  }
  if (toClean_ && toCleanRate_ == frame->sample_rate && toCleanFormat_ == frame->format &&
      av_channel_layout_compare(&toCleanLayout_, &inLayout) == 0) {
    av_channel_layout_uninit(&inLayout);
    return 0;
  }
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  SwrContext* swr = nullptr;
  if (swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_S16, NoiseSuppressor::kRate, &inLayout,
                          static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr) < 0 ||
      !swr) {
    LOG(ERROR) << "swr alloc error";
    av_channel_layout_uninit(&inLayout);
    return -1;
  }
  toClean_.reset(swr);
  // The channels are mixed at their level, in floats, and only the sum is held to 16 bits.
  std::vector<double> mix;
  if (!LevelKeepingMatrix(&inLayout, 1, &mix) || swr_set_matrix(swr, mix.data(), inLayout.nb_channels) < 0 ||
      av_opt_set_sample_fmt(swr, "internal_sample_fmt", AV_SAMPLE_FMT_FLTP, 0) < 0) {
    LOG(ERROR) << "swr matrix error";
    toClean_.reset();
    av_channel_layout_uninit(&inLayout);
    return -1;
  }
  if (swr_init(swr) < 0) {
    LOG(ERROR) << "swr init error";
    toClean_.reset();
    av_channel_layout_uninit(&inLayout);
    return -1;
  }
  av_channel_layout_uninit(&toCleanLayout_);
  toCleanLayout_ = inLayout;
  toCleanRate_ = frame->sample_rate;
  toCleanFormat_ = frame->format;
  return 0;
}

int SoundCleaner::ConvertToClean(const uint8_t* const* data, int samples) {
  const int room = swr_get_out_samples(toClean_.get(), samples);
  if (room < 0 || !cleanInput_.Reserve(room, 1, AV_SAMPLE_FMT_S16)) {
    LOG(ERROR) << "samples alloc error";
    return -1;
  }
  const int converted =
      swr_convert(toClean_.get(), cleanInput_.Data(), room, const_cast<const uint8_t**>(data), samples);
  if (converted < 0) {
    LOG(ERROR) << "Error while converting";
    return -1;
  }
  blocks_.Append(ns_, cleanInput_.Data()[0], static_cast<size_t>(converted) * 2, cleaned_);
  return 0;
}

int SoundCleaner::ConvertFromClean(SampleBuffer& out, bool flush) {
  const int inCount = static_cast<int>(cleaned_.size());
  const int room = swr_get_out_samples(fromClean_.get(), inCount);
  if (room < 0) {
    printf("av_rescale_rnd error\n");
    return -1;
  }
  const int held = out.count;
  if (!out.Reserve(held + room, outLayout_.nb_channels, outFormat_)) {
    printf("av_samples_alloc_array_and_samples error\n");
    return -1;
  }
  uint8_t* at[kMaxChannels];
  OffsetPointers(out.Data(), held, outFormat_, outLayout_.nb_channels, at);
  const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(cleaned_.data())};
  const int converted =
      swr_convert(fromClean_.get(), at, room, flush && inCount == 0 ? nullptr : in, inCount);
  if (converted < 0) {
    printf("Error while converting\n");
    return -1;
  }
  out.count = held + converted;
  cleaned_.clear();
  return 0;
}

int SoundCleaner::Push(const AVFrame* frame, SampleBuffer& out) {
  out.count = 0;
  if (!fromClean_ || frame->nb_samples <= 0) return fromClean_ ? 0 : -1;
  if (MakeToClean(frame) < 0) return -1;
  if (ConvertToClean(frame->extended_data, frame->nb_samples) < 0) return -1;
  if (cleaned_.empty()) return 0;
  return ConvertFromClean(out, false);
}

int SoundCleaner::PushSilence(std::int64_t samples, int rate, SampleBuffer& out) {
  out.count = 0;
  if (!fromClean_) return -1;
  if (samples <= 0 || rate <= 0) return 0;
  const std::vector<uint8_t> zeros(static_cast<size_t>(av_rescale(samples, NoiseSuppressor::kRate, rate)) * 2, 0);
  blocks_.Append(ns_, zeros.data(), zeros.size(), cleaned_);
  return cleaned_.empty() ? 0 : ConvertFromClean(out, false);
}

int CleanInto(SoundCleaner& cleaner, const AVFrame* frame, std::int64_t gapSamples, SampleBuffer& cleaned,
              SampleFifo& fifo, const std::atomic<bool>& stop, std::chrono::milliseconds waitStep) {
  // A second at a time: a long hole costs no more memory than a short one.
  for (std::int64_t left = gapSamples; left > 0; left -= frame->sample_rate) {
    if (cleaner.PushSilence(std::min<std::int64_t>(left, frame->sample_rate), frame->sample_rate, cleaned) < 0)
      return -1;
    if (cleaned.count > 0 && !fifo.Write(cleaned.Data(), cleaned.count, stop, waitStep)) return -2;
  }
  if (cleaner.Push(frame, cleaned) < 0) return -1;
  if (cleaned.count > 0 && !fifo.Write(cleaned.Data(), cleaned.count, stop, waitStep)) return -2;
  return 0;
}

int SoundCleaner::Flush(SampleBuffer& out) {
  out.count = 0;
  if (!fromClean_) return -1;
  if (toClean_ && ConvertToClean(nullptr, 0) < 0) return -1;
  blocks_.Flush(ns_, cleaned_);
  if (!cleaned_.empty() && ConvertFromClean(out, false) < 0) return -1;
  return ConvertFromClean(out, true);
}

// ---------------------------------------------------------------------------------------
// SampleFifo

int SampleFifo::Alloc(AVSampleFormat format, int channels, int capacitySamples) {
  std::lock_guard<std::mutex> guard(lock_);
  if (channels < 1 || channels > kMaxChannels) return -1;
  fifo_.reset(av_audio_fifo_alloc(format, channels, capacitySamples));
  format_ = format;
  channels_ = channels;
  ended_ = false;
  return fifo_ ? 0 : -1;
}

bool SampleFifo::Write(uint8_t** data, int count, const std::atomic<bool>& stop,
                       std::chrono::milliseconds waitStep) {
  std::unique_lock<std::mutex> lk(lock_);
  if (!fifo_) return false;
  int written = 0;
  bool told = false;
  while (written < count) {
    // Writing what fits, rather than waiting for room for all, keeps a frame longer than
    // the FIFO (or one that fills it past the reader's need) from blocking both sides.
    const int space = av_audio_fifo_space(fifo_.get());
    if (space < count - written && !told) {
      printf("audio fifo space is not enough\n");
      told = true;  // once per write, not at every wake-up of the wait
    }
    // Once full, wait for a quarter of the FIFO to be free rather than for each frame the
    // reader takes: far fewer wake-ups. The reader never waits for more than a frame, which
    // three quarters of the FIFO always hold, so neither side can block the other.
    const int capacity = space + av_audio_fifo_size(fifo_.get());
    const int enough = std::max(1, std::min(count - written, capacity / 4));
    if (space < enough) {
      if (stop) return false;
      ++waiting_;
      changed_.wait_for(lk, waitStep);
      --waiting_;
      continue;
    }
    if (stop) return false;
    const int need = std::min(count - written, space);
    uint8_t* at[kMaxChannels] = {};
    OffsetPointers(data, written, format_, channels_, at);
    if (av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(at), need) < need) return false;
    written += need;
    if (waiting_) changed_.notify_all();
  }
  return true;
}

int SampleFifo::Read(AVFrame* frame, int want, const std::atomic<bool>& stop,
                     std::chrono::milliseconds waitStep, int maxWaits) {
  std::unique_lock<std::mutex> lk(lock_);
  if (!fifo_) return -1;
  for (int waits = 0;; ++waits) {
    if (stop) return -1;
    const int size = av_audio_fifo_size(fifo_.get());
    if (size >= want || (ended_ && size > 0)) {
      const int n = std::min(size, want);
      const int got = av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->extended_data), n);
      frame->nb_samples = got;
      if (waiting_) changed_.notify_all();
      return got;
    }
    if (ended_) return 0;
    if (maxWaits >= 0 && waits >= maxWaits) return -2;
    ++waiting_;
    changed_.wait_for(lk, waitStep);
    --waiting_;
  }
}

void SampleFifo::MarkEnd() {
  std::lock_guard<std::mutex> guard(lock_);
  ended_ = true;
  changed_.notify_all();
}

int SampleFifo::Size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return fifo_ ? av_audio_fifo_size(fifo_.get()) : 0;
}

bool SampleFifo::Ended() const {
  std::lock_guard<std::mutex> guard(lock_);
  return ended_;
}

// ---------------------------------------------------------------------------------------
// PictureFifo

size_t PictureFifo::PictureBytes() const {
  const size_t luma = static_cast<size_t>(width_) * height_;
  const size_t chroma = static_cast<size_t>((width_ + 1) / 2) * ((height_ + 1) / 2);
  return luma + 2 * chroma;
}

void PictureFifo::Configure(int width, int height, size_t capacityBytes) {
  std::lock_guard<std::mutex> guard(lock_);
  width_ = width;
  height_ = height;
  const size_t bytes = std::max<size_t>(PictureBytes(), 1);
  capacityPictures_ = std::max<size_t>(capacityBytes / bytes, 1);
  pictures_.clear();
  timestamps_.clear();
  spare_.clear();
  ended_ = false;
}

bool PictureFifo::Write(const AVFrame* picture, int64_t pts, const std::atomic<bool>& stop,
                        std::chrono::milliseconds waitStep) {
  std::unique_lock<std::mutex> lk(lock_);
  if (pictures_.size() >= capacityPictures_) {
    // Full: go on once a quarter is free, not at every picture taken (fewer wake-ups).
    const size_t resume = capacityPictures_ - std::max<size_t>(1, capacityPictures_ / 4);
    while (pictures_.size() > resume) {
      if (stop) return false;
      ++waiting_;
      changed_.wait_for(lk, waitStep);
      --waiting_;
    }
  }
  std::vector<uint8_t> buffer;
  if (!spare_.empty()) {
    buffer = std::move(spare_.back());
    spare_.pop_back();
  }
  lk.unlock();
  buffer.resize(PictureBytes());
  uint8_t* at = buffer.data();
  const int widths[3] = {width_, (width_ + 1) / 2, (width_ + 1) / 2};
  const int heights[3] = {height_, (height_ + 1) / 2, (height_ + 1) / 2};
  for (int p = 0; p < 3; ++p) {
    for (int row = 0; row < heights[p]; ++row) {
      std::memcpy(at, picture->data[p] + static_cast<ptrdiff_t>(row) * picture->linesize[p], widths[p]);
      at += widths[p];
    }
  }
  lk.lock();
  pictures_.push_back(std::move(buffer));
  timestamps_.push_back(pts);
  if (waiting_) changed_.notify_all();
  return true;
}

int PictureFifo::Read(AVFrame* frame, const std::atomic<bool>& stop, std::chrono::milliseconds waitStep,
                      int maxWaits) {
  std::unique_lock<std::mutex> lk(lock_);
  for (int waits = 0; pictures_.empty(); ++waits) {
    if (stop) return -1;
    if (ended_) return 0;
    if (maxWaits >= 0 && waits >= maxWaits) return -2;
    printf("video fifo is empty, lock\n");
    ++waiting_;
    changed_.wait_for(lk, waitStep);
    --waiting_;
  }
  if (stop) return -1;
  std::vector<uint8_t> buffer = std::move(pictures_.front());
  pictures_.pop_front();
  frame->pts = timestamps_.front();
  timestamps_.pop_front();
  if (waiting_) changed_.notify_all();
  lk.unlock();
  const uint8_t* at = buffer.data();
  const int widths[3] = {width_, (width_ + 1) / 2, (width_ + 1) / 2};
  const int heights[3] = {height_, (height_ + 1) / 2, (height_ + 1) / 2};
  for (int p = 0; p < 3; ++p) {
    for (int row = 0; row < heights[p]; ++row) {
      std::memcpy(frame->data[p] + static_cast<ptrdiff_t>(row) * frame->linesize[p], at, widths[p]);
      at += widths[p];
    }
  }
  lk.lock();
  spare_.push_back(std::move(buffer));
  return 1;
}

void PictureFifo::MarkEnd() {
  std::lock_guard<std::mutex> guard(lock_);
  ended_ = true;
  changed_.notify_all();
}

size_t PictureFifo::Count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return pictures_.size();
}

}  // namespace tw
