#include "media/AudioInput.h"

#include "app/MediaHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
}

namespace tw {

bool AudioInput::Seekable() const {
  return format && format->pb && (format->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0;
}

const char* AudioOpenStepText(AudioOpenStep step) {
  switch (step) {
    case AudioOpenStep::Done:
      return "";
    case AudioOpenStep::OpenInput:
      return "avformat_open_input failed";
    case AudioOpenStep::StreamInfo:
      return "Couldn't find stream information.";
    case AudioOpenStep::NoAudio:
      return "Didn't find a audio stream.";
    case AudioOpenStep::NoDecoder:
      return "Audio Codec not found.";
    case AudioOpenStep::DecoderContext:
      return "avcodec_alloc_context3 err";
    case AudioOpenStep::DecoderOpen:
      return "Audio codec could not be opened.";
    case AudioOpenStep::SampleRate:
      return "Audio sample rate out of range.";
  }
  return "";
}

AudioOpenStep OpenAudioInput(const std::string& pathUtf8, AVIOInterruptCB interrupt, AudioInput* input) {
  input->format = OpenInput(pathUtf8, interrupt, &input->error);
  if (!input->format) return AudioOpenStep::OpenInput;
  if (avformat_find_stream_info(input->format.get(), nullptr) < 0) return AudioOpenStep::StreamInfo;
  input->streamIndex = ChooseSoundStream(input->format.get());
  if (input->streamIndex < 0) return AudioOpenStep::NoAudio;
  const AVStream* stream = input->Stream();
  input->timeBase = stream->time_base;
  const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!decoder) return AudioOpenStep::NoDecoder;
  input->codec.reset(avcodec_alloc_context3(decoder));
  if (!input->codec || avcodec_parameters_to_context(input->codec.get(), stream->codecpar) < 0)
    return AudioOpenStep::DecoderContext;
  input->codec->pkt_timebase = stream->time_base;
  input->error = avcodec_open2(input->codec.get(), decoder, nullptr);
  if (input->error < 0) return AudioOpenStep::DecoderOpen;
  // 0: not known before the first frame, which the converter checks then.
  if (input->codec->sample_rate != 0 && !UsableSampleRate(input->codec->sample_rate)) {
    input->error = AVERROR_INVALIDDATA;
    return AudioOpenStep::SampleRate;
  }
  input->error = 0;
  return AudioOpenStep::Done;
}

bool SourceReadFailed(const AVFormatContext* input) {
  return input && input->pb && input->pb->error < 0 && input->pb->error != AVERROR_EOF;
}

void HoleFiller::Heard(std::int64_t samples, int rate) {
  if (rate > 0 && samples > 0) soundSeconds_ += static_cast<double>(samples) / rate;
}

std::int64_t HoleFiller::Fill(std::int64_t hole, int rate) {
  if (!IsHole(hole, rate)) return 0;
  const double allowed = std::max(0.0, soundSeconds_ + kAllowanceSeconds - silenceSeconds_);
  const std::int64_t silence = std::min<std::int64_t>(hole, static_cast<std::int64_t>(allowed * rate));
  silenceSeconds_ += static_cast<double>(silence) / rate;
  return silence;
}

bool SoundDecoder::Send(const AVPacket* packet) {
  const int rc = avcodec_send_packet(codec_, packet);
  if (rc == AVERROR(ENOMEM)) return false;
  // EAGAIN cannot come: the caller takes every frame before the next packet. EOF: sent after the end.
  if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) ++damaged_;
  return true;
}

int SoundDecoder::Receive(AVFrame* frame) {
  for (;;) {
    const int rc = avcodec_receive_frame(codec_, frame);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return 0;
    if (rc == AVERROR(ENOMEM)) return -1;
    if (rc < 0) {
      ++damaged_;
      continue;
    }
    ++decoded_;
    gap_ = 0;
    const std::int64_t pts = frame->best_effort_timestamp;
    const int rate = frame->sample_rate;
    if (pts != AV_NOPTS_VALUE && rate > 0) {
      const std::int64_t at = av_rescale_q(pts, timeBase_, AVRational{1, rate});
      if (nextRate_ == rate && HoleFiller::IsHole(at - next_, rate)) {
        gap_ = holes_.Fill(at - next_, rate);
        next_ = at;
      } else if (nextRate_ != rate) {
        next_ = at;
      }
      nextRate_ = rate;
    }
    next_ += frame->nb_samples;
    holes_.Heard(frame->nb_samples, rate);
    return 1;
  }
}

