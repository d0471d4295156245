// The noise page's run, without the page: which engine a source goes to, the name of its
// result, the settings each engine is given, and the table of running jobs keyed by row id that
// a batch front end owns (the window keeps its jobs in its queue, media/NoiseRun.h).
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "app/MessageSink.h"
#include "media/NoiseAudio.h"
#include "media/NoiseConvert.h"
#include "media/NoiseRecords.h"
#include "tasks/FailureReason.h"

namespace tw {

enum class NoiseEngine { None, Audio, Video };

// The engine for a source extension given without the dot. Each known name matches only
// written all in lower case or all in upper case ("mp4", "MP4"); a mixed-case "Mp4" or an
// unknown extension gives None.
//   Video: mp4 flv avi wmv mov mkv 3gp     Audio: mp3 aac wma ogg m4a flac wav
NoiseEngine NoiseEngineForExtension(std::string_view extension);

// The text after the last "." of the file name (not of a folder name); "" when it has none.
std::string NoiseSourceExtension(const std::string& sourcePath);

// The local time as the 14 digits "%Y%m%d%H%M%S".
std::string NoiseTimestamp(std::time_t when);

// "<file name up to its last '.'>-噪声消除-<timestamp>.<format>".
std::string NoiseOutputName(const std::string& sourcePath, const std::string& format, std::time_t when);

// folder + "/" + the name above: the designed name. Two jobs of one source in the same second
// both publish (ResultFile), the later one under "-2".
std::string NoiseOutputPath(const std::string& folder, const std::string& sourcePath,
                            const std::string& format, std::time_t when);

// What the page passes into a run.
struct NoiseRunSettings {
  std::string audioFormat = "mp3";  // the shown text of "audio-noise-format"
  std::string videoFormat = "mp4";  // the shown text of "video-noise-format"
  int policy = 2;                   // the noise level: 1, 2 or 3
  std::string outputFolder;         // empty: GetOutputFolder()
};

// Everything one job is started with.
struct NoiseRunPlan {
  NoiseEngine engine = NoiseEngine::None;
  std::string inputPath;
  std::string outputPath;
  int policy = 2;
  // NoiseAudio
  int formatType = 0;  // 0 for "mp3", 1 otherwise
  int64_t bitRate = 128000;
  // NoiseConvert
  int qualitySelector = 0;
  int fifoWidth = 1280;
  int fifoHeight = 720;
  int audioChannels = 2;
  int audioRate = 44100;
  int64_t audioBitRate = 128000;
};

// Why a finished job gave no result: its source unreadable, the reason of its failed write, or
// Failed when it named none. None for a job that succeeded.
FailureReason NoiseFailure(const NoiseDoneRecord& done);

// The plan for a source; engine None (and no output path) when the extension starts no job.
NoiseRunPlan PlanNoiseRun(const std::string& sourcePath, const NoiseRunSettings& settings, std::time_t when);

class NoiseRun;

// The running denoiser jobs of a batch front end, one per row at most, kept as NoiseRun handles
// by row id. Not thread-safe: the owner calls everything from one thread; the jobs post their
// messages to the sink from their own threads, and the owner hands WM_NOISE_DONE back to Finish.
// Destroying the table ends the running jobs: they stop early, leave nothing and post nothing
// more.
class NoiseJobTable {
 public:
  explicit NoiseJobTable(MessageSink* sink) : sink_(sink) {}
  ~NoiseJobTable();
  NoiseJobTable(const NoiseJobTable&) = delete;
  NoiseJobTable& operator=(const NoiseJobTable&) = delete;

  // Plans (with the current time, avoiding every existing file and every output of a
  // running job) and starts the run of a row. 0 when the job runs; -1 when the row already
  // has a running job, the extension starts no job, or the engine could not start (nothing
  // is kept then, so the row may be started again). plan, when given, receives the plan.
  int Run(int rowId, const std::string& sourcePath, const NoiseRunSettings& settings,
          NoiseRunPlan* plan = nullptr);
  // Starts a prepared plan for a row; results as for Run. why, when given, receives the reason
  // of a refusal.
  int Start(int rowId, const NoiseRunPlan& plan, FailureReason* why = nullptr);
  // The answer to WM_NOISE_DONE: lets the finished job go. False when no such job runs.
  bool Finish(const NoiseDoneRecord& done);
  // Ends the running job of a row early: it posts nothing more and leaves no result. Returns
  // once its threads are gone; false when the row has no running job.
  bool End(int rowId);
  // Ends every running job the same way.
  void EndAll();
  bool IsRunning(int rowId) const;
  size_t RunningAudio() const;
  size_t RunningVideo() const;

 private:
  MessageSink* sink_;
  std::map<int, std::shared_ptr<NoiseRun>> runs_;
};

}  // namespace tw
