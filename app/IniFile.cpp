#include "app/IniFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <vector>

namespace tw {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

enum class ReadResult { Read, Missing, Failed };

// The whole file into out. Missing only when the file does not exist; any other trouble (no
// permission, too many open files, an I/O error half-way, something that is no regular file
// such as a named pipe, whose reader would wait for a writer) is Failed.
ReadResult ReadWholeFile(const std::string& path, std::string& out) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
  struct stat st {};
  bool failed = fstat(fd, &st) != 0 || !S_ISREG(st.st_mode);
  char buf[8192];
  while (!failed) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed = n < 0;
      break;
    }
    out.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return failed ? ReadResult::Failed : ReadResult::Read;
}

// The file's lines without their line ends; a leading byte-order mark is dropped.
std::vector<std::string> SplitLines(std::string text, bool* crlf) {
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::vector<std::string> lines;
  size_t start = 0;
  *crlf = false;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      *crlf = true;
    }
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// "[name]" gives name; anything else gives nothing.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return std::nullopt;
  const size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

// "key = value" gives key and value; a line without "=" gives nothing.
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(line.substr(0, eq));
  value = Trim(line.substr(eq + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return !key.empty();
}

// Values are single lines: line breaks would split them into other keys.
std::string OneLine(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

std::mutex& WriterMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

bool IniKeepsValue(std::string_view value) {
  if (value.find_first_of("\r\n") != std::string_view::npos) return false;
  if (Trim(value).size() != value.size()) return false;
  return !(value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
           value.back() == value.front());
}

std::optional<std::string> ReadIniValue(const std::string& path, std::string_view section, std::string_view key) {
  std::string text;
  if (ReadWholeFile(path, text) != ReadResult::Read) return std::nullopt;
  bool crlf = false;
  bool inSection = false;
  for (const std::string& line : SplitLines(std::move(text), &crlf)) {
    if (auto name = SectionName(line)) {
      inSection = SameName(*name, section);
      continue;
    }
    std::string_view k, v;
    if (inSection && KeyValue(line, k, v) && SameName(k, key)) return std::string(v);
  }
  return std::nullopt;
}

bool WriteIniValue(const std::string& path, std::string_view section, std::string_view key, std::string_view value) {
  std::lock_guard<std::mutex> hold(WriterMutex());
  const std::string lockPath = path + ".lock";
  const int lockFd = open(lockPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
  if (lockFd < 0) return false;
  while (flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
  }

  std::string text;
  // A file that could not be read whole is left as it is: rewriting it from what was read
  // would lose every other setting.
  if (ReadWholeFile(path, text) == ReadResult::Failed) {
    flock(lockFd, LOCK_UN);
    close(lockFd);
    return false;
  }
  const bool hadBom = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
  bool crlf = false;
  std::vector<std::string> lines = SplitLines(std::move(text), &crlf);
  const std::string entry = std::string(key) + "=" + OneLine(value);

  bool inSection = false, done = false;
  long sectionEnd = -1;  // index after the last line of the matching section
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    if (auto name = SectionName(lines[i])) {
      inSection = SameName(*name, section);
      if (inSection) sectionEnd = static_cast<long>(i) + 1;
      continue;
    }
    if (!inSection) continue;
    std::string_view k, v;
    if (KeyValue(lines[i], k, v) && SameName(k, key)) {
      lines[i] = entry;
      done = true;
    } else if (!Trim(lines[i]).empty()) {
      sectionEnd = static_cast<long>(i) + 1;
    }
  }
  if (!done) {
    if (sectionEnd >= 0) {
      lines.insert(lines.begin() + sectionEnd, entry);
    } else {
      std::string header = "[";
      header.append(section).append("]");
      lines.push_back(std::move(header));
      lines.push_back(entry);
    }
  }

  std::string out = hadBom ? "\xEF\xBB\xBF" : "";
  const char* eol = crlf ? "\r\n" : "\n";
  for (const std::string& line : lines) out += line + eol;

  const std::string temp = path + ".tmp." + std::to_string(getpid());
  bool ok = false;
  if (FILE* f = std::fopen(temp.c_str(), "wb")) {
    ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    ok = std::fflush(f) == 0 && ok;
    ok = fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(temp.c_str());
  }
  flock(lockFd, LOCK_UN);
  close(lockFd);
  return ok;
}

}  // namespace tw
