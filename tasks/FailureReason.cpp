#include "tasks/FailureReason.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

#include "app/MediaHelpers.h"
#include "app/Translation.h"
#include "tasks/Commands.h"

namespace tw {
namespace {

struct ReasonWords {
  FailureReason reason;
  const char* text;     // the window's
  const char* english;  // the command line's
};

// clang-format off
constexpr ReasonWords kWords[] = {
    {FailureReason::None,              "",               ""},
    {FailureReason::Cancelled,         TW_TRANSLATE_NOOP("FailureReason", "已取消"),         "interrupted, partial output removed"},
    {FailureReason::NotStarted,        TW_TRANSLATE_NOOP("FailureReason", "未开始"),         "not started (interrupted)"},
    {FailureReason::TranscoderMissing, TW_TRANSLATE_NOOP("FailureReason", "缺少转码程序"),   "cannot start the transcoder (is ffmpeg installed?)"},
    {FailureReason::StartFailed,       TW_TRANSLATE_NOOP("FailureReason", "无法开始处理"),   "the work could not be started"},
    {FailureReason::NoSuchFile,        TW_TRANSLATE_NOOP("FailureReason", "文件不存在"),     "no such file"},
    {FailureReason::IsFolder,          TW_TRANSLATE_NOOP("FailureReason", "这是文件夹"),     "is a folder, not a file"},
    {FailureReason::NotRegularFile,    TW_TRANSLATE_NOOP("FailureReason", "不是普通文件"),   "is not a regular file (a pipe or a device cannot be read as media)"},
    {FailureReason::Inaccessible,      TW_TRANSLATE_NOOP("FailureReason", "文件无法打开"),   ""},
    {FailureReason::ProtectedFormat,   TW_TRANSLATE_NOOP("FailureReason", "受保护的格式"),   "this file type is not supported"},
    {FailureReason::Unreadable,        TW_TRANSLATE_NOOP("FailureReason", "文件无法读取"),   "not an audio or video file that can be read"},
    {FailureReason::NoDuration,        TW_TRANSLATE_NOOP("FailureReason", "没有时长"),       "not an audio or video file that can be read"},
    {FailureReason::NoSound,           TW_TRANSLATE_NOOP("FailureReason", "没有声音"),       "has no sound track"},
    {FailureReason::UnsupportedType,   TW_TRANSLATE_NOOP("FailureReason", "不支持此格式"),   "the denoiser does not take this file type"},
    {FailureReason::DiskFull,          TW_TRANSLATE_NOOP("FailureReason", "磁盘已满"),       "could not write the result (is the disk full?)"},
    {FailureReason::NameTooLong,       TW_TRANSLATE_NOOP("FailureReason", "文件名过长"),     "the result's name is too long for its file system"},
    {FailureReason::NoPermission,      TW_TRANSLATE_NOOP("FailureReason", "无法写入目录"),   "cannot write to the output folder"},
    {FailureReason::WriteFailed,       TW_TRANSLATE_NOOP("FailureReason", "无法写入结果"),   "could not write the result (is the disk full?)"},
    {FailureReason::IncompleteResult,  TW_TRANSLATE_NOOP("FailureReason", "结果不完整"),     "the result is incomplete"},
    {FailureReason::Failed,            TW_TRANSLATE_NOOP("FailureReason", "处理失败"),       "the transcoder failed"},
};
// clang-format on

const ReasonWords& WordsOf(FailureReason reason) {
  for (const ReasonWords& words : kWords)
    if (words.reason == reason) return words;
  return kWords[0];
}

}  // namespace

const char* ReasonText(FailureReason reason) { return WordsOf(reason).text; }

const char* ReasonEnglish(FailureReason reason) { return WordsOf(reason).english; }

std::string ReasonLine(FailureReason reason, const std::string& detail) {
  // The command line's English words are its own, longer than the row's; in Chinese the row's.
  const std::string english =
      InterfaceLanguage() == Language::English ? ReasonEnglish(reason) : std::string(ReasonText(reason));
  if (english.empty()) return detail;
  return detail.empty() ? english : english + detail;
}

FailureReason ReasonOfStartError(int error) {
  switch (error) {
    case ENOENT:
    case EACCES:
    case ENOEXEC:
    case ENOTDIR:
      return FailureReason::TranscoderMissing;
    default:
      return FailureReason::StartFailed;
  }
}

FailureReason ReasonOfWriteError(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return FailureReason::DiskFull;
    case ENAMETOOLONG:
      return FailureReason::NameTooLong;
    case EACCES:
    case EPERM:
    case EROFS:
      return FailureReason::NoPermission;
    default:
      return FailureReason::WriteFailed;
  }
}

FailureReason CheckResultPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  // A name longer than the folder takes is shortened when the result is published (ResultFile);
  // a path beyond PATH_MAX cannot be opened at all.
  if (path.size() >= PATH_MAX) return FailureReason::NameTooLong;
  if (access(folder.c_str(), W_OK | X_OK) != 0 && errno != ENOENT) return ReasonOfWriteError(errno);
  return FailureReason::None;
}

SourceCheck CheckSource(const std::string& path, bool needSound) {
  SourceCheck check;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    check.reason = errno == ENOENT ? FailureReason::NoSuchFile : FailureReason::Inaccessible;
    check.detail = std::strerror(errno);
    return check;
  }
  if (S_ISDIR(st.st_mode)) {
    check.reason = FailureReason::IsFolder;
    return check;
  }
  if (!S_ISREG(st.st_mode)) {
    check.reason = FailureReason::NotRegularFile;
    return check;
  }
  if (access(path.c_str(), R_OK) != 0) {
    check.reason = FailureReason::Inaccessible;
    check.detail = std::strerror(errno);
    return check;
  }
  const size_t slash = path.rfind('/');
  std::string extension = Extension(slash == std::string::npos ? path : path.substr(slash + 1));
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (IsUnsupportedExtension(extension)) {
    check.reason = FailureReason::ProtectedFormat;
    return check;
  }
  const MediaProbe probe = ProbeMedia(path);
  check.duration = probe.duration;
  check.hasSound = probe.hasSound;
  check.facts = probe.facts;
  if (probe.duration < 0) {
    check.reason = FailureReason::Unreadable;
  } else if (!(probe.duration > 0)) {
    check.reason = FailureReason::NoDuration;
  } else if (needSound && !probe.hasSound) {
    check.reason = FailureReason::NoSound;
  }
  return check;
}

}  // namespace tw
