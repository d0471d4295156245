// The per-row file record of every page and the map that files them by task id. The map is
// shared by all pages and by the convert worker: its own lock makes every call safe from any
// thread (the window thread adds and removes rows, ConvertWorker copies one entry per start).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/MediaHelpers.h"

namespace tw {

// Reserved task id of the merge page, whose progress belongs to the page, not to a row.
inline constexpr int kMergeTaskId = -1;

// One row of a page list. Texts are UTF-8; folders use "/".
struct FileEntry {
  std::string fileName;   // name with extension, no folder
  std::string filePath;   // folder; ends with "/" for files added by a page's file dialog
  std::string fullPath;   // folder, one "/", fileName
  std::int64_t size = 0;  // bytes, read when the file is added
  double duration = 0;    // seconds (ProbeDuration); > 0 for an accepted file
  MediaFacts facts;       // from the same probe: what its results must keep
  // Cut entries only: the chosen stretch in seconds and the file it is cut from.
  double cutStart = 0;
  double cutEnd = 0;
  std::string sourcePath;
  bool exported = false;  // cut entries: fullPath names the file this entry's export published
};

// The row name of a task: "item-%d".
std::string RowName(int taskId);

// A FileEntry for a file on disk: name, folder (with its trailing "/"), full path and size
// filled in; duration left 0 for the caller (who probes it).
FileEntry EntryForPath(const std::string& fullPath);

// Ordered map task id -> FileEntry plus the id counter nextTaskId. Ids start at 0, increase by
// one per added row across all pages, and are never reused.
class TaskMap {
 public:
  // Takes the current nextTaskId for a new row and increments the counter.
  int NextTaskId();
  // Files the entry under a fresh id and returns the id.
  int Add(const FileEntry& entry);
  // Files (or replaces) the entry under an id taken earlier with NextTaskId.
  void Set(int taskId, const FileEntry& entry);
  // A copy of the entry; an id not in the map gets an empty entry inserted under it.
  FileEntry Lookup(int taskId);
  // A copy of the entry without inserting; false when the id is not filed.
  bool Find(int taskId, FileEntry* out) const;
  bool Contains(int taskId) const;
  void Remove(int taskId);
  // Every filed id in increasing order.
  std::vector<int> Ids() const;
  size_t Size() const;
  // The counter's current value (the id the next row will get).
  int PeekNextTaskId() const;

 private:
  mutable std::mutex lock_;
  std::map<int, FileEntry> entries_;
  int nextTaskId_ = 0;
};

}  // namespace tw
