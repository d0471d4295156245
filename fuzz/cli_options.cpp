// tunewell-cli's command line: the words after the program name, split at zero bytes. Parsing
// either succeeds with a request that names its subcommand and only options it takes, or gives
// a one-line error; a parsed transcoder request then becomes its jobs (the files, which do not
// exist here, are refused one by one), so every option value reaches the code that reads it.
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/Planner.h"
#include "fuzz/FuzzSupport.h"

TW_FUZZ_TARGET(data, size) {
  std::vector<std::string> args;
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(word);
      word.clear();
    } else {
      word.push_back(static_cast<char>(data[i]));
    }
  }
  if (!word.empty()) args.push_back(word);
  if (args.size() > 64) return 0;
  // Files are names in the scratch folder, which stays empty: nothing outside is probed.
  const std::string folder = tw::fuzz::ScratchDir();

  const tw::cli::ParseResult result = tw::cli::ParseArguments(args);
  if (!result.ok) {
    FUZZ_CHECK(!result.error.empty());
    FUZZ_CHECK(result.error.find('\n') == std::string::npos);
    return 0;
  }
  const tw::cli::CliRequest& request = result.request;
  (void)tw::cli::HelpText(request.sub);
  if (request.help || request.version || request.formats) return 0;
  FUZZ_CHECK(request.sub != tw::cli::Subcommand::None);
  FUZZ_CHECK(request.jobs >= 0);
  for (const std::string& file : request.files) (void)file;

  tw::cli::CliRequest planned = request;
  for (std::string& file : planned.files) file = folder + "/missing-" + std::to_string(file.size());
  const tw::cli::ContextFn context = [] { return tw::CommandContext{}; };
  const tw::cli::Plan plan = tw::cli::PlanTranscoderJobs(planned, context);
  if (plan.usageError.empty())
    FUZZ_CHECK(plan.jobs.size() + plan.rejected.size() >= 1 || planned.files.empty());
  return 0;
}
