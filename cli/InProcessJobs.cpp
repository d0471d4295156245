#include "cli/InProcessJobs.h"

#include "app/MediaHelpers.h"

namespace tw::cli {

int RunProbe(const CliRequest& request, ProgressView& view) {
  int failures = 0;
  for (const std::string& file : request.files) {
    CheckedInput input = CheckInput(file, false);
    if (!input.ok) {
      view.Failed(-1, file, input.reason);
      ++failures;
      continue;
    }
    view.Succeeded(-1, input.entry.fullPath + "\t" + FormatFileSize(input.entry.size) + "\t" +
                           FormatDuration(input.entry.duration));
  }
  return failures ? kExitFailed : kExitOk;
}

InProcessPlan PlanInProcessJobs(const CliRequest& request, const ContextFn&) {
  InProcessPlan plan;
  plan.usageError = std::string(SubcommandName(request.sub)) + " is not available in this build";
  return plan;
}

}  // namespace tw::cli
