#include "tasks/TaskRecords.h"

#include <sys/stat.h>

namespace tw {

std::string RowName(int taskId) {
  return "item-" + std::to_string(taskId);
}

FileEntry EntryForPath(const std::string& fullPath) {
  FileEntry entry;
  entry.fullPath = fullPath;
  const size_t slash = fullPath.rfind('/');
  if (slash == std::string::npos) {
    entry.fileName = fullPath;
  } else {
    entry.filePath = fullPath.substr(0, slash + 1);
    entry.fileName = fullPath.substr(slash + 1);
  }
  struct stat st {};
  if (stat(fullPath.c_str(), &st) == 0) entry.size = static_cast<std::int64_t>(st.st_size);
  return entry;
}

int TaskMap::NextTaskId() {
  std::lock_guard<std::mutex> hold(lock_);
  return nextTaskId_++;
}

int TaskMap::Add(const FileEntry& entry) {
  std::lock_guard<std::mutex> hold(lock_);
  const int id = nextTaskId_++;
  entries_[id] = entry;
  return id;
}

void TaskMap::Set(int taskId, const FileEntry& entry) {
  std::lock_guard<std::mutex> hold(lock_);
  entries_[taskId] = entry;
}

FileEntry TaskMap::Lookup(int taskId) {
  std::lock_guard<std::mutex> hold(lock_);
  return entries_[taskId];
}

bool TaskMap::Find(int taskId, FileEntry* out) const {
  std::lock_guard<std::mutex> hold(lock_);
  const auto it = entries_.find(taskId);
  if (it == entries_.end()) return false;
  if (out) *out = it->second;
  return true;
}

bool TaskMap::Contains(int taskId) const {
  return Find(taskId, nullptr);
}

void TaskMap::Remove(int taskId) {
  std::lock_guard<std::mutex> hold(lock_);
  entries_.erase(taskId);
}

std::vector<int> TaskMap::Ids() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<int> ids;
  ids.reserve(entries_.size());
  for (const auto& [id, entry] : entries_) ids.push_back(id);
  return ids;
}

size_t TaskMap::Size() const {
  std::lock_guard<std::mutex> hold(lock_);
  return entries_.size();
}

int TaskMap::PeekNextTaskId() const {
  std::lock_guard<std::mutex> hold(lock_);
  return nextTaskId_;
}

}  // namespace tw
