// The real samples of one stretch of a file, for a zoomed waveform: the stretch is sought and
// decoded on its own, at the source's own rate mixed to mono, and cut into equal buckets of
// extremes. Times are the file's own (the player's positions).
//
// Threads: the owner's thread calls Request and the destructor. One worker thread, started by
// the first Request, reads the latest request; a newer request cuts an older one short, and
// only the latest one's values are posted (WM_WAVE_STRETCH with a WaveStretchRecord). The
// destructor stops and joins the worker; nothing is posted afterwards.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/MessageSink.h"
#include "media/AudioInput.h"
#include "media/WavePeaks.h"

namespace tw {

struct WaveStretchRecord : MessageRecord {
  std::uint64_t request = 0;
  WaveEnvelope envelope;
};

// Reads stretches of one file after another, keeping the file open between them.
class WaveStretchSource {
 public:
  // Fills *out with the extremes of [fromSec, toSec) of pathUtf8 in `buckets` buckets: 0, or -1
  // when the file has no readable sound there. cancelled is asked between packets and by
  // blocking reads; a cancelled read returns -1.
  int Read(const std::string& pathUtf8, double fromSec, double toSec, int buckets, WaveEnvelope* out,
           const std::function<bool()>& cancelled = {});
  // Opens pathUtf8 ahead of the first read: true when it has sound to read.
  bool Prepare(const std::string& pathUtf8, const std::function<bool()>& cancelled = {});

 private:
  static int InterruptCallback(void* opaque);
  bool Reopen(const std::string& pathUtf8);
  bool SeekNear(double seconds);

  std::string path_;
  AudioInput input_;
  std::unique_ptr<S16Converter> converter_;
  FramePtr frame_;
  PacketPtr packet_;
  std::function<bool()> cancelled_;
};

class WaveStretchReader {
 public:
  // sink receives WM_WAVE_STRETCH; it must outlive the reader.
  explicit WaveStretchReader(MessageSink* sink);
  WaveStretchReader(const WaveStretchReader&) = delete;
  WaveStretchReader& operator=(const WaveStretchReader&) = delete;
  ~WaveStretchReader();

  // Asks for the extremes of [fromSec, toSec) in `buckets` buckets, instead of any earlier
  // request. The number the answer will carry.
  std::uint64_t Request(const std::string& pathUtf8, double fromSec, double toSec, int buckets);
  // Opens the file in the background, so that the first request finds it open; posts nothing.
  void Prepare(const std::string& pathUtf8);
  // Forgets the requests: nothing more is posted for them.
  void Cancel();

 private:
  struct Ask {
    std::uint64_t id = 0;
    std::string path;
    double fromSec = 0, toSec = 0;
    int buckets = 0;
  };
  void Loop();

  MessageSink* sink_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::optional<Ask> pending_;  // guarded by lock_
  std::atomic<std::uint64_t> latest_{0};
  std::atomic<bool> stop_{false};
  std::thread worker_;
};

}  // namespace tw
