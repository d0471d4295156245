#include "media/MixerWrap.h"

#include <glog/logging.h>
#include <pthread.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "media/PulseClient.h"

namespace tw {
namespace {

// A device's level is its loudest channel, for capture and playback alike.
double ScalarOf(const pa_cvolume& volume) {
  return static_cast<double>(pa_cvolume_max(&volume)) / PA_VOLUME_NORM;
}

// The device's channels scaled together so that the loudest is at scalar: the balance
// between them stays as the user set it. A device at 0 has lost its balance (every channel is
// 0): the last one seen on it while it sounded is used, so that a level moved through 0 comes
// back with the balance it had.
pa_cvolume VolumeOf(const PulseDeviceFacts& device, float scalar) {
  static std::mutex lock;
  static std::map<std::string, pa_cvolume> balances;  // by device name, while this program runs
  pa_cvolume volume = device.volume;
  if (!pa_cvolume_valid(&volume)) pa_cvolume_set(&volume, 1, PA_VOLUME_NORM);
  {
    std::lock_guard<std::mutex> hold(lock);
    if (pa_cvolume_max(&volume) > PA_VOLUME_MUTED) {
      balances[device.name] = volume;
    } else if (const auto it = balances.find(device.name);
               it != balances.end() && it->second.channels == volume.channels) {
      volume = it->second;
    }
  }
  const double raw = std::lround(static_cast<double>(scalar) * PA_VOLUME_NORM);
  pa_cvolume_scale(&volume, static_cast<pa_volume_t>(raw));
  return volume;
}

// The default microphone: the default source unless it is a sink's monitor.
bool FindDefaultCapture(PulseConnection& pulse, std::vector<PulseDeviceFacts>& sources,
                        PulseDeviceFacts& found) {
  std::string sink, source;
  if (!pulse.DefaultNames(sink, source) || source.empty()) return false;
  if (!pulse.ListSources(sources)) return false;
  for (const auto& s : sources) {
    if (s.name == source && !s.isMonitor) {
      found = s;
      return true;
    }
  }
  return false;
}

bool FindDefaultRender(PulseConnection& pulse, std::vector<PulseDeviceFacts>& sinks, PulseDeviceFacts& found) {
  std::string sink, source;
  if (!pulse.DefaultNames(sink, source) || sink.empty()) return false;
  if (!pulse.ListSinks(sinks)) return false;
  for (const auto& s : sinks) {
    if (s.name == sink) {
      found = s;
      return true;
    }
  }
  return false;
}

// The capture devices sharing the default microphone's description (monitors excluded).
std::vector<PulseDeviceFacts> MatchingCaptures(PulseConnection& pulse) {
  std::vector<PulseDeviceFacts> sources, matches;
  PulseDeviceFacts def;
  if (!FindDefaultCapture(pulse, sources, def)) return matches;
  for (const auto& s : sources)
    if (!s.isMonitor && s.description == def.description) matches.push_back(s);
  return matches;
}

// Render devices matching the default sink; prints the platform failures as the render
// functions report them.
bool MatchingRenders(PulseConnection& pulse, std::vector<PulseDeviceFacts>& matches) {
  matches.clear();
  if (!pulse.Connected() && !pulse.Connect("Tunewell")) {
    std::printf("CoCreateInstance Failed!/n");
    std::fflush(stdout);
    return false;
  }
  std::vector<PulseDeviceFacts> sinks;
  PulseDeviceFacts def;
  std::string sinkName, sourceName;
  if (!pulse.DefaultNames(sinkName, sourceName)) return false;
  if (!pulse.ListSinks(sinks)) {
    std::printf("EnumAudioEndpoints Failed!/n");
    std::fflush(stdout);
    return false;
  }
  const PulseDeviceFacts* found = nullptr;
  for (const auto& s : sinks)
    if (s.name == sinkName) found = &s;
  if (!found) return false;
  for (const auto& s : sinks)
    if (s.description == found->description) matches.push_back(s);
  return true;
}

void ReadCaptureLevel(PulseConnection& pulse, int& level) {
  for (const auto& s : MatchingCaptures(pulse)) level = LevelFromScalar(ScalarOf(s.volume));
}

void ReadRenderLevel(PulseConnection& pulse, float& level) {
  std::vector<PulseDeviceFacts> matches;
  if (!MatchingRenders(pulse, matches)) return;
  for (const auto& s : matches) {
    const auto scalar = static_cast<float>(ScalarOf(s.volume));
    if (std::fabs(scalar) > 0.00001f) level = scalar * 100 + 0.5f;
  }
}

// The default devices' own levels, as the sliders show them: 0 for a silent one, above 100 as
// it is (-1 for one that is not there).
void ReadDefaultLevels(PulseConnection& pulse, int& capture, int& render) {
  std::vector<PulseDeviceFacts> devices;
  PulseDeviceFacts found;
  if (FindDefaultCapture(pulse, devices, found)) capture = LevelFromScalar(ScalarOf(found.volume));
  if (FindDefaultRender(pulse, devices, found)) render = LevelFromScalar(ScalarOf(found.volume));
}

void WriteCaptureLevel(PulseConnection& pulse, bool mute, float level) {
  const float scalar = level / 100;
  for (const auto& s : MatchingCaptures(pulse)) {
    pulse.SetSourceMute(s.index, mute);
    if (scalar >= 0.0f && scalar <= 1.0f) pulse.SetSourceVolume(s.index, VolumeOf(s, scalar));
  }
}

void WriteRenderLevel(PulseConnection& pulse, float level) {
  std::vector<PulseDeviceFacts> matches;
  if (!MatchingRenders(pulse, matches)) return;
  float clamped = level;
  if (static_cast<int>(clamped) < 0 || clamped < 0) clamped = 0;
  if (static_cast<int>(clamped) > 100 || clamped > 100) clamped = 100;
  for (const auto& s : matches) pulse.SetSinkVolume(s.index, VolumeOf(s, clamped / 100));
}

}  // namespace

int LevelFromScalar(double scalar) { return static_cast<int>(scalar * 100 + 0.5); }

bool GetDefaultCaptureName(std::string& name) {
  PulseConnection pulse;
  if (!pulse.Connect("Tunewell")) return false;
  std::vector<PulseDeviceFacts> sources;
  PulseDeviceFacts def;
  if (!FindDefaultCapture(pulse, sources, def)) return false;
  name = def.description;
  return true;
}

void GetCaptureVolume(int& level) {
  PulseConnection pulse;
  if (pulse.Connect("Tunewell")) ReadCaptureLevel(pulse, level);
}

bool HasRenderDevice() {
  PulseConnection pulse;
  std::vector<PulseDeviceFacts> sinks;
  PulseDeviceFacts def;
  if (!pulse.Connect("Tunewell") || !FindDefaultRender(pulse, sinks, def)) {
    LOG(ERROR) << "Get Default Audio Endpoint error";
    return false;
  }
  return true;
}

void GetRenderVolume(float& level) {
  PulseConnection pulse;
  ReadRenderLevel(pulse, level);
}

void SetCaptureVolume(bool mute, float level) {
  PulseConnection pulse;
  if (pulse.Connect("Tunewell")) WriteCaptureLevel(pulse, mute, level);
}

void SetRenderVolume(float level) {
  PulseConnection pulse;
  WriteRenderLevel(pulse, level);
}

LevelWatcher::LevelWatcher(Changed changed) : changed_(std::move(changed)) {
  thread_ = std::thread([this] { Run(); });
}

LevelWatcher::~LevelWatcher() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void LevelWatcher::SetCapture(int level) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    captureWanted_ = level;
  }
  wake_.notify_all();
}

