// Running the built tunewell-cli from a test, as a user's shell would: an argument vector, the
// test's environment with changes, and the program's two outputs kept apart.
#pragma once

#include <string>
#include <vector>

#include "tests/support/Process.h"

namespace tw::test {

// The path of the built program.
std::string CliPath();
// Starts tunewell-cli with args; the test reads and waits on the returned process.
Process StartCli(const std::vector<std::string>& args, const SpawnOptions& options = {});
// Runs tunewell-cli with args to its end.
ProcessResult RunCli(const std::vector<std::string>& args, const SpawnOptions& options = {});

}  // namespace tw::test
