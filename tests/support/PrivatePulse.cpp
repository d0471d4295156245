#include "tests/support/PrivatePulse.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <thread>

#include "media/PulseClient.h"
#include "tests/support/TestMedia.h"

namespace tw::test {
namespace {

std::unique_ptr<Process> Quiet(const std::vector<std::string>& argv,
                               const std::vector<std::string>& env = {}) {
  SpawnOptions options;
  options.discardOutput = true;
  options.env = env;
  return std::make_unique<Process>(argv, options);
}

// The first stream of a device waits for the device to settle: wait for that here, once,
// instead of in the first recording of a test.
void WarmUp(const std::string& device, int channels, int rate) {
  PulseRecordStream stream;
  const pa_sample_spec spec{PA_SAMPLE_S16LE, static_cast<uint32_t>(rate), static_cast<uint8_t>(channels)};
  if (stream.Open(device, spec, 20, "warm-up") != 0) return;
  std::vector<uint8_t> piece;
  for (int waited = 0; waited < 4000 && stream.ReadPiece(piece) == 0; waited += 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace

const char* ServerName(SoundServer server) {
  return server == SoundServer::PipeWire ? "PipeWire" : "PulseAudio";
}

PrivatePulse::PrivatePulse(SoundServer server) {
  dir_ = TempDir() + "/pulse";
  std::filesystem::create_directories(dir_ + "/runtime");
  std::filesystem::permissions(dir_, std::filesystem::perms::owner_all);
  std::filesystem::permissions(dir_ + "/runtime", std::filesystem::perms::owner_all);
  if (const char* previous = std::getenv("PULSE_SERVER")) {
    hadPrevious_ = true;
    previousServer_ = previous;
  }
  if (server == SoundServer::PipeWire) {
    StartPipeWire();
    return;
  }
  const std::string socket = dir_ + "/native";
  server_ = "unix:" + socket;
  daemon_ =
      Quiet({"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--system=false", "--disallow-exit",
             "--use-pid-file=no", "--load=module-native-protocol-unix socket=" + socket + " auth-anonymous=1",
             // The standard devices are the daemon's own from its start: a recording of the system
             // sound measured 4 to 7 dB low when they were loaded afterwards like the added ones.
             "--load=module-null-sink sink_name=tw_speaker sink_properties=device.description=TwSpeaker",
             "--load=module-null-sink sink_name=tw_micfeed sink_properties=device.description=TwMicFeed",
             "--load=module-remap-source source_name=tw_mic master=tw_micfeed.monitor "
             "source_properties=device.description=TwMicrophone"},
            {"XDG_RUNTIME_DIR=" + dir_ + "/runtime", "PULSE_RUNTIME_PATH=" + dir_ + "/runtime",
             "HOME=" + dir_, "PULSE_SERVER=" + server_});
  setenv("PULSE_SERVER", server_.c_str(), 1);
  const bool answers = daemon_->Started() &&
                       daemon_->WaitFor([this] { return Pactl({"info"}) == 0; }, std::chrono::seconds(5));
  if (answers) UseStandardDevices(false);
}

// PipeWire's daemons in the private runtime folder, its PulseAudio server on its socket there,
// and the standard devices made through it.
void PrivatePulse::StartPipeWire() {
  const std::string runtime = dir_ + "/runtime";
  server_ = "unix:" + runtime + "/pulse/native";
  const std::string bus = "unix:path=" + dir_ + "/bus";
  const std::vector<std::string> env{"XDG_RUNTIME_DIR=" + runtime, "HOME=" + dir_, "PULSE_SERVER", "PULSE_COOKIE",
                                     "PULSE_RUNTIME_PATH=" + runtime + "/pulse",
                                     "DBUS_SESSION_BUS_ADDRESS=" + bus, "PIPEWIRE_RUNTIME_DIR=" + runtime,
                                     "XDG_CONFIG_HOME=" + dir_ + "/config", "XDG_STATE_HOME=" + dir_ + "/state"};
  helpers_.push_back(Quiet({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + bus}, env));
  const auto exists = [](const std::string& path) { return std::filesystem::exists(path); };
  if (!PollUntil([&] { return exists(dir_ + "/bus"); }, std::chrono::seconds(5))) return;
  helpers_.push_back(Quiet({"pipewire"}, env));
  if (!PollUntil([&] { return exists(runtime + "/pipewire-0"); }, std::chrono::seconds(5))) return;
  helpers_.push_back(Quiet({"wireplumber"}, env));
  daemon_ = Quiet({"pipewire-pulse"}, env);
  setenv("PULSE_SERVER", server_.c_str(), 1);
  const bool answers = daemon_->Started() &&
                       daemon_->WaitFor([this] { return Pactl({"info"}) == 0; }, std::chrono::seconds(5));
  if (answers) UseStandardDevices(true);
}

void PrivatePulse::UseStandardDevices(bool add) {
  if (add && !(AddSink("tw_speaker", 2, 44100, false) && AddSink("tw_micfeed", 2, 44100, false) &&
               Pactl({"load-module", "module-remap-source", "source_name=tw_mic", "master=tw_micfeed.monitor",
                      "source_properties=device.description=TwMicrophone"}) == 0))
    return;
  // The session manager takes a moment to learn of new devices before it lets them be defaults.
  std::string info;
  ok_ = PollUntil([&] {
    return UseDefaults("tw_speaker", "tw_mic") && Pactl({"info"}, &info) == 0 &&
           info.find("Default Sink: tw_speaker\n") != std::string::npos &&
           info.find("Default Source: tw_mic\n") != std::string::npos;
  }, std::chrono::seconds(5));
  // An idle null sink renders in blocks of up to two seconds: low-latency readers make these
  // render in small blocks, as a sound card does.
  for (const char* device : {"tw_speaker.monitor", "tw_mic"}) {
    keepers_.push_back(Quiet({"parec", "--latency-msec=10", "--raw", "-d", device}));
    WarmUp(device, 2, 44100);
  }
}

PrivatePulse::~PrivatePulse() {
  keepers_.clear();
  daemon_.reset();
  while (!helpers_.empty()) helpers_.pop_back();
  if (hadPrevious_)
    setenv("PULSE_SERVER", previousServer_.c_str(), 1);
  else
    unsetenv("PULSE_SERVER");
}

int PrivatePulse::Pactl(const std::vector<std::string>& args, std::string* output) const {
  // Its answers are read as text: in the untranslated words, whatever language the tests run in.
  std::vector<std::string> argv{"env", "LANGUAGE=C", "LC_ALL=C", "pactl", "-s", server_};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, output);
}

bool PrivatePulse::AddSink(const std::string& name, int channels, int rate, bool smallBlocks,
                           const std::string& map) {
  const std::string& description = name;
  std::vector<std::string> args{"load-module", "module-null-sink", "sink_name=" + name,
                                "channels=" + std::to_string(channels), "rate=" + std::to_string(rate),
                                "sink_properties=device.description=" + description};
  if (!map.empty()) args.push_back("channel_map=" + map);
  if (Pactl(args) != 0) return false;
  if (smallBlocks) {
    keepers_.push_back(Quiet({"parec", "--latency-msec=10", "--raw", "-d", name + ".monitor"}));
    WarmUp(name + ".monitor", channels, rate);
  }
  return true;
}

bool PrivatePulse::AddMicrophone(const std::string& name, int channels, int rate, const std::string& map) {
  const std::string feed = name + "_feed";
  if (!AddSink(feed, channels, rate, true, map)) return false;
  std::vector<std::string> args{"load-module", "module-remap-source", "source_name=" + name,
                                "master=" + feed + ".monitor", "channels=" + std::to_string(channels),
                                "rate=" + std::to_string(rate), "source_properties=device.description=" + name};
  if (!map.empty()) args.insert(args.end(), {"channel_map=" + map, "master_channel_map=" + map});
  if (Pactl(args) != 0) return false;
  keepers_.push_back(Quiet({"parec", "--latency-msec=10", "--raw", "-d", name}));
  WarmUp(name, channels, rate);
  return true;
}

bool PrivatePulse::UseDefaults(const std::string& sink, const std::string& source) {
  return Pactl({"set-default-sink", sink}) == 0 && Pactl({"set-default-source", source}) == 0;
}

bool PrivatePulse::UseBlockSink() {
  return AddSink("tw_blocks", 2, 44100, false) && UseDefaults("tw_blocks", "tw_mic");
}

DeviceReader::DeviceReader(const std::string& device, int channels, int rate)
    : stream_(std::make_unique<PulseRecordStream>()), channels_(channels), rate_(rate) {
  const pa_sample_spec spec{PA_SAMPLE_S16LE, static_cast<uint32_t>(rate), static_cast<uint8_t>(channels)};
  ok_ = stream_->Open(device, spec, 10, "test reader") == 0;
}

DeviceReader::~DeviceReader() = default;

std::vector<int16_t> DeviceReader::Read(std::int64_t frames, std::chrono::milliseconds timeout) {
  const size_t frameBytes = static_cast<size_t>(channels_) * 2;
  const size_t wanted = static_cast<size_t>(frames) * frameBytes;
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (ok_ && pending_.size() < wanted && std::chrono::steady_clock::now() < until) {
    const long got = stream_->ReadPiece(pending_);
    if (got < 0) break;
    if (got == 0) stream_->WaitData(20);
  }
  const size_t taken = std::min(wanted, pending_.size() / frameBytes * frameBytes);
  std::vector<int16_t> samples(taken / 2);
  if (taken > 0) std::memcpy(samples.data(), pending_.data(), taken);
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(taken));
  frames_ += static_cast<std::int64_t>(taken / frameBytes);
  return samples;
}

void DeviceReader::Drop() {
  if (ok_) stream_->Flush();
  pending_.clear();
}

double Rms(const std::vector<int16_t>& samples) {
  if (samples.empty()) return 0;
  double sum = 0;
  for (int16_t s : samples) sum += static_cast<double>(s) * s;
  return std::sqrt(sum / static_cast<double>(samples.size()));
}

Player::Player(const std::string& sink, const std::string& file, int latencyMs, const std::string& channelMap)
    : sink_(sink) {
  std::vector<std::string> argv{"paplay", "-d", sink};
  if (latencyMs > 0) argv.push_back("--latency-msec=" + std::to_string(latencyMs));
  if (!channelMap.empty()) argv.push_back("--channel-map=" + channelMap);
  argv.push_back(file);
  SpawnOptions options;
  options.discardOutput = true;
  process_ = std::make_unique<Process>(argv, options);
}

Player::~Player() {
  Stop();
}

void Player::Stop() {
  process_.reset();
}

bool Player::Sounding() const {
  return WaitForSound(sink_ + ".monitor");
}

bool Player::Ended() {
  return !process_ || process_->WaitExit(std::chrono::milliseconds(0));
}

bool FreezeServer(const PrivatePulse& pulse, bool frozen) {
  const pid_t daemon = pulse.DaemonPid();
  if (daemon <= 0 || kill(daemon, frozen ? SIGSTOP : SIGCONT) != 0) return false;
  // The signal takes effect a moment later: until the daemon's state says so it may still answer.
  const auto stopped = [daemon] {
    ProcStat stat;
    return ReadProcStat(daemon, &stat) && stat.state == 'T';
  };
  return PollUntil([&] { return stopped() == frozen; }, std::chrono::seconds(5));
}

bool WaitDeviceSeconds(const std::string& device, double seconds) {
  constexpr int kRate = 8000;
  DeviceReader clock(device, 1, kRate);
  const auto frames = static_cast<std::int64_t>(seconds * kRate);
  const auto timeout = std::chrono::milliseconds(static_cast<int>(seconds * 1000) + 5000);
  return clock.Ok() && static_cast<std::int64_t>(clock.Read(frames, timeout).size()) == frames;
}

bool WaitForSound(const std::string& device, std::chrono::milliseconds timeout) {
  constexpr int kRate = 8000;
  DeviceReader reader(device, 1, kRate);
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (reader.Ok() && std::chrono::steady_clock::now() < until) {
    const std::vector<int16_t> piece = reader.Read(kRate / 50, std::chrono::milliseconds(200));
    if (Rms(piece) > 30) return true;  // about -60 dB of full scale; an idle null sink gives zeros
  }
  return false;
}

bool ReturnsWithin(int limitMs, const std::function<void()>& work, const std::function<void()>& release) {
  std::mutex lock;
  std::condition_variable done;
  bool returned = false;
  std::thread worker([&] {
    work();
    std::lock_guard<std::mutex> hold(lock);
    returned = true;
    done.notify_all();
  });
  bool inTime = false;
  {
    std::unique_lock<std::mutex> hold(lock);
    inTime = done.wait_for(hold, std::chrono::milliseconds(limitMs), [&] { return returned; });
  }
  release();
  worker.join();
  return inTime;
}

}  // namespace tw::test
