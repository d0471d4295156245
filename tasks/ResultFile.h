// The one way a result gets its name. A job writes under a partial name beside its result (hidden,
// short whatever the result's name, with the result's extension so that a muxer chosen by name
// still fits) and publishes it when it completed: the partial file takes the result's name, or
// the next free "-2", "-3" ... at that moment, without ever replacing a file, whoever took the
// name meanwhile (another job of this program, another program). A job that fails or is ended
// removes its partial file; one killed leaves at most that file, which RemoveStalePartials takes
// away at a later start once no process holds it. A recording, which must survive a crash, instead
// claims its name when it starts (ClaimResultName).
//
// Threads: a value; any thread may use its own copy. Publish and Discard are safe against other
// threads and processes publishing into the same folder.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>

namespace tw {

class ResultFile {
 public:
  ResultFile() = default;
  // resultPath: the name the result is designed to carry. Chooses a fresh partial name beside it;
  // nothing is created yet. An empty path makes an empty ResultFile.
  explicit ResultFile(std::string resultPath);

  const std::string& Path() const { return path_; }
  // Where the job writes: folder/".tw-<pid>-<16 random hex digits>.part.<ext>".
  const std::string& PartialPath() const { return partial_; }

  // Gives the partial file its final name: Path() when free, else the first free numbered name
  // (the name's stem shortened, at a whole character, where the number would make it longer than
  // the file system takes). Returns the name taken; "" when the partial file could not be
  // published (errno-style code in *error; the partial file is then removed).
  std::string Publish(int* error = nullptr) const;
  // Removes the partial file. True when there was one.
  bool Discard() const;

 private:
  std::string path_;
  std::string partial_;
};

// For a result that must stay readable while it grows, so that a crash cannot take it (a
// recording): creates it empty under resultPath, or the first free numbered name, at once and
// without replacing a file. Returns the name taken; "" when none could be created (errno-style
// code in *error).
std::string ClaimResultName(const std::string& resultPath, int* error = nullptr);

// folder/stem.ext for n <= 1, else folder/stem-n.ext, with the stem cut back at a whole UTF-8
// character so that the name fits in nameMax bytes. ext may be empty (then no dot).
std::string NumberedResultPath(const std::string& resultPath, int n, size_t nameMax = 255);

// True for a partial name this program makes; *pid receives the process that made it.
bool IsPartialName(std::string_view name, pid_t* pid = nullptr);

// Removes from folder the partial files whose process is gone and that were last changed at
// least minAge ago. Returns how many were removed.
int RemoveStalePartials(const std::string& folder, std::chrono::seconds minAge = std::chrono::minutes(10));

}  // namespace tw
