// A sound server of the test's own: a PulseAudio daemon in a private runtime folder with
// the same devices as scripts/pulse-env (default sink "tw_speaker"; fake microphone
// "tw_mic", the remapped monitor of sink "tw_micfeed"). While it lives, PULSE_SERVER
// points at it, so this process and the programs it starts (paplay, pactl) talk to it
// alone and other tests playing into the shared server cannot disturb a measurement.
#pragma once

#include <sys/types.h>

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

// Plays a file into a sink in the background until stopped or finished.
class Player {
 public:
  Player(const std::string& sink, const std::string& file);
  ~Player();
  void Stop();

 private:
  pid_t pid_ = -1;
};

}  // namespace tw::test
