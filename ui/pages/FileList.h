// The list behaviour the file pages share apart from the rows themselves: the open-file
// filter of each page, the probe of chosen files off the window thread, dropping files from
// the file manager, and opening the output folder.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "tasks/FailureReason.h"
#include "tasks/OperationKind.h"
#include "tasks/TaskRecords.h"
#include "ui/FileChooser.h"

class QListWidget;

namespace tw {

// The open-file filter of a page's add button (and of "add-bg-music-btn" for BgMusic); null
// for a page that adds no files (cut results, recordings).
const FileFilter* AddFileFilter(OperationKind kind);

// The page's add button ("add-convert-file" ...); "" for a page that adds no files.
const char* AddButtonName(OperationKind kind);

// True when the file name matches one of the ";"-separated patterns, as the open-file dialog
// selects: wildcards, any letter case ("*ogv" matches "clip.ogv").
bool MatchesPatterns(const QString& fileName, const QString& patterns);

// The entry of a chosen file, or nothing when it never enters a list: unhandled extensions
// (ncm, mgg, mflac, kgm, kgma), what is not a regular file, files the media library cannot
// open, a duration of 0; why then receives the reason. Logs the three names of the entry. Any
// thread.
std::optional<FileEntry> ProbeFileEntry(const std::string& fullPath, FailureReason* why = nullptr);

// A chosen file that did not enter its list, and why.
struct SkippedFile {
  QString path;
  FailureReason reason = FailureReason::None;
};
// The prompt that names skipped files and why, one a line (the first ones, then how many more).
QString SkippedFilesText(const std::vector<SkippedFile>& skipped);

// Opens the output folder in the desktop's file browser (creating it first when missing).
void OpenOutputFolder();

// Probes chosen files on one worker thread and hands the accepted entries back to the window
// thread in the order they were chosen, in slices short enough to keep the window answering;
// after the last one, the files that were not taken, with their reasons.
// Requests are served first come, first served, so each request's rows take consecutive ids
// unless another page adds a row while it is being delivered.
// Threads: owned by the main window (window thread); the constructor starts the worker, the
// destructor sets the stop flag, wakes it and joins it; nothing is delivered after that.
class FileProber : public QObject {
 public:
  using Deliver = std::function<void(const FileEntry& entry)>;
  using Finish = std::function<void(const std::vector<SkippedFile>& skipped)>;

  explicit FileProber(QObject* parent = nullptr);
  ~FileProber() override;

  // Window thread. deliver runs on the window thread once per accepted file, in path order;
  // finish, when given, once after the last with the files not taken (possibly none). owner,
  // when given, cancels the delivery when it is destroyed.
  void Add(const QStringList& paths, Deliver deliver, QObject* owner = nullptr, Finish finish = nullptr);
  // True while files of a request are still probed or waiting for delivery.
  bool Busy() const;

 private:
  struct Request;
  void Work();
  void Drain();

  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Request>> waiting_;  // to probe, oldest first
  struct Item {
    std::shared_ptr<Request> request;
    std::optional<FileEntry> entry;   // an accepted file
    std::optional<SkippedFile> skip;  // a refused one
    bool last = false;                // the end of the request
  };
  std::deque<Item> ready_;
  int unfinished_ = 0;  // requests not yet fully delivered
  bool stopping_ = false;
  bool drainPosted_ = false;
  QTimer drainTimer_;
  std::thread worker_;
};

// Makes list accept local files dropped from the file manager; the ones matching patterns
// go to add, in the order they were dropped. The filter belongs to list.
void AcceptDroppedFiles(QListWidget* list, const QString& patterns,
                        std::function<void(const QStringList&)> add);

}  // namespace tw
