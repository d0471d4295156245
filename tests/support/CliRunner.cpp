#include "tests/support/CliRunner.h"

#ifndef TW_CLI_PATH
#define TW_CLI_PATH TW_BINARY_DIR "/tunewell-cli"
#endif

namespace tw::test {

std::string CliPath() {
  return TW_CLI_PATH;
}

Process StartCli(const std::vector<std::string>& args, const SpawnOptions& options) {
  std::vector<std::string> argv{CliPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return Process(argv, options);
}

ProcessResult RunCli(const std::vector<std::string>& args, const SpawnOptions& options) {
  return StartCli(args, options).Finish();
}

}  // namespace tw::test
