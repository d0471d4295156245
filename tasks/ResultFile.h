// The result file of one run as it stood before the run wrote it, so that a failed or ended run
// removes only what it made or changed: never a file it did not touch, never one of its inputs,
// never anything but a regular file (a device such as /dev/full stays).
//
// Threads: a value; any thread may use its own copy.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

namespace tw {

class ResultFile {
 public:
  ResultFile() = default;
  // Notes the state of path now: call before the run starts. inputs are the run's sources.
  ResultFile(std::string path, std::vector<std::string> inputs);

  const std::string& Path() const { return path_; }
  // Removes the file when the run made or changed it. True when a file was removed.
  bool DiscardIfTouched() const;

 private:
  std::string path_;
  std::vector<std::string> inputs_;
  bool existed_ = false;
  struct stat before_ {};
};

}  // namespace tw
