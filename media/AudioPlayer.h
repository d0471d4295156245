// Plays one media file's sound track through SDL2's single output device, decoding with the
// FFmpeg libraries on demand inside the device callback.
//
// Threads: the owner's thread (the window thread) calls every public member; Play starts the
// reading thread (demuxes into the packet queue; its owner is this object, its stop flag
// `quitting`, its waiter Stop); SDL's audio thread runs the device callback, which decodes
// and converts. The end callback runs on the reading thread: a UI must marshal whatever it
// does to its own thread (post a message) before touching widgets.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "media/AudioInput.h"
#include "app/FFmpegPtr.h"
#include "media/PacketQueue.h"
#include "media/SdlAudio.h"
#include "media/ThreadExit.h"

namespace tw {

// The player sets Opened, Playing and Paused; the owner's end handler sets Finished and
// the cut page moves Finished back to Paused.
enum class PlayerState : int { Opened = 0, Playing = 1, Paused = 2, Finished = 3 };

class AudioPlayer {
 public:
  // Called with the user data once the end of the file has been read and the queue is empty.
  using EndCallback = std::function<void(void* userData)>;

  static constexpr int kPcmBufferBytes = 288000;
  static constexpr std::size_t kQueueHighMark = 300;  // the reader waits at this many packets
  static constexpr std::size_t kQueueLowMark = 50;    // the decoder wakes it below this many
  static constexpr int kDeviceSamples = 1024;         // sample frames per device callback
  static constexpr int kDefaultVolume = 50;           // SDL scale, 128 = full
  // Play waits at most this long for the first packet before starting the device, so that the
  // device's first callback (which SDL makes at once) already carries sound.
  static constexpr std::chrono::milliseconds kPrimeWait{100};

  AudioPlayer();
  AudioPlayer(const AudioPlayer&) = delete;
  AudioPlayer& operator=(const AudioPlayer&) = delete;
  // Stops and releases whatever the owner left running.
  ~AudioPlayer();

  // Opens the file (UTF-8 path) and the default sound device and starts playing. 0 on
  // success, -2 when no sound device can be opened, -1 for every other failure (the
  // player is then unusable: Release and delete it). Only the first call can succeed.
  int Play(const std::string& pathUtf8);
  // Ends the reading thread and closes the device. While waiting for the thread it calls
  // pump (when given) at least every 200 ms. Safe to call more than once.
  void Stop(const MessagePump& pump = {});
  // Frees every decoding resource and this player's hold on SDL. Stops first if needed.
  void Release();

  // Playing <-> Paused; Opened and Finished stay.
  void TogglePause();
  // Jumps to an absolute position in seconds (the decoder keeps its state).
  void SeekTo(double seconds);
  // Jumps `seconds` forward from clock, at most to the duration (when known), and flushes
  // the decoder.
  void Forward(int seconds);
  // Jumps `seconds` back from clock, at least to 0, and flushes the decoder.
  void Rewind(int seconds);
  // SDL_MixAudio volume: 0 silent .. 128 full.
  void SetVolume(int volume);
  // Set before Play; called on the reading thread only while endCallbackEnabled is true.
  void SetEndCallback(EndCallback callback, void* userData);
  // Seconds: the presentation time of the next byte the device will be handed.
  double GetPosition() const;

  // Facts for the owner and for tests.
  const std::string& Path() const { return path_; }
  int StreamIndex() const { return streamIndex_; }
  int DeviceRate() const { return deviceRate_; }
  int DeviceChannels() const { return deviceChannels_; }
  int Volume() const { return volume_; }
  std::size_t QueuedPackets() const { return queue_.Size(); }
  bool ReadThreadExited() const { return readExited_.Exited(); }
  // Milliseconds from the start of Play to the first device callback that carried decoded
  // sound; negative until then.
  double MsToFirstSound() const;

