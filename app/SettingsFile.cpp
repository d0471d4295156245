#include "app/SettingsFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "app/IniFile.h"
#include "app/MediaHelpers.h"

namespace tw {
namespace {

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  return home && *home ? home : "/tmp";
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Reads XDG_<NAME>_DIR from user-dirs.dirs: "$HOME/..." or an absolute path.
std::string UserDir(const char* name, const char* fallback) {
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  const std::string config = configHome && *configHome ? configHome : HomeFolder() + "/.config";
  std::ifstream in(config + "/user-dirs.dirs");
  const std::string wanted = std::string("XDG_") + name + "_DIR=";
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(wanted, 0) != 0) continue;
    std::string value = line.substr(wanted.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = HomeFolder() + value.substr(5);
    if (!value.empty() && value.front() == '/') return value;
  }
  return HomeFolder() + "/" + fallback;
}

std::mutex& InstanceMutex() {
  static std::mutex m;
  return m;
}

// Cuts text to at most maxBytes bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  size_t n = maxBytes;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return std::string(text.substr(0, n));
}

}  // namespace

void CreateFolderTree(const std::string& path) {
  const auto parts = SplitText(path, "/");
  std::string current = path.empty() || path.front() != '/' ? "" : "/";
  for (size_t i = 0; i < parts.size(); ++i) {
    current += parts[i];
    if (!IsFolder(current) && mkdir(current.c_str(), 0755) != 0 && errno != EEXIST) {
      std::printf("%s%s\n", i + 1 < parts.size() ? "create dir error fullPath: " : "create dir error curPath: ",
                  current.c_str());
    }
    current += "/";
  }
}

std::string GetLocalAppFolder(const std::string& subPath) {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  std::string base = dataHome && *dataHome && dataHome[0] == '/' ? dataHome : HomeFolder() + "/.local/share";
  const std::string folder = base + "/" + subPath;
  CreateFolderTree(folder);
  return folder;
}

SettingsFile& SettingsFile::Instance() {
  static std::unique_ptr<SettingsFile> instance;
  const std::string path = GetLocalAppFolder("Tunewell/Config") + "/configure.ini";
  std::lock_guard<std::mutex> hold(InstanceMutex());
  if (!instance) instance.reset(new SettingsFile(path));
  return *instance;
}

int SettingsFile::GetInt(std::string_view section, std::string_view key, int defaultValue) const {
  const auto value = ReadIniValue(path_, section, key);
  if (!value) return defaultValue;
  return static_cast<int>(LeadingInt(*value));
}

bool SettingsFile::GetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                             std::string& out, size_t capacity) const {
  const auto value = ReadIniValue(path_, section, key);
  out = capacity == 0 ? std::string() : CutUtf8(value ? std::string_view(*value) : defaultValue, capacity - 1);
  return !out.empty();
}

std::string SettingsFile::GetString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  const auto value = ReadIniValue(path_, section, key);
  return value ? *value : std::string(defaultValue);
}

bool SettingsFile::WriteString(std::string_view section, std::string_view key, std::string_view value) const {
  return WriteIniValue(path_, section, key, value);
}

std::string DocumentsFolder() { return UserDir("DOCUMENTS", "Documents"); }

std::string GetOutputFolder() {
  std::string folder;
  SettingsFile::Instance().GetString(kSettingsSection, kKeyOutputDir, "", folder, 260);
  while (!folder.empty() && (folder.back() == ' ' || folder.back() == '\t' || folder.back() == '\r' ||
                             folder.back() == '\n')) {
    folder.pop_back();
  }
  // The documents folder is made where a fresh account has none yet.
  if (folder.empty()) folder = DocumentsFolder() + "/Tunewell";
  CreateFolderTree(folder);
  return folder;
}

int MaxParallelJobs() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

int ParallelJobs() {
  const int stored = SettingsFile::Instance().GetInt(kSettingsSection, kKeyParallelJobs, 1);
  return std::clamp(stored, 1, MaxParallelJobs());
}

}  // namespace tw
