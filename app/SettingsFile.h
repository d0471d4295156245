// The user's saved choices: configure.ini in the configuration folder, section "global".
// There is no cached copy: every read goes to the file, every write reaches it at once,
// so a change made anywhere is seen by the next reader. Safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace tw {

// Section and keys.
inline constexpr const char* kSettingsSection = "global";
inline constexpr const char* kKeyOutputDir = "output-dir";
inline constexpr const char* kKeyAudioQuality = "audio-quality";
inline constexpr const char* kKeyWindowClose = "window-close";
inline constexpr const char* kKeyVoiceSource = "voice-source";
inline constexpr const char* kKeyAgcCheck = "agc-check";
inline constexpr const char* kKeyNoiseCheck = "noise-check";
inline constexpr const char* kKeyAudioMuteCheck = "audio-mute-check";
inline constexpr const char* kKeyVoiceSize = "voice-size";
inline constexpr const char* kKeyMicVolumeSize = "mic-volume-size";
inline constexpr const char* kKeySysVolumeSize = "sys-volume-size";
inline constexpr const char* kKeyUserManual = "user-manual";
inline constexpr const char* kKeyUserRealIp = "user-real-ip";
inline constexpr const char* kKeyParallelJobs = "parallel-jobs";
// "auto", "zh_CN" or "en"; read once at start (app/Translation.h).
inline constexpr const char* kKeyLanguage = "language";

class SettingsFile {
 public:
  // The process-wide accessor. Makes the configuration folder again on every call, so a
  // folder removed while the program runs comes back at the next access.
  static SettingsFile& Instance();

  // The stored value read as a decimal integer (leading digits; none gives 0), or
  // defaultValue when the key is missing.
  int GetInt(std::string_view section, std::string_view key, int defaultValue) const;
  // The value, or defaultValue when the key is missing, cut to capacity - 1 bytes (never
  // inside a UTF-8 character). True when at least one character was copied.
  bool GetString(std::string_view section, std::string_view key, std::string_view defaultValue, std::string& out,
                 size_t capacity = 260) const;
  // Convenience: the value or the default, uncut.
  std::string GetString(std::string_view section, std::string_view key, std::string_view defaultValue = "") const;
  // Creates file, section or key as needed. False when the file cannot be written.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value) const;
  bool WriteInt(std::string_view section, std::string_view key, int value) const {
    return WriteString(section, key, std::to_string(value));
  }

  const std::string& Path() const { return path_; }

 private:
  explicit SettingsFile(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

// Local application data ($XDG_DATA_HOME, default ~/.local/share) + "/" + subPath, made
// with CreateFolderTree first. subPath may hold several levels ("Tunewell/Config").
std::string GetLocalAppFolder(const std::string& subPath);

// Makes every missing folder of path. Failures only print "create dir error ..." lines.
void CreateFolderTree(const std::string& path);

// The output folder, made if missing: "output-dir" when set, otherwise the XDG documents
// folder + "/Tunewell" (the documents folder made too where a fresh account has none).
std::string GetOutputFolder();

// How many queued jobs the window runs at once: "parallel-jobs", default 1, kept within 1 and
// MaxParallelJobs().
int ParallelJobs();
// The number of cores (at least 1): the most "parallel-jobs" offers.
int MaxParallelJobs();

// The user's XDG documents folder (~/.config/user-dirs.dirs, by default ~/Documents).
std::string DocumentsFolder();

}  // namespace tw