  // Read and written directly by the owner (thread-safe).
  std::atomic<PlayerState> state{PlayerState::Opened};
  // Seconds; set by Play before any thread starts. 0 when the file does not say.
  double duration = 0;
  // Seconds: end time of the most recently decoded chunk. The cut page sets it while paused.
  std::atomic<double> clock{0};
  // The end callback has fired for the current end of file; the owner clears it on a seek.
  std::atomic<bool> endReported{false};
  // While true the decoder hands out silence; the device keeps running.
  std::atomic<bool> paused{false};
  std::atomic<bool> endCallbackEnabled{false};
  // Seconds: a playing player pauses itself once its position has passed this (the end of an
  // audition), on the device's own thread, however late its owner looks; below 0: never.
  // pausedAtMark is set when it did, for the owner to take (exchange) and show.
  std::atomic<double> pauseAt{-1};
  std::atomic<bool> pausedAtMark{false};

 private:
  static void AudioCallback(void* userData, Uint8* stream, int len);
  static int InterruptCallback(void* opaque);
  static void ReadThreadFunc(AudioPlayer* player);

  // The steps of Play: the file and its decoder; the reading thread; the sound device.
  int Open();
  int StartReading();
  int OpenDevice();
  void ReadLoop();
  void FillDevice(Uint8* stream, int len);
  int DecodeChunk();
  int ConvertFrame();
  void WakeReader();
  void MarkPrimed();
  // Seeks under ioLock_ and drops every queued packet; flushes the decoder when asked.
  void SeekStream(double seconds, bool flushDecoder);

  std::thread readThread_;
  ExitFlag readExited_;
  std::mutex ioLock_;                 // av_read_frame against av_seek_frame
  std::uint64_t seekGeneration_ = 0;  // guarded by ioLock_
  std::mutex queueWaitLock_;
  std::condition_variable queueNotFull_;
  std::condition_variable primed_;  // with queueWaitLock_: the first packet is queued
  bool firstPacketQueued_ = false;  // guarded by queueWaitLock_
  std::atomic<bool> stopping_{false};
  std::atomic<bool> quitting_{false};
  std::atomic<bool> seeking_{false};
  std::atomic<bool> deviceStarted_{false};

  // Touched only by the device callback, except bufferIndex_/bufferSize_ (read by GetPosition).
  alignas(16) std::array<std::uint8_t, kPcmBufferBytes> pcm_{};  // holds int16 samples
  std::atomic<int> bufferIndex_{0};
  std::atomic<int> bufferSize_{0};
  int silenceBytes_ = 1024;

  std::string path_;
  int streamIndex_ = -1;
  AVRational timeBase_{0, 1};
  int deviceRate_ = 0;
  int deviceChannels_ = 0;
  std::atomic<int> volume_{kDefaultVolume};
  void* endUserData_ = nullptr;
  EndCallback endCallback_;

  FormatInputPtr format_;
  CodecContextPtr codec_;
  PacketQueue queue_;
  FramePtr frame_;
  std::unique_ptr<S16Converter> converter_;  // to the device's layout and rate
  bool needReceive_ = true;
  PacketPtr pendingPacket_;  // refused by the decoder with EAGAIN; sent again first

  SdlAudioSession sdl_;
  SdlLegacyDevice device_;
  std::chrono::steady_clock::time_point playStart_{};
  std::atomic<std::int64_t> firstSoundNs_{-1};
  bool played_ = false;
};

// Pure rules of the player, exposed for tests.
// The target of Forward: clock + seconds, at most duration when duration > 0.
double ForwardTarget(double clockSec, int seconds, double durationSec);
// The target of Rewind: clock - seconds, at least 0.
double RewindTarget(double clockSec, int seconds);
// Seconds in a stream's time base, truncated toward zero.
std::int64_t SecondsToStreamTs(double seconds, AVRational timeBase);
// Bytes of silence handed out when there is nothing to play: 1024 cut to whole sample frames
// of 16-bit samples, so the device stream never loses its channel alignment.
int SilenceChunkBytes(int channels);
// clock minus the sound still waiting in the buffer.
double PositionFromClock(double clockSec, int pendingBytes, int rate, int channels);

}  // namespace tw
