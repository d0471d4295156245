#include "media/MixerWrap.h"

#include <glog/logging.h>

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
  if (!pulse.Connect("Tunewell")) {
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
  if (!pulse.Connect("Tunewell")) return;
  for (const auto& s : MatchingCaptures(pulse)) level = LevelFromScalar(ScalarOf(s.volume));
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
  std::vector<PulseDeviceFacts> matches;
  if (!MatchingRenders(pulse, matches)) return;
  for (const auto& s : matches) {
    const auto scalar = static_cast<float>(ScalarOf(s.volume));
    if (std::fabs(scalar) > 0.00001f) level = scalar * 100 + 0.5f;
  }
}

void SetCaptureVolume(bool mute, float level) {
  PulseConnection pulse;
  if (!pulse.Connect("Tunewell")) return;
  const float scalar = level / 100;
  for (const auto& s : MatchingCaptures(pulse)) {
    pulse.SetSourceMute(s.index, mute);
    if (scalar >= 0.0f && scalar <= 1.0f) pulse.SetSourceVolume(s.index, VolumeOf(s, scalar));
  }
}

void SetRenderVolume(float level) {
  PulseConnection pulse;
  std::vector<PulseDeviceFacts> matches;
  if (!MatchingRenders(pulse, matches)) return;
  float clamped = level;
  if (static_cast<int>(clamped) < 0 || clamped < 0) clamped = 0;
  if (static_cast<int>(clamped) > 100 || clamped > 100) clamped = 100;
  for (const auto& s : matches) pulse.SetSinkVolume(s.index, VolumeOf(s, clamped / 100));
}

}  // namespace tw
