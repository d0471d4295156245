// One video file whose sound is cleaned of steady background noise: the picture, which
// cleaning never changes, is copied as it is (its packets with their own times) whenever the
// result's container holds its codec, and otherwise decoded and re-encoded as H.264 (same size,
// frame rate and rotation); the sound goes through the same cleaning path as NoiseAudio and is
// encoded as AAC. The result keeps the source's tags and, where its container holds one, its
// cover picture.
//
// Threads: the owner (the noise page's job table, on the window thread) constructs the job
// and calls Start once. Start runs the decode thread (picture and sound into their FIFOs, or a
// copied picture's packets straight to the muxer), the encode-and-mux thread (the sound's and
// an encoded picture's writer, interleaving by timestamps; the muxer's lock orders its writes
// with the decode thread's) and the finish thread, which waits for both, writes the trailer, closes input and
// output and posts WM_NOISE_DONE (result 0, or -1 when anything failed, as in NoiseAudio). The file is
// written as the partial file of its ResultFile and renamed only when complete. The destructor sets stop and
// joins the finish thread: a job destroyed while it runs removes its part file and posts nothing
// more. A source with only a picture or only sound is handled by skipping the missing side.
// Pictures keep the times of the source's frames (a variable frame rate included); the sound is
// counted in samples from where the source's sound begins.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/MessageSink.h"
#include "app/FFmpegPtr.h"
#include "media/NoiseClean.h"
#include "tasks/ResultFile.h"

namespace tw {

class SoundDecoder;

// The constant rate factor of the picture encoder for a quality selector: 0 → "23",
// 1 → "34", 2 → "38"; other selectors take "23".
const char* NoiseCrfForSelector(int selector);

class NoiseConvert {
 public:
  static constexpr int kFifoPictures = 72;
  static constexpr int kFifoSeconds = 6;

  // window receives the messages (may be null); itemId is the row's task id; outputPath is
  // UTF-8 and its extension chooses the container.
  NoiseConvert(MessageSink* window, int itemId, std::string outputPath);
  ~NoiseConvert();
  NoiseConvert(const NoiseConvert&) = delete;
  NoiseConvert& operator=(const NoiseConvert&) = delete;

  // Off: the picture is encoded again even where it could be copied. Call before Start.
  void SetPictureCopy(bool allowed) { pictureCopyAllowed_ = allowed; }
  // After Start: true when the picture is copied rather than encoded.
  bool CopiesPicture() const { return copyPicture_; }

  // qualitySelector 0..2 (see NoiseCrfForSelector; for an encoded picture); the picture FIFO holds
  // kFifoPictures pictures of fifoWidth × fifoHeight (both 0: the source size); the sound is encoded with
  // audioChannels (1 or 2), audioRate Hz and audioBitRate bit/s; policy 1..3 as in NoiseAudio.
  // 0 when the threads run, -1 when the source or output cannot be set up (the reason is
  // printed; no thread runs, no message is posted and no output file is left behind).
  int Start(const std::string& inputPath, int qualitySelector, int fifoWidth, int fifoHeight,
            int audioChannels, int audioRate, int64_t audioBitRate, int policy);

  // Asks a running job to end early without a completion message; returns at once. The
  // destructor then waits for its threads. For an owner that is going away.
  void StopQuietly() {
    abandoned_ = true;
    stop_ = true;
  }

  int ItemId() const { return itemId_; }
  // Expected picture count that progress is measured against (0 without a picture).
  int64_t TotalFrames() const { return totalFrames_; }
  // The options the picture encoder was opened with, "preset=... tune=... profile=... crf=...";
  // "" for a copied picture.
  const std::string& VideoOptions() const { return videoOptions_; }
  const std::string& OutputPath() const { return outputPath_; }

 private:
  int Open(const std::string& inputPath);
  int OpenOutput(bool copyPicture);
  void ResetOutput();
  bool CanCopyPicture(const AVStream* stream) const;
  int OpenVideoCopy(AVStream* stream);
  int OpenVideo(AVStream* stream);
  int OpenAudio(AVStream* stream);
  void DecodeThread();
  bool CopyPicture(AVPacket* packet);
  bool DecodeVideo(AVPacket* packet, AVFrame* frame);
  bool DecodeAudio(SoundDecoder& decoder, AVPacket* packet, AVFrame* frame, SampleBuffer& cleaned);
  bool PutPicture(const AVFrame* frame);
  int64_t PictureTime(const AVFrame* frame);
  void EncodeThread();
  int EncodeAudio(AVFrame* frame, AVPacket* packet, int maxWaits);
  int EncodeVideo(AVFrame* frame, AVPacket* packet, int maxWaits);
  bool WriteVideoPackets(AVPacket* packet);
  bool WriteAudioPackets(AVPacket* packet);
  bool WritePacket(AVPacket* packet, const char* failure);
  void ReportProgress();
  void FinishThread();
  void Abandon();
  // The job cannot complete: it ends early and reports -1. Any of its threads.
  void Fail(const char* what, int averror = 0);
  bool Writable();

  MessageSink* window_;
  int itemId_;
  std::string outputPath_;
  ResultFile result_;  // where the job writes, and how its result is named
  FormatInputPtr input_;
  AVStream* videoInStream_ = nullptr;
  AVStream* audioInStream_ = nullptr;
  int videoStreamIndex_ = -1;
  int audioStreamIndex_ = -1;
  CodecContextPtr videoDecoder_, videoEncoder_, audioDecoder_, audioEncoder_;
  FormatOutputPtr output_;
  std::mutex muxLock_;  // around every packet written to output_ while the threads run
  bool pictureCopyAllowed_ = true;
  bool copyPicture_ = false;
  std::vector<CoverStream> covers_;
  double copiedSeconds_ = 0;  // decode thread: the end of the last copied picture
  AVStream* videoOutStream_ = nullptr;
  AVStream* audioOutStream_ = nullptr;
  int policy_ = 2;
  SoundCleaner cleaner_;
  int qualitySelector_ = 0;
  int fifoWidth_ = 0, fifoHeight_ = 0;
  int audioChannels_ = 2, audioRate_ = 44100;
  int64_t audioBitRate_ = 128000;
  int64_t totalFrames_ = 0;
  double totalSeconds_ = 0;
  std::atomic<int64_t> readPackets_{0};
  std::atomic<bool> stop_{false};
  std::atomic<bool> abandoned_{false};
  std::atomic<bool> failed_{false};
  std::atomic<int> writeError_{0};  // errno of the first failed write of the result
  std::atomic<bool> sourceUnreadable_{false};
  int64_t originUs_ = 0;  // the input's start, AV_TIME_BASE units: time 0 of the result
  // Decode thread: the next picture time for a frame without one.
  int64_t nextPictureTime_ = 0;
  bool soundStartKnown_ = false;
  // Set by the decode thread before its first sound enters the FIFO, read by the encode thread
  // after it took that sound out (the FIFO's lock orders the two).
  int64_t soundStartSamples_ = 0;
  int64_t lastPictureTime_ = 0;  // encode thread
  int64_t lastVideoPts_ = 0, lastAudioPts_ = 0;
  int64_t videoFramesSent_ = 0, audioSamplesSent_ = 0;  // encode thread
  int64_t videoPacketsWritten_ = 0;
  int64_t audioEndPts_ = 0;
  int lastPercent_ = 0;
  PictureFifo pictureFifo_;
  SampleFifo audioFifo_;
  SwsPtr scaler_;
  FramePtr scaled_;
  std::string videoOptions_;
  bool createdOutput_ = false;
  std::thread decodeThread_, encodeThread_, finishThread_;
};

}  // namespace tw
