// The subcommands whose work runs inside the program instead of a transcoder child: probe
// (size and duration as the lists show them), denoise, waveform and record, each on the
// engine the pages use.
//
// Threads: planning and RunProbe on the main thread; the engines run their own threads and
// post into the runner's sink.
#pragma once

#include "cli/CliOptions.h"
#include "cli/Planner.h"
#include "cli/ProgressView.h"

namespace tw::cli {

using InProcessPlan = Plan;

// Prints "path<TAB>size<TAB>duration" per file (FormatFileSize, FormatDuration); a file a list
// would refuse is reported on standard error. Returns the exit status.
int RunProbe(const CliRequest& request, ProgressView& view);

// Jobs of denoise, waveform and record.
InProcessPlan PlanInProcessJobs(const CliRequest& request, const ContextFn& context);

}  // namespace tw::cli
