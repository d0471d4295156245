// Reads one media file's sound track into the waveform's values: the whole file is decoded
// once in the background, converted to 8000 Hz mono 16-bit, and about 8640 samples are kept
// (WavePeaks.h). Progress goes to the owner's sink as WM_LOADING_SHOW (param = percent, only
// when it changes) and the end as WM_LOADING_HIDE; nothing is posted after Abort.
//
// Threads: the owner's thread calls every public member. Open starts the reading thread
// (demuxes into the packet queue) and the decoding thread (decodes and picks); both end at
// the end of the file or when `stop` is set by Abort; their waiter is WaitForExit (also run
// by Release and the destructor). Peaks() may be read once Done() is true.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/MessageSink.h"
#include "media/FFmpegPtr.h"
#include "media/PacketQueue.h"
#include "media/ThreadExit.h"
#include "media/WavePeaks.h"

namespace tw {

class PcmWave {
 public:
  static constexpr int kPcmBufferBytes = 288000;
  static constexpr std::size_t kQueueHighMark = 300;

  // sink receives the progress messages (may be null: nothing is posted). It must outlive
  // the reader's threads.
  explicit PcmWave(MessageSink* sink);
  PcmWave(const PcmWave&) = delete;
  PcmWave& operator=(const PcmWave&) = delete;
  // Aborts and waits for the threads, then releases.
  ~PcmWave();

  // Opens the file (UTF-8 path) and starts both threads: 0. On any failure -1, with
  // everything released and nothing posted. Only one Open per reader.
  int Open(const std::string& pathUtf8);
  // Ends both threads soon and stops all posting; returns at once. Any thread.
  void Abort();
  // Wakes the reading thread when it waits for room in the queue. Any thread.
  void WakeReader();
  // Waits until both threads have ended, calling pump (when given) at least every 200 ms.
  void WaitForExit(const MessagePump& pump = {});
  // Waits until both threads have ended, without the window's wait loop and its log lines
  // (for callers that have no messages to serve: the command line, benchmarks).
  void Join();
  // Frees the values, the queue and every FFmpeg object. Aborts and waits first when the
  // threads still run.
  void Release();

  bool Opened() const { return opened_; }
  // The values are complete. Set just before WM_LOADING_HIDE; never after Abort.
  bool Done() const { return done_.load(std::memory_order_acquire); }
  // The picked values (each -32768..32767); complete only once Done().
  const std::vector<std::int32_t>& Peaks() const { return peaks_; }
  // Seconds used for the stride and the progress; 0 when the file does not say.
  double Duration() const { return duration_; }
  // -1 when the duration is unknown (the picker then bounds itself).
  int StrideBytes() const { return strideBytes_; }
  int StreamIndex() const { return streamIndex_; }
  bool ReadThreadExited() const { return readExited_.Exited(); }
  bool DecodeThreadExited() const { return decodeExited_.Exited(); }

 private:
  static int InterruptCallback(void* opaque);
  int OpenMedia();
  void ReadLoop();
  void DecodeLoop();
  int DecodeChunk();
  int ConvertFrame();
  void PostProgress(double frameSeconds);

  MessageSink* sink_;
  std::atomic<bool> done_{false};
  std::mutex postLock_;      // Abort against a post in flight
  bool postEnabled_ = true;  // guarded by postLock_
  std::vector<std::int32_t> peaks_;
  std::string path_;
  std::atomic<bool> endOfInput_{false};
  FormatInputPtr format_;
  double duration_ = 0;
  int strideBytes_ = -1;
  int streamIndex_ = -1;
  AVRational timeBase_{0, 1};
  CodecContextPtr codec_;
  PacketQueue queue_;
  FramePtr frame_;
  SwrPtr resampler_;
  AVChannelLayout resamplerInLayout_{};
  int resamplerInFormat_ = -1;
  int resamplerInRate_ = 0;
  std::atomic<bool> stop_{false};
  alignas(16) std::array<std::uint8_t, kPcmBufferBytes> pcm_{};  // holds int16 samples
  bool needReceive_ = false;
  PacketPtr pendingPacket_;  // refused by the decoder with EAGAIN; sent again first
  std::mutex queueWaitLock_;
  std::condition_variable queueNotFull_;
  int lastPercent_ = -1;
  bool opened_ = false;
  ExitFlag readExited_;
  ExitFlag decodeExited_;
  std::thread readThread_;
  std::thread decodeThread_;
};

// Replaces the owner's reader: aborts the current one (when it was opened), waits for its
// threads while calling pump, releases and deletes it, then opens a new reader for the path.
// Returns the new reader's Open result (0 = loading started). Window thread.
int ReplaceWaveReader(std::unique_ptr<PcmWave>& reader, MessageSink* sink, const std::string& pathUtf8,
                      const MessagePump& pump = {});

// Reads a file's waveform values to the end on the calling thread. 0 with the values (and
// the duration used, when asked), or -1 when the file has no readable sound.
int ReadWavePeaks(const std::string& pathUtf8, std::vector<std::int32_t>* peaks, MessageSink* sink = nullptr,
                  double* durationSec = nullptr);

}  // namespace tw
