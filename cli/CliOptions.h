// The command line of tunewell-cli: which subcommand, its options and its files. Parsing is
// pure (no file system, no settings), so every usage error is found before anything runs.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tw::cli {

// Exit statuses of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

enum class Subcommand {
  None,
  Convert,
  Merge,
  Speed,
  Extract,
  Volume,
  BgMusic,
  Cut,
  Denoise,
  Waveform,
  Probe,
  Record
};

// The subcommand's name as typed ("convert", "bgmusic", ...), "" for None.
const char* SubcommandName(Subcommand sub);
std::optional<Subcommand> SubcommandByName(const std::string& name);

struct CliRequest {
  Subcommand sub = Subcommand::None;
  bool help = false;
  bool version = false;  // "tunewell-cli --version"
  bool formats = false;  // "tunewell-cli --formats": the formats convert can write, one a line
  // Option name without its dashes -> value ("" for flags). Only the options the subcommand
  // takes appear, each at most once.
  std::map<std::string, std::string> options;
  std::vector<std::string> files;  // in the order given
  int jobs = 0;                    // --jobs; 0 means the number of cores
  std::string outputDir;           // --output-dir; "" means the settings' folder

  bool Has(const std::string& name) const { return options.count(name) != 0; }
  std::string Get(const std::string& name, const std::string& fallback = "") const;
};

struct ParseResult {
  bool ok = false;
  std::string error;  // one line, without the program name
  CliRequest request;
};

// args are the words after the program name. Accepts "--name value" and "--name=value";
// "--" ends the options. Checks that required options and files are present and that
// numbers and choices are well formed; the files themselves are not looked at.
ParseResult ParseArguments(const std::vector<std::string>& args);

// The help text of a subcommand (None: the overview of all of them).
std::string HelpText(Subcommand sub);

}  // namespace tw::cli
