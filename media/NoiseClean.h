// The cleaning path shared by both denoisers: decoded sound → 32 kHz mono signed 16-bit →
// WebRTC noise suppression in 10 ms blocks → the encoder's layout, rate and format; and the
// bounded FIFOs that carry samples and pictures from a job's decode thread to its encode
// thread. Everything here is used by one job; the FIFOs are the only parts two threads share.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "app/FFmpegPtr.h"
#include "media/WebRtcPtr.h"
#include "tasks/ResultFile.h"

namespace tw {

// Integer percent of done against total for a row's progress bar, cut towards zero and held
// to 0..99: the full 100 belongs to the completion message alone. A total of 0 or less (an
// input shorter than a second, or of unknown length) gives 0.
int NoisePercent(double done, double total);

// The URL that makes FFmpeg open a local path as a plain file whatever its name holds (a
// colon that would read as a protocol, a leading dash, quotes, CJK).
std::string LocalFileUrl(const std::string& path);

// A denoiser writes its result under the partial name of its ResultFile and publishes it only
// when the job completed: an ended or failed job leaves nothing under a result's name.
// Opens the partial file for output (whose muxer was chosen by the result's name). FFmpeg's code.
int OpenPartFile(AVFormatContext* output, const ResultFile& result);
// Flushes and closes output's file: 0, or a negative error code (AVERROR of the errno when the
// file said why, otherwise -1) when any write to it failed (a full disk, say).
int CloseOutputFile(AVFormatContext* output);
// A complete job's partial file is published; otherwise it is removed. The name the result took,
// or "" when it is not in place; when publishing failed, *publishError (if given) gets its errno.
std::string PublishPartFile(const ResultFile& result, bool complete, int* publishError = nullptr);

// The tags a denoiser's result carries: the source's descriptive ones (IsDescriptiveTag), or
// those of its sound stream when the file keeps none of its own (Ogg, Opus keep them there).
void CopyResultTags(const AVFormatContext* input, const AVStream* sound, AVFormatContext* output);

// A cover picture of the source kept in the result: the source's stream and the result's.
struct CoverStream {
  const AVStream* source = nullptr;
  AVStream* result = nullptr;
};
// Adds to output a copy of each cover picture of input that a result named outputPath can hold
// (CanHoldCover by its extension), with the picture's tags. Call after the result's own streams.
// False when a stream cannot be added.
bool AddCoverStreams(const AVFormatContext* input, AVFormatContext* output, const std::string& outputPath,
                     std::vector<CoverStream>& covers);
// Writes each kept picture: once the header is written, before any other packet. 0 or the
// muxer's code.
int WriteCovers(AVFormatContext* output, const std::vector<CoverStream>& covers);

// WebRTC's noise suppressor alone, at 32 kHz mono, cleaning 10 ms blocks in place. The
// band split and merge of the 32 kHz signal happen inside the library.
class NoiseSuppressor {
 public:
  static constexpr int kRate = 32000;
  static constexpr int kBlockSamples = 320;
  static constexpr int kBlockBytes = kBlockSamples * 2;

  // policy 0..3 (higher suppresses more); values outside are held to that range. 0 or -1,
  // with the failing step logged ("WebRtcNs_Create error", "WebRtcNs_Init error",
  // "WebRtcNs_set_policy error").
  int Init(int policy);
  // Cleans one block of kBlockSamples samples in place; false when the library rejects it.
  bool Process(int16_t* block);

 private:
  AudioProcessingPtr apm_;
};

// The byte buffer of 32 kHz samples waiting to be cleaned. Whole 640-byte blocks are cleaned
// as soon as they are complete; the bytes of an incomplete last block wait for the next
// append. A block the suppressor rejects is dropped.
class CleanBlocks {
 public:
  static constexpr size_t kInitialCapacity = 128000;

  CleanBlocks() { buffer_.reserve(kInitialCapacity); }
  // Appends bytes (native 16-bit samples) and adds every cleaned sample to out.
  void Append(NoiseSuppressor& ns, const uint8_t* bytes, size_t count, std::vector<int16_t>& out);
  // The end of the input: an incomplete last block is padded with silence and cleaned, and
  // only its real samples are added to out, so the sound keeps its length.
  void Flush(NoiseSuppressor& ns, std::vector<int16_t>& out);
  size_t PendingBytes() const { return buffer_.size(); }
  int64_t BlocksCleaned() const { return blocks_; }

 private:
  std::vector<uint8_t> buffer_;
  int64_t blocks_ = 0;
};

// Converted samples in some format, planar or packed, with room kept between uses.
class SampleBuffer {
 public:
  SampleBuffer() = default;
  SampleBuffer(const SampleBuffer&) = delete;
  SampleBuffer& operator=(const SampleBuffer&) = delete;
  ~SampleBuffer();
  // Room for at least samples per channel, keeping the count samples held; a change of
  // channels or format drops them. False on allocation failure.
  bool Reserve(int samples, int channels, AVSampleFormat format);
  uint8_t** Data() { return data_; }
  int count = 0;  // samples per channel held

