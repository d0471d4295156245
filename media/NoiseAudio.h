// One audio file cleaned of steady background noise into a new MP3 or AAC file that keeps the
// source's tags and, where its container holds one, its cover picture.
//
// Threads: the owner (the noise page's job table, on the window thread) constructs the job
// and calls Start once. Start runs the decode-and-clean, encode and finish threads. The
// decode thread ends at the end of input (or on a decode error, which ends the input
// early); the encode thread ends when the FIFO is drained and the encoder flushed; the
// finish thread waits for both, writes the trailer, closes everything and posts
// WM_NOISE_DONE: result 0 when the file is complete under its name, -1 when anything failed
// (the sound could not be converted, the suppressor or the encoder failed, the file could not
// be written). The file is written as the partial file of its ResultFile and renamed only when complete. The
// destructor sets stop and joins the finish thread: a job destroyed while it runs removes its
// part file and posts nothing more.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "app/MessageSink.h"
#include "app/FFmpegPtr.h"
#include "media/NoiseClean.h"
#include "tasks/ResultFile.h"

namespace tw {

class NoiseAudio {
 public:
  static constexpr int kOutRate = 44100;
  static constexpr int kFifoSeconds = 6;

  // window receives the messages (may be null); itemId is the row's task id.
  NoiseAudio(MessageSink* window, int itemId);
  ~NoiseAudio();
  NoiseAudio(const NoiseAudio&) = delete;
  NoiseAudio& operator=(const NoiseAudio&) = delete;

  // Paths are UTF-8. formatType 0 writes MP3 (1152-sample frames), anything else AAC (1024);
  // the container follows the output file's extension. bitRate in bits per second; policy
  // 1..3 (0..3 accepted; higher cleans more). 0 when the threads run, -1 when anything could
  // not be opened (the reason is logged; no thread runs, no message is posted and no file is
  // left behind). Call once.
  int Start(const std::string& inputPath, const std::string& outputPath, int formatType, int64_t bitRate,
            int policy);

  // Asks a running job to end early without a completion message; returns at once. The
  // destructor then waits for its threads. For an owner that is going away.
  void StopQuietly() {
    abandoned_ = true;
    stop_ = true;
  }

  int ItemId() const { return itemId_; }
  // Whole seconds of input that progress is measured against.
  int64_t TotalSeconds() const { return totalSeconds_; }
  const std::string& OutputPath() const { return outputPath_; }

 private:
  int Open();
  int OpenEncoderAndOutput();
  void DecodeThread();
  void EncodeThread();
  void FinishThread();
  bool WritePackets(AVPacket* packet);
  void ReportProgress();
  void Abandon();
  // The job cannot complete: it ends early and reports -1. Any of its threads.
  void Fail(const char* what, int averror = 0);

  MessageSink* window_;
  int itemId_;
  int policy_ = 2;
  int formatType_ = 1;
  AVCodecID encoderId_ = AV_CODEC_ID_AAC;
  int frameSize_ = 1024;
  int64_t bitRate_ = 128000;
  int inRate_ = 44100;
  int outRate_ = kOutRate;
  int inChannels_ = 2;
  AVSampleFormat inFormat_ = AV_SAMPLE_FMT_S16;
  AVSampleFormat outFormat_ = AV_SAMPLE_FMT_FLTP;
  FormatInputPtr input_;
  int streamIndex_ = -1;
  CodecContextPtr decoder_;
  SoundCleaner cleaner_;
  CodecContextPtr encoder_;
  SampleFifo fifo_;
  int64_t nextPts_ = 0;
  int64_t samplesSent_ = 0;
  AVStream* outStream_ = nullptr;
  FormatOutputPtr output_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> abandoned_{false};
  std::atomic<bool> failed_{false};
  std::atomic<int> writeError_{0};  // errno of the first failed write of the result
  std::atomic<bool> sourceUnreadable_{false};
  int64_t totalSeconds_ = 0;
  int lastPercent_ = 0;
  std::string inputPath_;
  std::string outputPath_;
  ResultFile result_;  // where the job writes, and how its result is named
  bool createdOutput_ = false;
  std::thread decodeThread_;
  std::thread encodeThread_;
  std::thread finishThread_;
};

}  // namespace tw
