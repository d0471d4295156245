#include "media/NoiseJobTable.h"

#include <glog/logging.h>

#include <array>
#include <filesystem>

#include "app/SettingsFile.h"
#include "media/NoiseRun.h"

namespace tw {

namespace {

constexpr std::array<std::string_view, 7> kVideoExtensions = {"mp4", "flv", "avi", "wmv",
                                                              "mov", "mkv", "3gp"};
constexpr std::array<std::string_view, 7> kAudioExtensions = {"mp3", "aac",  "wma", "ogg",
                                                              "m4a", "flac", "wav"};

// The name as written all in upper case (ASCII only: the names are ASCII).
std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

template <size_t N>
bool Listed(const std::array<std::string_view, N>& names, std::string_view extension) {
  for (std::string_view name : names) {
    if (extension == name || extension == Upper(name)) return true;
  }
  return false;
}

std::string FileName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

NoiseEngine NoiseEngineForExtension(std::string_view extension) {
  if (Listed(kVideoExtensions, extension)) return NoiseEngine::Video;
  if (Listed(kAudioExtensions, extension)) return NoiseEngine::Audio;
  return NoiseEngine::None;
}

std::string NoiseSourceExtension(const std::string& sourcePath) {
  const std::string name = FileName(sourcePath);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string NoiseTimestamp(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[32];
  const size_t n = std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
  return std::string(text, n);
}

std::string NoiseOutputName(const std::string& sourcePath, const std::string& format, std::time_t when) {
  const std::string name = FileName(sourcePath);
  const size_t dot = name.find_last_of('.');
  const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  return base + "-噪声消除-" + NoiseTimestamp(when) + "." + format;
}

std::string NoiseOutputPath(const std::string& folder, const std::string& sourcePath,
                            const std::string& format, std::time_t when) {
  return folder + "/" + NoiseOutputName(sourcePath, format, when);
}

FailureReason NoiseFailure(const NoiseDoneRecord& done) {
  if (done.result == 0) return FailureReason::None;
  if (done.sourceUnreadable) return FailureReason::Unreadable;
  return done.error != 0 ? ReasonOfWriteError(done.error) : FailureReason::Failed;
}

NoiseRunPlan PlanNoiseRun(const std::string& sourcePath, const NoiseRunSettings& settings, std::time_t when) {
  NoiseRunPlan plan;
  plan.inputPath = sourcePath;
  plan.policy = settings.policy;
  plan.engine = NoiseEngineForExtension(NoiseSourceExtension(sourcePath));
  if (plan.engine == NoiseEngine::None) return plan;
  const std::string& format = plan.engine == NoiseEngine::Video ? settings.videoFormat : settings.audioFormat;
  const std::string folder = settings.outputFolder.empty() ? GetOutputFolder() : settings.outputFolder;
  plan.outputPath = NoiseOutputPath(folder, sourcePath, format, when);
  plan.formatType = settings.audioFormat == "mp3" ? 0 : 1;
  return plan;
}

NoiseJobTable::~NoiseJobTable() {
  EndAll();
}

void NoiseJobTable::EndAll() {
  // Every job is told first, so none completes while another is being waited for.
  for (auto& [id, run] : runs_) run->End();
  for (auto& [id, run] : runs_) run->WaitFinished(std::chrono::hours(1));
  runs_.clear();
}

bool NoiseJobTable::IsRunning(int rowId) const {
  return runs_.count(rowId) > 0;
}

size_t NoiseJobTable::RunningAudio() const {
  size_t count = 0;
  for (const auto& [id, run] : runs_) count += run->AudioEngine() ? 1 : 0;
  return count;
}

size_t NoiseJobTable::RunningVideo() const {
  return runs_.size() - RunningAudio();
}

int NoiseJobTable::Run(int rowId, const std::string& sourcePath, const NoiseRunSettings& settings,
                       NoiseRunPlan* planOut) {
  const NoiseRunPlan plan = PlanNoiseRun(sourcePath, settings, std::time(nullptr));
  if (planOut) *planOut = plan;
  return Start(rowId, plan);
}

int NoiseJobTable::Start(int rowId, const NoiseRunPlan& plan, FailureReason* why) {
  FailureReason reason = FailureReason::StartFailed;
  if (IsRunning(rowId)) {
    if (why) *why = reason;
    return -1;
  }
  auto run = NoiseRun::Start(plan, rowId, NextRunId(), sink_, &reason);
  if (why) *why = reason;
  if (!run) return -1;
  runs_[rowId] = std::move(run);
  return 0;
}

bool NoiseJobTable::End(int rowId) {
  const auto it = runs_.find(rowId);
  if (it == runs_.end()) return false;
  it->second->End();
  it->second->WaitFinished(std::chrono::hours(1));
  runs_.erase(it);
  return true;
}

bool NoiseJobTable::Finish(const NoiseDoneRecord& done) {
  const auto it = runs_.find(done.itemId);
  if (it == runs_.end() || it->second->AudioEngine() != (done.audioEngine == 1)) return false;
  runs_.erase(it);
  return true;
}

}  // namespace tw
