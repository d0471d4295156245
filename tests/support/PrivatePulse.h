// A sound server of the test's own: a PulseAudio daemon in a private runtime folder with
// the same devices as scripts/pulse-env (default sink "tw_speaker"; fake microphone
// "tw_mic", the remapped monitor of sink "tw_micfeed"). While it lives, PULSE_SERVER
// points at it, so this process and the programs it starts (paplay, pactl) talk to it
// alone and other tests playing into the shared server cannot disturb a measurement.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace tw::test {

class PrivatePulse {
 public:
  PrivatePulse();
  ~PrivatePulse();
  PrivatePulse(const PrivatePulse&) = delete;
  PrivatePulse& operator=(const PrivatePulse&) = delete;

  bool Ok() const { return ok_; }
  const std::string& Server() const { return server_; }
  // Runs pactl against this server; its exit status (output when asked).
  int Pactl(const std::vector<std::string>& args, std::string* output = nullptr) const;

 private:
  bool ok_ = false;
  pid_t pid_ = -1;
  std::vector<pid_t> keepers_;
  std::string dir_;
  std::string server_;
  std::string previousServer_;
  bool hadPrevious_ = false;
};

// Plays a file into a sink in the background until stopped or finished. latencyMs > 0 asks the
// server to keep that much sound buffered ahead (paplay's own default is 2 s).
class Player {
 public:
  Player(const std::string& sink, const std::string& file, int latencyMs = 0);
  ~Player();
  void Stop();

 private:
  pid_t pid_ = -1;
};

// A null sink `name` of the given layout on the server, without a low-latency reader: while
// only players with big buffers use it, it renders (and its monitor delivers) in blocks of up
// to 2 s, as a sink fed by a music player does.
bool AddNullSink(const PrivatePulse& pulse, const std::string& name, int channels, int rate);
// A fake microphone `name` of the given layout: the remapped monitor of a new sink `name`_feed,
// into which tests play. It delivers in small pieces from the start, as a sound card does.
bool AddFakeMicrophone(const PrivatePulse& pulse, const std::string& name, int channels, int rate);
// Makes sink and source the server's defaults.
bool SetDefaultDevices(const PrivatePulse& pulse, const std::string& sink, const std::string& source);
// Stops (SIGSTOP) or continues (SIGCONT) the server's daemon: a stuck sound server. True when
// the signal was delivered.
bool FreezeServer(const PrivatePulse& pulse, bool frozen);
// Runs work on a thread of its own and tells whether it returned within limitMs; then calls
// release (which lets a stuck call go on, for example by continuing a frozen server) and
// waits for the thread, so that nothing outlives the test.
bool ReturnsWithin(int limitMs, const std::function<void()>& work, const std::function<void()>& release);

}  // namespace tw::test
