// One recording: from Start to Stop it writes one compressed audio file from the system
// sound (the monitor of the default sink), the microphone (the default source), or both
// mixed, with pause and resume, and posts the recorded whole seconds as WM_RECORD_TIME.
//
// Threads: the caller's thread constructs, calls Start/Pause/Resume/Stop and destroys.
// Start launches EncodeThread, one or two capture threads and FinishThread. Every thread
// ends on stopRequested; FinishThread waits for the others, finalises the file and frees
// the media objects; the destructor stops the recording if needed and joins FinishThread,
// so destroying the recorder at any moment is safe.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/MessageSink.h"
#include "app/FFmpegPtr.h"

namespace tw {

class PulseRecordStream;
struct PulseDeviceFacts;

enum CodecKind { CodecMp3 = 0, CodecAac = 1 };
enum VoiceSource { SourceAll = 0, SourceMicrophone = 1, SourceSystem = 2 };
enum RecorderState { Idle = 0, Recording = 1, Paused = 2, Stopped = 3 };
// Why a started recording cannot go on (WM_RECORD_FAILED). What was written stays in the file.
// FailureServer: the sound server stopped answering; FailureEncode: the sound could not be
// encoded (the encoder or the mix failed).
enum RecordFailure { FailureNone = 0, FailureDevice = 1, FailureWrite = 2, FailureServer = 3, FailureEncode = 4 };
// Where the system sound alone begins: not yet known, at the device's first sound, or at the
// moment recording began (the device's first data was silence, or it gave none in time).
enum SystemStart { SystemStartWaiting = 0, SystemStartDevice = 1, SystemStartClock = 2 };

// The choices a recording reads at Start.
struct RecorderSettings {
  int noiseSuppression = 0;  // "noise-check"
  int gainControl = 0;       // "agc-check"
  int voiceSource = 0;       // "voice-source"
  int muteRecording = 0;     // "audio-mute-check"
  int gainDb = 20;           // "voice-size"
};

// The settings file's values, with the defaults above for missing keys.
RecorderSettings ReadRecorderSettings();

class AudioRecorder {
 public:
  // owner receives WM_RECORD_TIME (may be null). Nothing starts here.
  explicit AudioRecorder(MessageSink* owner);
  ~AudioRecorder();
  AudioRecorder(const AudioRecorder&) = delete;
  AudioRecorder& operator=(const AudioRecorder&) = delete;

  // Opens the devices and the file folder + "/" + fileName (UTF-8; the container comes
  // from the extension) and starts the threads; recording begins with Resume. 0, or
  // negative with nothing left running or open. Reads the settings unless
  // UseSettings gave them. Call once per recorder.
  int Start(const std::string& fileName, const std::string& folder, int bitRate, int codecKind,
            bool micAvailable, const std::string& captureDeviceName);
  int Pause();
  int Resume();
  // Ends the recording; the file is complete once the recorder is destroyed (or
  // WaitFinished returned true). Returns at once; the finishing takes about a second and is
  // bounded even when the sound server is stuck.
  int Stop();
  // The file ends after `samples` (at 44100 Hz): nothing beyond them is encoded, and
  // LengthReached() tells when the owner may stop. Call before Start.
  void LimitLength(int64_t samples) { lengthLimit = samples; }
  bool LengthReached() const { return lengthLimit > 0 && submittedSamples.load() >= lengthLimit; }

  // For callers that must not take the choices from the settings file (the command line).
  void UseSettings(const RecorderSettings& settings) { overrides_ = settings; }
  // Waits up to timeoutMs for the file to be finalised after Stop. True when it is.
  bool WaitFinished(int timeoutMs);

  int State() const { return state; }
  // The first failure since Start (FailureNone while all is well). The owner gets it once as
  // WM_RECORD_FAILED while recording; the recording itself goes on until Stop, writing what
  // still arrives. A write that fails while the file is finished (the last packets, the
  // trailer, the close) is only kept here: the owner reads it once the recorder has finished.
  int Failure() const { return failure.load(); }
  int Source() const { return voiceSource; }
  // The recording's file: after Start, the name it claimed (the one asked for, or the next free
  // "-2", "-3" ... when another file held it).
  std::string OutputPath() const;
  // Samples written to the file so far (at 44100 Hz).
  int64_t EncodedSamples() const { return encodedSamples.load(); }

 private:
  friend int MicCaptureThread(AudioRecorder* recorder);
  friend int LoopbackCaptureThread(AudioRecorder* recorder);
  friend int OpenMicrophone(AudioRecorder* recorder);
  friend int UseMicrophone(AudioRecorder* recorder, const PulseDeviceFacts& mic);
  friend struct RecorderAccess;

  int OpenSources();
  int BuildMixGraph();
  void EncodeThread();
  void FinishThread();
  void ReleaseMedia();
  void AbortStart();
  // Any thread: keeps the first failure and posts it. A failure once Stop was asked is not one.
  void ReportFailure(int kind);

