#include "tasks/ResultFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <glog/logging.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>

namespace tw {
namespace {

constexpr std::string_view kPartialPrefix = ".tw-";
constexpr std::string_view kPartialMark = ".part";
// How many numbered names Publish tries before it gives up on a folder.
constexpr int kMaxNumber = 100000;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The name's extension without its dot; "" for none (a leading dot starts no extension).
std::string ExtensionOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? "" : name.substr(dot + 1);
}

size_t NameMaxOf(const std::string& folder) {
  const long max = pathconf(folder.c_str(), _PC_NAME_MAX);
  return max > 0 ? static_cast<size_t>(max) : 255;
}

// The longest start of text of at most bytes bytes that ends at a whole UTF-8 character.
std::string_view WholeCharacters(std::string_view text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// stem cut to room bytes where it is longer: its middle goes, at whole characters, and its end
// stays (a timestamped name keeps its operation and time; a number keeps what it numbers).
std::string FitStem(std::string_view stem, size_t room) {
  if (stem.size() <= room) return std::string(stem);
  size_t tailStart = stem.size() - std::min<size_t>(32, room / 2);
  while (tailStart < stem.size() && (static_cast<unsigned char>(stem[tailStart]) & 0xC0) == 0x80) ++tailStart;
  const std::string_view tail = stem.substr(tailStart);
  return std::string(WholeCharacters(stem, room - tail.size())) + std::string(tail);
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Takes the name `to` for the file `from` unless something holds it: EEXIST then. Where the file
// system has no no-replace rename, a hard link does the same; where it has no hard links either,
// an empty file made with O_EXCL claims the name and the rename replaces only that.
int MoveNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return 0;
  }
  if (errno != EPERM && errno != ENOSYS && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EMLINK)
    return errno;
  const int claim = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (claim < 0) return errno;
  close(claim);
  if (rename(from.c_str(), to.c_str()) == 0) return 0;
  const int error = errno;
  unlink(to.c_str());
  return error;
}

}  // namespace

// 16 hex digits no other process can foresee, so that nobody can place a file or a link under a
// job's partial name before the job makes it.
static std::string UnforeseeableTag() {
  std::uint64_t bits = 0;
  if (getrandom(&bits, sizeof bits, 0) != static_cast<ssize_t>(sizeof bits)) {
    static std::atomic<std::uint64_t> next{1};
    bits = next++ ^ static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
  return text;
}

ResultFile::ResultFile(std::string resultPath) : path_(std::move(resultPath)) {
  if (path_.empty()) return;
  const std::string ext = ExtensionOf(NameOf(path_));
  std::string name = std::string(kPartialPrefix) + std::to_string(getpid()) + "-" + UnforeseeableTag() +
                     std::string(kPartialMark);
  if (!ext.empty()) name += "." + std::string(WholeCharacters(ext, 32));
  const std::string folder = FolderOf(path_);
  partial_ = (folder == "/" ? "" : folder) + "/" + name;
}

std::string ResultFile::Publish(int* error) const {
  int failure = EINVAL;
  struct stat st {};
  const bool present = !partial_.empty() && lstat(partial_.c_str(), &st) == 0;
  if (!partial_.empty() && (!present || !S_ISREG(st.st_mode))) {
    // Only the file the job wrote is published; anything else in its place is left alone.
    failure = present ? EPERM : errno;
    LOG(ERROR) << "not publishing " << partial_ << ": not the regular file the job wrote";
  } else if (!partial_.empty()) {
    const size_t nameMax = NameMaxOf(FolderOf(path_));
    for (int n = 1; n <= kMaxNumber; ++n) {
      const std::string candidate = NumberedResultPath(path_, n, nameMax);
      failure = MoveNoReplace(partial_, candidate);
      if (failure == 0) {
        LOG(INFO) << "published " << candidate;
        return candidate;
      }
      if (failure != EEXIST) break;
    }
    LOG(ERROR) << "cannot publish " << partial_ << " as " << path_ << ": " << std::strerror(failure);
    Discard();
  }
  if (error) *error = failure;
  return "";
}

bool ResultFile::Discard() const {
  if (partial_.empty()) return false;
  struct stat st {};
  if (lstat(partial_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (unlink(partial_.c_str()) != 0) {
    LOG(ERROR) << "cannot remove partial output " << partial_ << ": " << std::strerror(errno);
    return false;
  }
  LOG(INFO) << "removed partial output " << partial_;
  return true;
}

std::string ClaimResultName(const std::string& resultPath, int* error) {
  const size_t nameMax = NameMaxOf(FolderOf(resultPath));
  int failure = EINVAL;
  for (int n = 1; n <= kMaxNumber && !resultPath.empty(); ++n) {
    const std::string candidate = NumberedResultPath(resultPath, n, nameMax);
    const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      close(fd);
      return candidate;
    }
    failure = errno;
    if (failure != EEXIST) break;
  }
  if (error) *error = failure;
  return "";
}

std::string NumberedResultPath(const std::string& resultPath, int n, size_t nameMax) {
  const size_t slash = resultPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : resultPath.substr(0, slash + 1);
  const std::string name = NameOf(resultPath);
  if (n <= 1 && name.size() <= nameMax) return resultPath;
  const std::string ext = ExtensionOf(name);
  const std::string stem = ext.empty() ? name : name.substr(0, name.size() - ext.size() - 1);
  const std::string tail = (n <= 1 ? "" : "-" + std::to_string(n)) + (ext.empty() ? "" : "." + ext);
  const size_t room = nameMax > tail.size() ? nameMax - tail.size() : 0;
  return folder + FitStem(stem, room) + tail;
}

bool IsPartialName(std::string_view name, pid_t* pid) {
  if (name.substr(0, kPartialPrefix.size()) != kPartialPrefix) return false;
  name.remove_prefix(kPartialPrefix.size());
  const size_t dash = name.find('-');
  const size_t mark = name.find(kPartialMark);
  if (dash == std::string_view::npos || mark == std::string_view::npos || mark < dash) return false;
  const std::string_view pidText = name.substr(0, dash);
  const std::string_view tag = name.substr(dash + 1, mark - dash - 1);
  if (!AllDigits(pidText) || pidText.size() > 9 || tag.empty() ||
      tag.find_first_not_of("0123456789abcdef") != std::string_view::npos)
    return false;
  const std::string_view rest = name.substr(mark + kPartialMark.size());
  if (!rest.empty() && rest[0] != '.') return false;
  if (pid) *pid = static_cast<pid_t>(std::stol(std::string(pidText)));
  return true;
}

int RemoveStalePartials(const std::string& folder, std::chrono::seconds minAge) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return 0;
  int removed = 0;
  const auto now = std::chrono::system_clock::now();
  while (const dirent* entry = readdir(dir)) {
    pid_t pid = 0;
    if (!IsPartialName(entry->d_name, &pid)) continue;
    // A process that still runs (or that we may not signal) may be writing it.
    if (pid > 0 && (kill(pid, 0) == 0 || errno == EPERM)) continue;
    struct stat st {};
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    const auto changed = std::chrono::system_clock::time_point(std::chrono::seconds(st.st_mtime));
    if (now - changed < minAge) continue;
    if (unlinkat(dirfd(dir), entry->d_name, 0) == 0) {
      LOG(INFO) << "removed the partial result of an ended run: " << folder << "/" << entry->d_name;
      ++removed;
    }
  }
  closedir(dir);
  return removed;
}

}  // namespace tw