void LevelWatcher::SetRender(int level) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    renderWanted_ = level;
  }
  wake_.notify_all();
}

void LevelWatcher::Run() {
  pthread_setname_np(pthread_self(), "tw-levels");
  int reportedCapture = -2, reportedRender = -2;
  while (!stop_) {
    // One connection for as long as the server stands; a new one when it comes back.
    PulseConnection pulse;
    if (pulse.Connect("Tunewell", &stop_) &&
        pulse.Subscribe([this] {
          {
            std::lock_guard<std::mutex> hold(lock_);
            changedOnServer_ = true;
          }
          wake_.notify_all();
        })) {
      {
        std::lock_guard<std::mutex> hold(lock_);
        changedOnServer_ = true;
      }
      while (!stop_ && pulse.Alive()) {
        int capture = -1, render = -1;
        bool reread = false;
        {
          std::unique_lock<std::mutex> hold(lock_);
          // A wake now and then finds a server that went away without a word.
          wake_.wait_for(hold, std::chrono::seconds(1), [this] {
            return stop_ || changedOnServer_ || captureWanted_ >= 0 || renderWanted_ >= 0;
          });
          std::swap(capture, captureWanted_);
          std::swap(render, renderWanted_);
          std::swap(reread, changedOnServer_);
        }
        // Only the latest of a run of slider steps is sent; one the server did not take waits for
        // the next connection, unless a newer one came meanwhile.
        if (capture >= 0) WriteCaptureLevel(pulse, false, static_cast<float>(capture));
        if (render >= 0) WriteRenderLevel(pulse, static_cast<float>(render));
        if (!pulse.Alive()) {
          std::lock_guard<std::mutex> hold(lock_);
          if (captureWanted_ < 0) captureWanted_ = capture;
          if (renderWanted_ < 0) renderWanted_ = render;
          break;
        }
        if (!reread || stop_) continue;
        int captureLevel = -1, renderLevel = -1;
        ReadDefaultLevels(pulse, captureLevel, renderLevel);
        if (captureLevel != reportedCapture || renderLevel != reportedRender) {
          reportedCapture = captureLevel;
          reportedRender = renderLevel;
          changed_(captureLevel, renderLevel);
        }
      }
    }
    std::unique_lock<std::mutex> hold(lock_);
    wake_.wait_for(hold, std::chrono::seconds(1), [this] { return stop_.load(); });
  }
}

}  // namespace tw