 private:
  uint8_t** data_ = nullptr;
  int capacity_ = 0;
  int channels_ = 0;
  AVSampleFormat format_ = AV_SAMPLE_FMT_NONE;
};

// Decoded frames in, cleaned samples in the output layout, rate and format out. Owned and
// used by one decode thread; Open may run on another thread before that thread starts.
class SoundCleaner {
 public:
  // The resampler from the cleaning format to the output; 0 or -1 (logged).
  int Open(const AVChannelLayout& outLayout, int outRate, AVSampleFormat outFormat);
  // The suppressor; 0 or -1 (logged). Call on the thread that cleans.
  int StartSuppressor(int policy);
  // Converts, cleans and converts back one decoded frame; the result replaces out's
  // contents (out.count may be 0). 0 or -1 on a conversion failure (printed).
  int Push(const AVFrame* frame, SampleBuffer& out);
  // Silence of samples at rate (a hole in the source's sound) after what was pushed so far; the
  // result replaces out's contents. 0 or -1.
  int PushSilence(std::int64_t samples, int rate, SampleBuffer& out);
  // The end of the input: what the resamplers and the block buffer still hold. 0 or -1.
  int Flush(SampleBuffer& out);

  const CleanBlocks& Blocks() const { return blocks_; }

 private:
  int MakeToClean(const AVFrame* frame);
  int ConvertToClean(const uint8_t* const* data, int samples);
  int ConvertFromClean(SampleBuffer& out, bool flush);

  NoiseSuppressor ns_;
  SwrPtr toClean_;
  SwrPtr fromClean_;
  AVChannelLayout toCleanLayout_{};
  int toCleanRate_ = 0;
  int toCleanFormat_ = -1;
  AVChannelLayout outLayout_{};
  int outRate_ = 0;
  AVSampleFormat outFormat_ = AV_SAMPLE_FMT_NONE;
  CleanBlocks blocks_;
  SampleBuffer cleanInput_;       // 32 kHz mono s16 after the first conversion
  std::vector<int16_t> cleaned_;  // cleaned samples of the current frame
};

// A bounded sample FIFO between one producer and one consumer thread. The producer waits
// for room in steps, the consumer for data; either gives up when the job's stop flag is set.
// MarkEnd tells the consumer that nothing more will come.
class SampleFifo {
 public:
  int Alloc(AVSampleFormat format, int channels, int capacitySamples);
  // Writes count samples, as many as fit at a time, waiting in steps of waitStep while the
  // FIFO is full (printing
  // "audio fifo space is not enough\n"). False when stop was set before all were written.
  bool Write(uint8_t** data, int count, const std::atomic<bool>& stop, std::chrono::milliseconds waitStep);
  // Reads want samples into frame (allocated for want). Waits in steps of waitStep until
  // want samples are there, or fewer after MarkEnd. Returns the count read, 0 when the end is
  // reached and nothing is left, -1 when stop was set, -2 after maxWaits steps without
  // enough data (never when maxWaits is negative).
  int Read(AVFrame* frame, int want, const std::atomic<bool>& stop, std::chrono::milliseconds waitStep,
           int maxWaits = -1);
  void MarkEnd();
  int Size() const;

  bool Ended() const;

 private:
  mutable std::mutex lock_;
  std::condition_variable changed_;
  AudioFifoPtr fifo_;
  AVSampleFormat format_ = AV_SAMPLE_FMT_NONE;
  int channels_ = 0;
  int waiting_ = 0;  // threads inside a wait: only they need waking
  bool ended_ = false;
};

// A denoiser's step for each decoded frame: the silence of the hole before it (gapSamples at its
// rate), then the frame, cleaned into fifo. 0, -1 when the sound could not be converted, -2 when
// stop was set while waiting for room.
int CleanInto(SoundCleaner& cleaner, const AVFrame* frame, std::int64_t gapSamples, SampleBuffer& cleaned,
              SampleFifo& fifo, const std::atomic<bool>& stop, std::chrono::milliseconds waitStep);

// A bounded FIFO of raw planar 4:2:0 pictures (Y, then U, then V), each with its timestamp,
// with the same waiting rules as SampleFifo. Buffers are reused.
class PictureFifo {
 public:
  // Pictures are width × height; capacityBytes bounds the bytes held (at least one picture
  // always fits).
  void Configure(int width, int height, size_t capacityBytes);
  // Copies a yuv420p frame of the configured size with its time pts. False when stop was set
  // first.
  bool Write(const AVFrame* picture, int64_t pts, const std::atomic<bool>& stop,
             std::chrono::milliseconds waitStep);
  // Copies the oldest picture and its time (pts) into frame (yuv420p, configured size, writable). 1 when a
  // picture was read, 0 at the end, -1 when stop was set, -2 after maxWaits steps without a
  // picture (never when maxWaits is negative). Prints "video fifo is empty, lock\n" before
  // each wait.
  int Read(AVFrame* frame, const std::atomic<bool>& stop, std::chrono::milliseconds waitStep,
           int maxWaits = -1);
  void MarkEnd();
  size_t Count() const;

 private:
  size_t PictureBytes() const;

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::vector<uint8_t>> pictures_;
  std::deque<int64_t> timestamps_;  // the pts of each picture
  std::vector<std::vector<uint8_t>> spare_;
  int width_ = 0;
  int height_ = 0;
  size_t capacityPictures_ = 1;
  int waiting_ = 0;
  bool ended_ = false;
};

}  // namespace tw