bool LevelKeepingMatrix(const AVChannelLayout* in, int outChannels, std::vector<double>* matrix) {
  const int count = in->nb_channels;
  if (count <= 0 || outChannels < 1 || outChannels > 2) return false;
  AVChannelLayout layout{};
  if (in->order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_default(&layout, count);
  } else if (av_channel_layout_copy(&layout, in) < 0) {
    return false;
  }
  std::vector<double> pair(static_cast<std::size_t>(2 * count), 0.0);
  bool ok = true;
  if (count == 1) {
    pair = {1.0, 1.0};  // one channel is heard alike on both sides
  } else if (layout.order != AV_CHANNEL_ORDER_NATIVE) {
    // Channels with no known places (a map of its own, ambisonics, more than there are names
    // for): each side is their mean.
    std::fill(pair.begin(), pair.end(), 1.0 / count);
  } else {
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    // The library scales all of a SWR_CH_MAX × SWR_CH_MAX matrix by the volume, whatever the
    // layouts: it gets one of that size (a smaller one is written past its end).
    constexpr int kMax = 64;
    std::vector<double> full(kMax * kMax, 0.0);
    // A maximum no sum reaches: the coefficients stay as the standard mix has them.
    ok = count <= kMax && swr_build_matrix2(&layout, &stereo, M_SQRT1_2, M_SQRT1_2, 0.0, 1e9, 1.0, full.data(),
                                            kMax, AV_MATRIX_ENCODING_NONE, nullptr) == 0;
    for (int side = 0; ok && side < 2; ++side)
      for (int c = 0; c < count; ++c) pair[side * count + c] = full[side * kMax + c];
  }
  av_channel_layout_uninit(&layout);
  if (!ok) return false;
  if (outChannels == 2) {
    *matrix = std::move(pair);
  } else {
    matrix->assign(static_cast<std::size_t>(count), 0.0);
    for (int c = 0; c < count; ++c) (*matrix)[c] = 0.5 * (pair[c] + pair[count + c]);
  }
  return true;
}

void RepairChannelLayout(AVFrame* frame, const AVCodecContext* codec) {
  if (frame->ch_layout.nb_channels > 0 && frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    const int count = frame->ch_layout.nb_channels;
    av_channel_layout_uninit(&frame->ch_layout);
    av_channel_layout_default(&frame->ch_layout, count);
  } else if (frame->ch_layout.nb_channels <= 0 && codec->ch_layout.nb_channels > 0) {
    av_channel_layout_uninit(&frame->ch_layout);
    av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout);
  }
}

S16Converter::S16Converter(int channels, int rate, int filterSize)
    : channels_(channels), rate_(rate), filterSize_(filterSize) {}

S16Converter::~S16Converter() {
  av_channel_layout_uninit(&inLayout_);
}

void S16Converter::Reset() {
  mixer_.reset();
  resampler_.reset();
  av_channel_layout_uninit(&inLayout_);
  inFormat_ = -1;
  inRate_ = 0;
}

namespace {

SwrContext* MakeSwr(AVChannelLayout* outLayout, AVSampleFormat outFormat, int outRate,
                    AVChannelLayout* inLayout, AVSampleFormat inFormat, int inRate, int filterSize) {
  SwrContext* swr = nullptr;
  if (swr_alloc_set_opts2(&swr, outLayout, outFormat, outRate, inLayout, inFormat, inRate, 0, nullptr) < 0) {
    swr_free(&swr);
    return nullptr;
  }
  if (filterSize > 0) av_opt_set_int(swr, "filter_size", filterSize, 0);
  // Each sound keeps its level on its side, as everywhere else (the library's own mix into 16
  // bits scales a 5.1 source about 9 dB down).
  std::vector<double> mix;
  if (outLayout->nb_channels <= 2 && av_channel_layout_compare(outLayout, inLayout) != 0 &&
      (!LevelKeepingMatrix(inLayout, outLayout->nb_channels, &mix) ||
       swr_set_matrix(swr, mix.data(), inLayout->nb_channels) < 0))
    swr_free(&swr);
  if (swr && swr_init(swr) < 0) swr_free(&swr);
  return swr;
}

}  // namespace

