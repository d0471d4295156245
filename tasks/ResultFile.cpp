#include "tasks/ResultFile.h"

#include <glog/logging.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tw {
namespace {

bool Unchanged(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

}  // namespace

ResultFile::ResultFile(std::string path, std::vector<std::string> inputs)
    : path_(std::move(path)), inputs_(std::move(inputs)) {
  existed_ = !path_.empty() && lstat(path_.c_str(), &before_) == 0;
}

bool ResultFile::DiscardIfTouched() const {
  if (path_.empty()) return false;
  struct stat now {};
  if (lstat(path_.c_str(), &now) != 0 || !S_ISREG(now.st_mode)) return false;
  if (existed_ && Unchanged(now, before_)) return false;
  for (const std::string& input : inputs_) {
    struct stat source {};
    if (stat(input.c_str(), &source) == 0 && source.st_dev == now.st_dev && source.st_ino == now.st_ino)
      return false;
  }
  if (unlink(path_.c_str()) != 0) {
    LOG(ERROR) << "cannot remove partial output " << path_ << ": " << std::strerror(errno);
    return false;
  }
  LOG(INFO) << "removed partial output " << path_;
  return true;
}

}  // namespace tw