  // Milliseconds spent recording (not paused) since the first Resume. Any thread.
  int64_t RecordedMs() const;
  void StopClock();

  // Encoding helpers of EncodeThread.
  bool EncodeTurn(AVFrame* micFrame, AVFrame* systemFrame, AVFrame* mixedFrame, int64_t& pacingStart,
                  int& silenceCount);
  void PaceSilence(int64_t pacingStart, int& silenceCount) const;
  bool ReadMicFrame(AVFrame* micFrame);
  bool SystemFrameReady(int64_t& pacingStart, int& silenceCount);
  void ReadSystemFrame(AVFrame* systemFrame);
  int SystemFifoSize();
  bool MixAndEncode(AVFrame* micFrame, AVFrame* systemFrame, AVFrame* mixedFrame, const char* writeError);
  void EncodeFrame(AVFrame* frame, const char* writeError);
  void WritePacket(AVPacket* packet, const char* writeError);
  void DrainAfterStop();
  FramePtr MakeStreamFrame(bool withBuffers) const;
  // Appends `samples` of silence to a FIFO of the stream's format.
  void PutSilence(AVAudioFifo* fifo, std::mutex& lock, int64_t samples);

  // Options read at Start.
  int noiseSuppression = 0;
  int gainControl = 0;

  // Microphone pre-processing (used by MicCaptureThread only).
  SwrPtr micResampler;
  std::unique_ptr<uint8_t[]> processingBuffer;
  int processingCapacity = 128000;
  int processingFill = 0;

  int voiceSource = -1;
  int muteRecording = 0;
  int gainDb = 20;
  std::atomic<int> state{Idle};
  std::atomic<int> failure{FailureNone};

  FilterGraphPtr mixGraph;
  AVFilterContext* systemSource = nullptr;  // owned by mixGraph
  AVFilterContext* micSource = nullptr;
  AVFilterContext* mixSink = nullptr;

  int codecKind = CodecMp3;
  int codecId = AV_CODEC_ID_AAC;
  int frameSize = 1024;
  int bitRate = 128000;
  uint64_t micChannelLayout = AV_CH_LAYOUT_STEREO;
  uint64_t outChannelLayout = AV_CH_LAYOUT_STEREO;
  int micSampleRate = 44100;
  int outSampleRate = 44100;
  int micChannels = 2;
  int outChannels = 2;
  int micSampleFormat = AV_SAMPLE_FMT_S16;
  int outSampleFormat = AV_SAMPLE_FMT_FLTP;

  std::unique_ptr<PulseRecordStream> micInput;  // the opened default source
  std::string micDeviceName;
  SwrPtr micToOutputResampler;
  CodecContextPtr encoder;
  AudioFifoPtr micFifo;

  int lastPostedSecond = 0;
  int64_t nextPts = 0;  // in the output stream's time base
  std::atomic<int64_t> encodedSamples{0};
  std::atomic<int64_t> submittedSamples{0};  // given to the encoder
  int64_t lengthLimit = 0;                   // 0: no limit
  int64_t framePts = 0;                      // encoder-side timestamps, 1/outSampleRate
  int64_t mixPts = 0;                        // mix graph input timestamps, 1/outSampleRate
  int lastResult = 0;                        // last filter or write result, for the encode trace line
  PacketPtr packet;                          // EncodeThread's one packet
  AVStream* outputStream = nullptr;
  FormatOutputPtr output;
  bool outputOpened = false;
  bool fileClaimed = false;  // the file under OutputPath() was made by this recording

  std::atomic<bool> stopRequested{false};
  std::atomic<bool> running{false};
  std::mutex stopLock;
  std::condition_variable stopEvent;
  bool stopSignalled = false;  // guarded by stopLock

  std::atomic<bool> systemDrained{false};
  std::atomic<bool> micFlushed{false};
  std::mutex micFifoLock;
  std::condition_variable micFifoSignal;

  std::string fileName;
  std::string folder;
  bool micAvailable = false;
  std::string captureDeviceName;  // stored, not read

  AudioFifoPtr systemFifo;
  std::mutex systemFifoLock;
  std::atomic<bool> systemActive{false};  // the monitor is delivering (cleared after a second without data)
  std::atomic<int> systemStart{SystemStartWaiting};

  // The recorded-time clock (RecordedMs).
  mutable std::mutex clockLock;
  int64_t recordedBeforeMs = 0;  // guarded by clockLock
  int64_t runningSinceMs = -1;   // guarded by clockLock; -1 while not recording

  MessageSink* ownerWindow = nullptr;
  std::optional<RecorderSettings> overrides_;

  // Threads and their bookkeeping.
  std::thread encodeThread;
  std::thread micThread;
  std::thread loopbackThread;
  std::thread finishThread;
  std::atomic<int> captureThreadsRunning{0};
  std::atomic<bool> finished{false};
  std::mutex finishLock;
  std::condition_variable finishSignal;
  bool started = false;
};

}  // namespace tw