bool S16Converter::Prepare(AVFrame* frame) {
  if (resampler_ && inFormat_ == frame->format && inRate_ == frame->sample_rate &&
      av_channel_layout_compare(&inLayout_, &frame->ch_layout) == 0)
    return true;
  Reset();
  // A rate that changes to one no sound has (a damaged stream) is not converted: its frames are
  // dropped rather than costing seconds of filter building each.
  if (!UsableSampleRate(frame->sample_rate)) return false;
  AVChannelLayout outLayout{};
  av_channel_layout_default(&outLayout, channels_);
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const bool mixFirst = channels_ < frame->ch_layout.nb_channels && rate_ != frame->sample_rate;
  bool ok = true;
  if (mixFirst) {
    mixer_.reset(MakeSwr(&outLayout, AV_SAMPLE_FMT_FLTP, frame->sample_rate, &frame->ch_layout, format,
                         frame->sample_rate, 0));
    resampler_.reset(MakeSwr(&outLayout, AV_SAMPLE_FMT_S16, rate_, &outLayout, AV_SAMPLE_FMT_FLTP,
                             frame->sample_rate, filterSize_));
    ok = mixer_ && resampler_;
  } else {
    resampler_.reset(MakeSwr(&outLayout, AV_SAMPLE_FMT_S16, rate_, &frame->ch_layout, format,
                             frame->sample_rate, filterSize_));
    ok = resampler_ != nullptr;
  }
  av_channel_layout_uninit(&outLayout);
  if (!ok) {
    Reset();
    std::printf("swr set open or swr init error\n");
    return false;
  }
  av_channel_layout_copy(&inLayout_, &frame->ch_layout);
  inFormat_ = frame->format;
  inRate_ = frame->sample_rate;
  return true;
}

int S16Converter::Drain(std::uint8_t* out, int maxFrames) {
  if (!resampler_) return 0;
  std::uint8_t* outPlanes[1] = {out};
  const int converted = swr_convert(resampler_.get(), outPlanes, maxFrames, nullptr, 0);
  return std::max(0, converted);
}

int S16Converter::Convert(AVFrame* frame, const AVCodecContext* codec, std::uint8_t* out, int maxFrames,
                          int skipFrames) {
  RepairChannelLayout(frame, codec);
  const int inFrames = frame->nb_samples - std::max(0, skipFrames);
  if (frame->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0 || inFrames < 0 || !Prepare(frame)) {
    av_frame_unref(frame);
    return -1;
  }
  // The input from its first kept sample frame, plane by plane.
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const bool planar = av_sample_fmt_is_planar(format);
  const int planes = planar ? frame->ch_layout.nb_channels : 1;
  const int step = av_get_bytes_per_sample(format) * (planar ? 1 : frame->ch_layout.nb_channels);
  // No allocation for the usual channel counts: the player converts on the sound device's thread.
  const std::uint8_t* fewPlanes[8];
  std::vector<const std::uint8_t*> manyPlanes(planes > 8 ? static_cast<std::size_t>(planes) : 0);
  const std::uint8_t** in = planes > 8 ? manyPlanes.data() : fewPlanes;
  for (int p = 0; p < planes; ++p) in[p] = frame->extended_data[p] + std::max(0, skipFrames) * step;
  int inCount = inFrames;
  std::vector<const std::uint8_t*> mixedPlanes;
  if (mixer_) {
    mixed_.resize(static_cast<std::size_t>(channels_) * static_cast<std::size_t>(inFrames + 1));
    std::vector<std::uint8_t*> to(static_cast<std::size_t>(channels_));
    for (int c = 0; c < channels_; ++c)
      to[static_cast<std::size_t>(c)] = reinterpret_cast<std::uint8_t*>(mixed_.data() + c * (inFrames + 1));
    inCount = swr_convert(mixer_.get(), to.data(), inFrames + 1, in, inFrames);
    if (inCount < 0) {
      av_frame_unref(frame);
      return -1;
    }
    mixedPlanes.assign(to.begin(), to.end());
  }
  // Counted in output samples, so the bound also holds for input rates below the output's.
  const std::int64_t wanted = av_rescale_rnd(swr_get_delay(resampler_.get(), frame->sample_rate) + inCount,
                                             rate_, frame->sample_rate, AV_ROUND_UP);
  const int outCount = static_cast<int>(std::min<std::int64_t>(wanted, maxFrames));
  std::uint8_t* outPlanes[1] = {out};
  const int converted =
      swr_convert(resampler_.get(), outPlanes, outCount, mixer_ ? mixedPlanes.data() : in, inCount);
  av_frame_unref(frame);
  return converted < 0 ? -1 : converted;
}

}  // namespace tw
