// Turns a parsed command line into jobs: checks each file the way a page list does before it
// accepts it (plus the checks a page makes when its button is pressed), and wires each job to
// the operation's command builder. No work starts here.
//
// Threads: main thread only.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/Job.h"
#include "tasks/TaskRecords.h"

namespace tw::cli {

struct Plan {
  std::string usageError;  // set: nothing runs, exit status 2
  std::vector<std::unique_ptr<Job>> jobs;
  // Files refused before running: (the file as given, why). Each counts as a failure.
  std::vector<std::pair<std::string, std::string>> rejected;
};

// A file as a page list files it: absolute path, name, folder, size and probed duration.
// ok false with the reason when the list would not take it. needSound also requires a sound
// track (every job but probe and waveform writes sound).
struct CheckedInput {
  bool ok = false;
  std::string reason;
  FileEntry entry;
};
CheckedInput CheckInput(const std::string& pathAsGiven, bool needSound);
// CheckInput of every file, probed on as many threads as there are cores; results in the
// order of files.
std::vector<CheckedInput> CheckInputs(const std::vector<std::string>& files, bool needSound);

// The context of every run: the settings' output folder, or outputDir when given (made if
// missing), the transcoder, a fresh timestamp and the bit rate of "audio-quality".
ContextFn MakeContextFn(const std::string& outputDir);

// "" when the folder can be made and written, otherwise why not.
std::string CheckOutputFolder(const std::string& folder);

// The preset text of a speed factor ("0.5" ... "2.0") or the slider's "%.2f" text.
std::string SpeedText(double factor);

// Jobs of the transcoder subcommands (convert, merge, speed, extract, volume, bgmusic, cut).
Plan PlanTranscoderJobs(const CliRequest& request, const ContextFn& context);

}  // namespace tw::cli
