// Reads one media file's sound track into the waveform's values: the whole file is decoded
// once in the background, converted to 8000 Hz mono 16-bit and cut into about 8640 buckets
// (WavePeaks.h), each with its extremes (the envelope the view draws) and its picked sample.
// Progress goes to the owner's sink as WM_LOADING_SHOW (param = percent, only when it changes)
// and the end as WM_LOADING_HIDE; nothing is posted after Abort.
//
// On a machine with two cores or more, a seekable file of some length is read as two halves at
// once, each by its own pair of threads on its own opening of the file; the halves' buckets are
// joined at the end. Otherwise one pair reads the whole file.
//
// Threads: the owner's thread calls every public member. Open starts, per part, a reading
// thread (demuxes into the part's packet queue) and a decoding thread (decodes and buckets;
// it sleeps while the queue is empty). They end at the end of their part or when `stop` is set
// by Abort; their waiter is WaitForExit (also run by Release and the destructor). The decoding
// thread that finishes last joins the parts, sets Done and posts the end. Peaks() and
// Envelope() may be read once Done() is true.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/MessageSink.h"
#include "media/AudioInput.h"
#include "media/PacketQueue.h"
#include "media/ThreadExit.h"
#include "media/WavePeaks.h"

namespace tw {

struct WaveReadOptions {
  // Parts read at once: 2 allows halves (used only with two cores or more), 1 reads in one.
  int maxParts = 2;
  // The 8 kHz resampler's low-pass length; 0 = the library's default.
  int filterSize = kWaveFilterSize;
};

class PcmWave {
 public:
  static constexpr int kPcmBufferBytes = 288000;
  static constexpr std::size_t kQueueHighMark = 300;
  // Shorter files are read in one part: a second opening would cost more than it saves.
  static constexpr double kSplitMinSeconds = 60;

  // sink receives the progress messages (may be null: nothing is posted). It must outlive
  // the reader's threads.
  explicit PcmWave(MessageSink* sink, WaveReadOptions options = {});
  PcmWave(const PcmWave&) = delete;
  PcmWave& operator=(const PcmWave&) = delete;
  // Aborts and waits for the threads, then releases.
  ~PcmWave();

  // Opens the file (UTF-8 path) and starts the threads: 0. On any failure -1, with
  // everything released, nothing posted and the threads counted as ended. Only one Open per
  // reader.
  int Open(const std::string& pathUtf8);
  // Ends the threads soon and stops all posting; returns at once. Any thread.
  void Abort();
  // Wakes the reading threads when they wait for room in their queue. Any thread.
  void WakeReader();
  // Waits until every thread has ended, calling pump (when given) at least every 200 ms.
  void WaitForExit(const MessagePump& pump = {});
  // Waits until every thread has ended, without the window's wait loop and its log lines
  // (for callers that have no messages to serve: the command line, benchmarks).
  void Join();
  // Frees the values, the queues and every FFmpeg object. Aborts and waits first when the
  // threads still run.
  void Release();

  bool Opened() const { return opened_; }
  // The values are complete. Set just before WM_LOADING_HIDE; never after Abort.
  bool Done() const { return done_.load(std::memory_order_acquire); }
  // The picked values (each -32768..32767); complete only once Done().
  const std::vector<std::int32_t>& Peaks() const { return peaks_; }
  // The buckets' extremes; complete only once Done().
  const WaveEnvelope& Envelope() const { return envelope_; }
  // Seconds used for the bucket size and the progress; 0 when the file does not say.
  double Duration() const { return duration_; }
  // -1 when the duration is unknown (the picker then bounds itself).
  int StrideBytes() const { return strideBytes_; }
  int StreamIndex() const { return streamIndex_; }
  // How many parts are read at once (0 before a successful Open).
  int Parts() const { return static_cast<int>(parts_.size()); }
  // Every reading thread, every decoding thread has ended (or never started).
  bool ReadThreadExited() const;
  bool DecodeThreadExited() const;

 private:
  struct Part;
  static int InterruptCallback(void* opaque);
  int OpenMedia();
  bool OpenSecondHalf();
  int StartThreads();
  void ReadLoop(Part& part);
  void DecodeLoop(Part& part);
  // Decodes and converts the part's next frame: the samples converted (0 when the frame gave
  // none), or -1 once the part's input is exhausted or the reader stops.
  int DecodeChunk(Part& part);
  // Gives the part's first samples their position (the second half waits for the first's
  // origin, and leaves out *skipFrames input samples to meet its grid). NextFrame: this frame
  // ends before the grid; Failed: the part cannot be placed and ends.
  enum class Placement { Placed, NextFrame, Failed };
  Placement PlacePart(Part& part, const AVFrame* frame, int* skipFrames);
  // Silence for a hole between the part's position and its frame's time; false when the part's
  // stretch ended in it.
  bool FillHole(Part& part);
  // Feeds the converted samples that fall inside the part. False at the part's end.
  bool TakeSamples(Part& part, int count);
  void PostProgress();
  // The last decoding thread to finish joins the parts and reports.
  void FinishPart();

  enum class HalfState { Undecided, Placed, Failed };

  MessageSink* sink_;
  WaveReadOptions options_;
  std::atomic<bool> done_{false};
  std::mutex postLock_;               // Abort against a post in flight; the progress posted in order
  bool postEnabled_ = true;           // guarded by postLock_
  std::atomic<int> lastPercent_{-1};  // written under postLock_
  std::vector<std::int32_t> peaks_;
  WaveEnvelope envelope_;
  std::string path_;
  double duration_ = 0;
  int strideBytes_ = -1;
  int streamIndex_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> partsLeft_{0};
  // Where the halves meet: the first half's origin and whether the second found its start.
  std::mutex handshakeLock_;
  std::condition_variable handshake_;
  std::optional<double> basePtsSec_;             // guarded by handshakeLock_
  HalfState secondHalf_ = HalfState::Undecided;  // guarded by handshakeLock_
  bool opened_ = false;
  std::vector<std::unique_ptr<Part>> parts_;
};

// Replaces the owner's reader: aborts the current one (when it was opened), waits for its
// threads while calling pump, releases and deletes it, then opens a new reader for the path.
// Returns the new reader's Open result (0 = loading started). Window thread.
int ReplaceWaveReader(std::unique_ptr<PcmWave>& reader, MessageSink* sink, const std::string& pathUtf8,
                      const MessagePump& pump = {});

// Reads a file's waveform values to the end on the calling thread. 0 with the values (and
// the envelope and the duration used, when asked), or -1 when the file has no readable sound.
int ReadWavePeaks(const std::string& pathUtf8, std::vector<std::int32_t>* peaks, MessageSink* sink = nullptr,
                  double* durationSec = nullptr, WaveReadOptions options = {},
                  WaveEnvelope* envelope = nullptr);

// The cores this process may run on.
int UsableCores();

}  // namespace tw
