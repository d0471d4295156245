// A sound server of the test's own: a PulseAudio daemon (or PipeWire with its PulseAudio
// server) in a private runtime folder with the same devices as scripts/pulse-env (default sink
// "tw_speaker"; fake microphone "tw_mic", the remapped monitor of sink "tw_micfeed"). While it lives, PULSE_SERVER
// points at it, so this process and the programs it starts (paplay, pactl) talk to it
// alone and other tests playing into the shared server cannot disturb a measurement.
//
// Devices that break the assumptions of capture and playback code are added on demand: any
// layout and rate, a sink whose monitor delivers in 2 s blocks, and players that keep 2 s of
// sound buffered.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Process.h"

namespace tw {
class PulseRecordStream;
}

namespace tw::test {

// The two servers desktops run: PulseAudio, and PipeWire with its PulseAudio server
// (pipewire-pulse, beside wireplumber and a D-Bus session bus of its own).
enum class SoundServer { PulseAudio, PipeWire };
const char* ServerName(SoundServer server);

class PrivatePulse {
 public:
  explicit PrivatePulse(SoundServer server = SoundServer::PulseAudio);
  ~PrivatePulse();
  PrivatePulse(const PrivatePulse&) = delete;
  PrivatePulse& operator=(const PrivatePulse&) = delete;

  bool Ok() const { return ok_; }
  const std::string& Server() const { return server_; }
  // The daemon's process id (-1 when it did not start).
  pid_t DaemonPid() const { return daemon_ ? daemon_->Pid() : -1; }
  // Runs pactl against this server; its exit status (output when asked).
  int Pactl(const std::vector<std::string>& args, std::string* output = nullptr) const;

  // A null sink `name` (description `name` too) of the given layout. With smallBlocks a
  // low-latency reader on its monitor makes it render in small blocks as a sound card does;
  // without, an idle null sink renders, and its monitor delivers, in blocks of up to 2 s.
  // map: the channel positions as pactl names them ("front-left,front-right,lfe,..."), or the
  // server's default for the count.
  bool AddSink(const std::string& name, int channels, int rate, bool smallBlocks = true,
               const std::string& map = "");
  // A fake microphone `name` of the given layout, fed by playing into sink `name`_feed.
  bool AddMicrophone(const std::string& name, int channels, int rate, const std::string& map = "");
  // Makes sink and source the defaults (the system sound and the microphone of the program).
  bool UseDefaults(const std::string& sink, const std::string& source);

  // A default sink "tw_blocks" whose monitor delivers in 2 s blocks; false when that failed.
  bool UseBlockSink();

 private:
  void StartPipeWire();
  // The devices of scripts/pulse-env (made here when add, the daemon's own otherwise) as the
  // defaults, with their keepers.
  void UseStandardDevices(bool add);

  bool ok_ = false;
  std::unique_ptr<Process> daemon_;  // the one speaking the protocol (pipewire-pulse on PipeWire)
  std::vector<std::unique_ptr<Process>> helpers_;  // PipeWire's own daemons, ended last
  std::vector<std::unique_ptr<Process>> keepers_;
  std::string dir_;
  std::string server_;
  std::string previousServer_;
  bool hadPrevious_ = false;
};

// Reads a device of the server in this process (a sink's monitor: what the sink plays; a
// source: what it records) in its own layout, so a test measures in samples the device
// delivered rather than in wall-clock time.
class DeviceReader {
 public:
  DeviceReader(const std::string& device, int channels, int rate);
  ~DeviceReader();
  bool Ok() const { return ok_; }
  int Rate() const { return rate_; }
  // The next `frames` sample frames the device delivers (interleaved); fewer when the stream
  // dies or timeout passes first.
  std::vector<int16_t> Read(std::int64_t frames,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Forgets what the device delivered and was not read yet: the next Read starts now.
  void Drop();
  // Sample frames read so far.
  std::int64_t Frames() const { return frames_; }

 private:
  std::unique_ptr<PulseRecordStream> stream_;
  std::vector<uint8_t> pending_;
  bool ok_ = false;
  int channels_ = 0;
  int rate_ = 0;
  std::int64_t frames_ = 0;
};

// Root mean square of 16-bit samples.
double Rms(const std::vector<int16_t>& samples);

// Plays a file into a sink in the background until stopped or finished. latencyMs > 0 asks the
// server to keep that much sound buffered ahead (2000: a player that buffers 2 s).
class Player {
 public:
  // channelMap: the places of the file's channels, when not the server's default for their count.
  Player(const std::string& sink, const std::string& file, int latencyMs = 0, const std::string& channelMap = "");
  ~Player();
  void Stop();
  // True once the player has ended by itself (the whole file was handed to the server).
  bool Ended();
  // Waits until its sound comes out of the sink (WaitForSound on the sink's monitor). Not for a
  // sink meant to render in big blocks: the reading makes it render in small ones.
  bool Sounding() const;

 private:
  std::string sink_;
  std::unique_ptr<Process> process_;
};

// Stops (SIGSTOP) or continues (SIGCONT) the server's daemon: a stuck sound server. True once
// the daemon is stopped (or running again).
bool FreezeServer(const PrivatePulse& pulse, bool frozen);
// Waits until the device (a sink's monitor, a source) has delivered `seconds` of sound: time
// as the sound server counts it rather than a fixed sleep. False when it stopped delivering.
bool WaitDeviceSeconds(const std::string& device, double seconds);
// Waits until the device delivers sound above the silence of an idle null sink (a player has
// really started); false when none came within timeout.
bool WaitForSound(const std::string& device, std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Runs work on a thread of its own and tells whether it returned within limitMs; then calls
// release (which lets a stuck call go on, for example by continuing a frozen server) and
// waits for the thread, so that nothing outlives the test.
bool ReturnsWithin(int limitMs, const std::function<void()>& work, const std::function<void()>& release);

}  // namespace tw::test
