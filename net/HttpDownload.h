// The installer download: one file fetched over HTTP(S) into a folder, on a thread of its own,
// with progress. The file is written under a temporary name (".part" added) and renamed to
// its own name only when every announced byte has arrived; a cancelled, failed, short or
// oversized download leaves nothing behind. A download without an announced size is refused.
//
// Thread contract: the owner (the download dialog, window thread) constructs, calls Start once
// and Cancel at any time; the download thread posts WM_DOWNLOAD_PROGRESS (param: percent,
// each time it changes) and finally one WM_DOWNLOAD_DONE with a DownloadDoneRecord. The
// destructor cancels and joins.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "app/MessageSink.h"

namespace tw {

enum class DownloadResult { kComplete, kCancelled, kFailed };

struct DownloadDoneRecord : MessageRecord {
  DownloadResult result = DownloadResult::kFailed;
  std::string path;    // the finished file (kComplete only)
  std::string reason;  // for the log, when it failed
};

// The file name of a download address: the last segment of its path, without query and fragment
// ("https://h/tunewell.deb?x=1" gives "tunewell.deb"). Empty unless it is a plain name: letters,
// digits, ".", "_", "-", "+" and "~", not starting with "." (no "%"-escapes, no "/"). Pure.
std::string DownloadFileName(const std::string& url);
// The SHA-256 of a file as 64 lower-case hex digits; "" when it cannot be read.
std::string FileSha256(const std::string& path);
// The address that is requested: url without its fragment (a signed address keeps its query).
// Pure.
std::string DownloadRequestUrl(const std::string& url);
// Whole percent of received against expected, in single precision as the progress bar shows
// it. Pure.
int DownloadPercent(std::int64_t received, std::int64_t expected);

struct DownloadLimits {
  std::int64_t maxBytes = std::int64_t{4} << 30;  // an announced size beyond this is refused
  long connectTimeoutMs = 10000;
  long stallSeconds = 30;  // no byte for this long ends the download
  std::string caFile;      // certificate authorities to trust instead of the system's ("" for those)
  // The SHA-256 the file must have (64 hex digits); a file that differs fails and is removed.
  // "" checks nothing.
  std::string sha256;
};

class HttpDownload {
 public:
  HttpDownload(std::string url, std::string folder, MessageSink* sink, DownloadLimits limits = {});
  ~HttpDownload();
  HttpDownload(const HttpDownload&) = delete;
  HttpDownload& operator=(const HttpDownload&) = delete;

  void Start();
  // Thread-safe; the download ends soon after with kCancelled and leaves no file.
  void Cancel() { cancel_ = true; }
  bool CancelRequested() const { return cancel_.load(); }

  // Where the finished file goes (folder + "/" + DownloadFileName); empty for an unusable name.
  std::string TargetPath() const;

 private:
  void Run();
  DownloadResult Fetch(const std::string& partPath, std::string& reason);

  std::string url_;
  std::string folder_;
  MessageSink* sink_;
  DownloadLimits limits_;
  std::atomic<bool> cancel_{false};
  std::thread thread_;
};

}  // namespace tw
