// A media file's sound track opened for decoding, and the conversion of its decoded frames
// to interleaved signed 16-bit sound: the steps the player and the waveform readers share.
// The chosen stream is ChooseSoundStream's (app/MediaHelpers.h). Each engine prints its own diagnostics
// from the step that failed. Not thread-safe: one owner thread per object.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/FFmpegPtr.h"

namespace tw {

// Where opening stopped.
enum class AudioOpenStep {
  Done,
  OpenInput,       // avformat_open_input failed (the library's code in AudioInput::error)
  StreamInfo,      // avformat_find_stream_info failed
  NoAudio,         // no audio stream
  NoDecoder,       // no decoder for the stream's codec
  DecoderContext,  // the decoder context could not be made or filled
  DecoderOpen,     // avcodec_open2 failed
  SampleRate,      // the stream claims a sample rate no sound has
};

// Sample rates a sound can really have: from 1 kHz up to 1.536 MHz (8 × 192 kHz; DSD decodes
// to at most 1.4112 MHz). A header claiming more makes a resampler build filters of millions of
// taps (seconds of work and a gigabyte of memory before the first sample); one claiming less
// stretches every byte of the file into a long time to read.
constexpr int kMinSampleRate = 1000;
constexpr int kMaxSampleRate = 1536000;
constexpr bool UsableSampleRate(int rate) { return rate >= kMinSampleRate && rate <= kMaxSampleRate; }

// The trace line of a step that failed ("" for Done).
const char* AudioOpenStepText(AudioOpenStep step);

struct AudioInput {
  FormatInputPtr format;
  CodecContextPtr codec;
  int streamIndex = -1;
  AVRational timeBase{0, 1};
  int error = 0;  // the library's code of the failed step

  AVStream* Stream() const { return format && streamIndex >= 0 ? format->streams[streamIndex] : nullptr; }
  // The input can jump to a position (not a pipe or a server without ranges).
  bool Seekable() const;
};

// Opens pathUtf8 (UTF-8) with interrupt as its blocking-read escape, finds the last audio
// stream and opens its decoder. Done, or the step that failed with *input partly filled.
AudioOpenStep OpenAudioInput(const std::string& pathUtf8, AVIOInterruptCB interrupt, AudioInput* input);

// True when reading the source met an error other than its end (an I/O error half-way). The
// demuxer reports such an error as the end of the source: a job that stopped there is short.
bool SourceReadFailed(const AVFormatContext* input);

// How much silence stands in for a hole in a sound's timestamps: none for 20 ms or less (the
// rounding of a container's timestamps), the hole's length otherwise, but in all never more than
// kAllowanceSeconds beyond the sound heard so far, so that broken timestamps that jump ahead
// packet after packet never make hours of silence of a second of sound.
class HoleFiller {
 public:
  static constexpr int kAllowanceSeconds = 60;
  // samples of sound at rate were decoded.
  void Heard(std::int64_t samples, int rate);
  // True when a jump of hole samples at rate is a hole, not rounding.
  static bool IsHole(std::int64_t hole, int rate) { return rate > 0 && hole > rate / 50; }
  // The samples of silence, at rate, to put in for a hole of hole samples (0 for no hole).
  std::int64_t Fill(std::int64_t hole, int rate);

 private:
  double soundSeconds_ = 0;
  double silenceSeconds_ = 0;
};

// One sound stream's decoding, with the rules every engine keeps. A packet or frame the decoder
// cannot decode is skipped and counted, as ffmpeg skips it: the sound goes on after it. Each frame
// keeps its time: where the stream's timestamps jump ahead (a hole in a recording, a cut in a
// broadcast), GapSamples() is the silence, at the frame's rate, that stands in for the hole (as
// HoleFiller decides), so
// that what comes after it stays at its time. One owner thread.
class SoundDecoder {
 public:
  SoundDecoder(AVCodecContext* codec, AVRational timeBase) : codec_(codec), timeBase_(timeBase) {}
  // Hands over packet (nullptr: the end of the input). False only when the decoder cannot go on
  // at all (no memory).
  bool Send(const AVPacket* packet);
  // 1 with the next frame in *frame, 0 when the decoder wants more input or has given all it had,
  // -1 when it cannot go on at all.
  int Receive(AVFrame* frame);
  // The silence owed before the frame Receive gave last.
  std::int64_t GapSamples() const { return gap_; }
  std::int64_t Damaged() const { return damaged_; }
  std::int64_t Decoded() const { return decoded_; }
  // So little decoded that a result would not be the source's sound: nothing, or less than a
  // tenth of what was damaged.
  bool MostlyDamaged() const { return decoded_ == 0 || (damaged_ > 0 && decoded_ * 10 < damaged_); }

 private:
  AVCodecContext* codec_;
  AVRational timeBase_;
  std::int64_t gap_ = 0;
  std::int64_t damaged_ = 0;
  std::int64_t decoded_ = 0;
  HoleFiller holes_;
  std::int64_t next_ = 0;  // where the next frame should start, in samples at nextRate_
  int nextRate_ = 0;       // 0 before the first frame with a time
};

// The mix of in's channels into outChannels (1 or 2) that keeps the level: for two, the
// standard down-mix (what "-ac 2" gives) without the scaling to full scale that makes 5.1 come
// out 8 to 11 dB quieter; for one, the mean of that pair. matrix gets outChannels rows of
// in->nb_channels coefficients. False when the library cannot make one.
bool LevelKeepingMatrix(const AVChannelLayout* in, int outChannels, std::vector<double>* matrix);

// Gives a frame without a channel order the default layout for its count, and a frame without
// a count the decoder's layout.
void RepairChannelLayout(AVFrame* frame, const AVCodecContext* codec);

// Converts decoded frames to interleaved signed 16-bit sound with the default layout of a
// fixed channel count at a fixed rate. The resampler is built on the first frame and again
// whenever the input changes shape, so no frame is read as something it is not. When it both
// mixes channels down and changes the rate, it mixes first, so that fewer channels are
// resampled (the library would resample every input channel).
class S16Converter {
 public:
  // filterSize: the resampler's low-pass length (FFmpeg's "filter_size"); 0 keeps the default.
  S16Converter(int channels, int rate, int filterSize = 0);
  S16Converter(const S16Converter&) = delete;
  S16Converter& operator=(const S16Converter&) = delete;
  ~S16Converter();

  // Converts frame (its layout repaired first) into out, which holds room for maxFrames sample
  // frames: the sample frames written, or -1 (printing "swr set open or swr init error" when
  // the resampler cannot be built). The first skipFrames sample frames of the input are left
  // out. The frame is unreferenced afterwards.
  int Convert(AVFrame* frame, const AVCodecContext* codec, std::uint8_t* out, int maxFrames,
              int skipFrames = 0);
  // The samples the resampler still holds at the end of the input (its filter's delay) into out:
  // the sample frames written (0 when none).
  int Drain(std::uint8_t* out, int maxFrames);
  // Forgets the resampler and its buffered samples.
  void Reset();
  int Channels() const { return channels_; }
  int Rate() const { return rate_; }

 private:
  bool Prepare(AVFrame* frame);

  int channels_;
  int rate_;
  int filterSize_;
  SwrPtr mixer_;      // to the output's channels at the input's rate, planar float; or none
  SwrPtr resampler_;  // to the output
  std::vector<float> mixed_;
  AVChannelLayout inLayout_{};
  int inFormat_ = -1;
  int inRate_ = 0;
};

}  // namespace tw
