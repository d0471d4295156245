// Why a file job did not give its result, or why a file was not taken, as one code with the
// words each front end shows: the window's short Chinese text (kept in this one table, so that a
// translation layer can wrap it) and the command line's English. The codes come from what a run
// reports (the transcoder's own messages, its exit), the errno of a start or a write, and the
// checks of a source or a result name.
//
// Threads: pure functions and file-system checks; any thread.
#pragma once

#include <string>

#include "app/MediaHelpers.h"

namespace tw {

enum class FailureReason {
  None,
  Cancelled,          // ended by its owner (the row's cancel, the window's close, an interrupt)
  NotStarted,         // never started: the batch was interrupted first
  TranscoderMissing,  // the transcoder program cannot be started
  StartFailed,        // the work could not be started for another reason
  NoSuchFile,         // the source is gone
  IsFolder,           // the source is a folder
  NotRegularFile,     // a named pipe or a device
  Inaccessible,       // the source cannot be opened (permissions, ...): the detail says why
  ProtectedFormat,    // ncm, mgg, mflac, kgm, kgma
  Unreadable,         // not an audio or video file that can be read
  NoDuration,         // readable, but of no length
  NoSound,            // no sound track
  UnsupportedType,    // the denoiser takes no file of this extension
  DiskFull,           // no space left for the result
  NameTooLong,        // the result's name is too long for its file system
  NoPermission,       // the output folder cannot be written
  WriteFailed,        // the result could not be written for another reason
  IncompleteResult,   // success was reported, but the result is missing or cut short
  Failed,             // the work failed for a reason it did not name
};

// The row's words ("已取消", "磁盘已满", ...); "" for None.
const char* ReasonText(FailureReason reason);
// The command line's words ("no such file", ...). Inaccessible has none of its own: its detail is
// the message. "" for None.
const char* ReasonEnglish(FailureReason reason);
// The command line's one line for a reason with an optional detail (a system message, a figure).
std::string ReasonLine(FailureReason reason, const std::string& detail = "");

// The reason of a failed start of a program (the errno posix_spawn gave).
FailureReason ReasonOfStartError(int error);
// The reason of a failed write of a result (an errno).
FailureReason ReasonOfWriteError(int error);

// Checks the place of a result before anything is written there: a path too long to open
// (NameTooLong), a folder that cannot be written (NoPermission). None when fine.
FailureReason CheckResultPath(const std::string& path);

// What a list or the command line learns about a source before taking it: the reason it is
// refused (None when taken), a system message for Inaccessible, and what the probe found.
struct SourceCheck {
  FailureReason reason = FailureReason::None;
  std::string detail;
  double duration = -1;
  bool hasSound = false;
  MediaFacts facts;  // of a probed file
};
// needSound refuses a source without a sound track too. Only a regular file is probed.
SourceCheck CheckSource(const std::string& path, bool needSound);

}  // namespace tw
