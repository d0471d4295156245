#include "ui/pages/FileList.h"

#include <glog/logging.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QListWidget>
#include <QMimeData>
#include <QPointer>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <cctype>

#include "app/MediaHelpers.h"
#include "app/SettingsFile.h"
#include "tasks/Commands.h"
#include "ui/Translator.h"

namespace tw {
namespace {

constexpr const char* kAudioList =
    "*.mp3;*.aac;*.wma;*.ogg;*.m4a;*.flac;*.ape;*.wav;*.m4r;*.amr;*.mka;*.au;*.caf;*.ac3;*.mp2;*.aiff;*.voc;*"
    ".wv;"
    "*.mmf;*.aifc;*.3gpp";
constexpr const char* kVideoList =
    "*.mp4;*.flv;*.wmv;*.avi;*.mov;*.mkv;*.m4v;*.f4v;*.ts;*.mts;*.rm;*.rmvb;*.m3u8;*.webm;*.mpg;*.mpeg;*.asf;"
    "*.dat;"
    "*.3gp;*.3g2;*.vob;*ogv;*.divx;*.mxf";
constexpr const char* kMergeList = "*.mp3;*.aac;*.wma;*.ogg;*.m4a;*.flac;*.wav";
constexpr const char* kExtractList =
    "*.mp3;*.aac;*.wma;*.m4a;*.ogg;*.flac;*.wav;*.mp4;*.flv;*.wmv;*.avi;*.mov;*.mkv;*.m4v;*.f4v;*.ts;*.mts;*."
    "rm;"
    "*.rmvb;*.m3u8;*.webm;*.mpg;*.mpeg;*.asf;*.dat;*.3gp;*.3g2;*.vob;*ogv;*.divx;*.mxf";
constexpr const char* kNoiseList =
    "*.mp4;*.flv;*.wmv;*.avi;*.mov;*.mkv;*.3gp;*.mp3;*.aac;*.wma;*.ogg;*.m4a;*.flac;*.wav";
// The description keeps its missing separator between m4a and flac.
constexpr const char* kNoiseDescriptionList =
    "*.mp4;*.flv;*.wmv;*.avi;*.mov;*.mkv;*.3gp;*.mp3;*.aac;*.wma;*.ogg;*.m4a*.flac;*.wav";

// Rows are built on the window thread for at most this long before the window gets its
// events again.
constexpr qint64 kDeliverSliceMs = 12;

class DropFilter : public QObject {
 public:
  DropFilter(QListWidget* list, QString patterns, std::function<void(const QStringList&)> add)
      : QObject(list), patterns_(std::move(patterns)), add_(std::move(add)) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (Accepted(drag->mimeData()).isEmpty()) {
          drag->ignore();
        } else {
          drag->setDropAction(Qt::CopyAction);
          drag->accept();
        }
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = Accepted(drop->mimeData());
        if (paths.isEmpty()) {
          drop->ignore();
        } else {
          drop->setDropAction(Qt::CopyAction);
          drop->accept();
          add_(paths);
        }
        return true;
      }
      default:
        return QObject::eventFilter(watched, event);
    }
  }

 private:
  // The dropped local files the page's dialog would have offered; folders are not added.
  QStringList Accepted(const QMimeData* mime) const {
    QStringList paths;
    if (!mime || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls()) {
      if (!url.isLocalFile()) continue;
      const QString path = url.toLocalFile();
      const QFileInfo info(path);
      if (info.isFile() && MatchesPatterns(info.fileName(), patterns_)) paths << path;
    }
    return paths;
  }

  QString patterns_;
  std::function<void(const QStringList&)> add_;
};

}  // namespace

const FileFilter* AddFileFilter(OperationKind kind) {
  static const FileFilter convert{
      QCoreApplication::translate("FileList", "全部格式(%1;%2)").arg(kAudioList, kVideoList),
      QStringLiteral("%1;%2").arg(kAudioList, kVideoList)};
  static const FileFilter merge{QCoreApplication::translate("FileList", "音频文件(%1)").arg(kMergeList),
                                kMergeList};
  static const FileFilter audio{QCoreApplication::translate("FileList", "音频文件(%1)").arg(kAudioList),
                                kAudioList};
  static const FileFilter extract{QCoreApplication::translate("FileList", "支持格式(%1)").arg(kExtractList),
                                  kExtractList};
  static const FileFilter noise{
      QCoreApplication::translate("FileList", "音视频文件(%1)").arg(kNoiseDescriptionList), kNoiseList};
  switch (kind) {
    case OperationKind::Convert:
      return &convert;
    case OperationKind::Merge:
      return &merge;
    case OperationKind::Speed:
    case OperationKind::Volume:
    case OperationKind::BgMusic:
      return &audio;
    case OperationKind::Extract:
      return &extract;
    case OperationKind::Noise:
      return &noise;
    default:
      return nullptr;
  }
}

const char* AddButtonName(OperationKind kind) {
  switch (kind) {
    case OperationKind::Convert:
      return "add-convert-file";
    case OperationKind::Merge:
      return "add-merge-file";
    case OperationKind::Speed:
      return "add-speed-file";
    case OperationKind::Extract:
      return "add-extract-file";
    case OperationKind::Noise:
      return "add-noise-file";
    case OperationKind::Volume:
      return "add-volume-file";
    case OperationKind::BgMusic:
      return "add-bg-music-file";
    default:
      return "";
  }
}

bool MatchesPatterns(const QString& fileName, const QString& patterns) {
  for (const QString& pattern : patterns.split(QChar(';'), Qt::SkipEmptyParts)) {
    const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern.trimmed()),
                                QRegularExpression::CaseInsensitiveOption);
    if (re.match(fileName).hasMatch()) return true;
  }
  return false;
}

std::optional<FileEntry> ProbeFileEntry(const std::string& fullPath, FailureReason* why) {
  FileEntry entry = EntryForPath(fullPath);
  LOG(INFO) << "tempFile.fileName:" << entry.fileName;
  LOG(INFO) << "tempFile.filePath:" << entry.filePath;
  LOG(INFO) << "tempFile.fullPath:" << entry.fullPath;
  // Only a regular file is probed: reading a pipe or a device may wait for ever.
  const SourceCheck check = CheckSource(entry.fullPath, false);
  if (why) *why = check.reason;
  if (check.reason != FailureReason::None) {
    LOG(INFO) << "not added: " << entry.fullPath << ": " << ReasonLine(check.reason, check.detail);
    return std::nullopt;
  }
  entry.duration = check.duration;
  entry.facts = check.facts;
  return entry;
}

QString SkippedFilesText(const std::vector<SkippedFile>& skipped) {
  constexpr size_t kNamed = 8;
  QString text = QCoreApplication::translate("FileList", "以下文件未能添加:");
  for (size_t i = 0; i < skipped.size() && i < kNamed; ++i) {
    text += QStringLiteral("\n%1(%2)")
                .arg(QFileInfo(skipped[i].path).fileName(),
                     CoreText("FailureReason", ReasonText(skipped[i].reason)));
  }
  if (skipped.size() > kNamed)
    text += QCoreApplication::translate("FileList", "\n等%1个文件").arg(skipped.size());
  return text;
}

void OpenOutputFolder() {
  const std::string folder = GetOutputFolder();
  CreateFolderTree(folder);
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder))))
    LOG(ERROR) << "cannot open the output folder " << folder;
}

// ---- FileProber ---------------------------------------------------------------------------

struct FileProber::Request {
  QStringList paths;
  Deliver deliver;
  Finish finish;
  std::vector<SkippedFile> skipped;  // window thread: gathered as they are delivered
  QPointer<QObject> owner;
  bool hasOwner = false;
};

FileProber::FileProber(QObject* parent) : QObject(parent) {
  drainTimer_.setInterval(0);
  connect(&drainTimer_, &QTimer::timeout, this, [this] { Drain(); });
  worker_ = std::thread([this] { Work(); });
}

FileProber::~FileProber() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void FileProber::Add(const QStringList& paths, Deliver deliver, QObject* owner, Finish finish) {
  if (paths.isEmpty()) return;
  auto request = std::make_shared<Request>();
  request->paths = paths;
  request->deliver = std::move(deliver);
  request->finish = std::move(finish);
  request->owner = owner;
  request->hasOwner = owner != nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    waiting_.push_back(std::move(request));
    ++unfinished_;
  }
  wake_.notify_one();
}

bool FileProber::Busy() const {
  std::lock_guard<std::mutex> hold(lock_);
  return unfinished_ > 0;
}

void FileProber::Work() {
  for (;;) {
    std::shared_ptr<Request> request;
    {
      std::unique_lock<std::mutex> hold(lock_);
      wake_.wait(hold, [this] { return stopping_ || !waiting_.empty(); });
      if (stopping_) return;
      request = waiting_.front();
      waiting_.pop_front();
    }
    for (int i = 0; i <= request->paths.size(); ++i) {
      // One item per file; the last one (no entry) marks the end of the request.
      Item item{request, std::nullopt, std::nullopt, i == request->paths.size()};
      if (!item.last) {
        FailureReason why = FailureReason::None;
        item.entry = ProbeFileEntry(request->paths[i].toStdString(), &why);
        if (!item.entry) item.skip = SkippedFile{request->paths[i], why};
      }
      bool post = false;
      {
        std::lock_guard<std::mutex> hold(lock_);
        if (stopping_) return;
        ready_.push_back(std::move(item));
        post = !drainPosted_;
        drainPosted_ = true;
      }
      if (post)
        QMetaObject::invokeMethod(
            this, [this] { Drain(); }, Qt::QueuedConnection);
    }
  }
}

void FileProber::Drain() {
  QElapsedTimer slice;
  slice.start();
  for (;;) {
    Item item;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (ready_.empty()) {
        drainPosted_ = false;
        drainTimer_.stop();
        return;
      }
      if (slice.elapsed() >= kDeliverSliceMs) {
        // Give the window its events; the timer comes back for the rest.
        if (!drainTimer_.isActive()) drainTimer_.start();
        return;
      }
      item = std::move(ready_.front());
      ready_.pop_front();
      if (item.last) --unfinished_;
    }
    Request& request = *item.request;
    if (request.hasOwner && !request.owner) continue;
    if (item.entry) request.deliver(*item.entry);
    if (item.skip) request.skipped.push_back(*item.skip);
    // The prompt may open a dialog: this slice ends here, the timer brings the rest.
    if (item.last && request.finish) {
      {
        std::lock_guard<std::mutex> hold(lock_);
        if (ready_.empty()) {
          drainPosted_ = false;
          drainTimer_.stop();
        } else if (!drainTimer_.isActive()) {
          drainTimer_.start();
        }
      }
      request.finish(request.skipped);
      return;
    }
  }
}

void AcceptDroppedFiles(QListWidget* list, const QString& patterns,
                        std::function<void(const QStringList&)> add) {
  if (!list) return;
  auto* filter = new DropFilter(list, patterns, std::move(add));
  list->setAcceptDrops(true);
  list->viewport()->setAcceptDrops(true);
  list->setDragDropMode(QAbstractItemView::DropOnly);
  list->viewport()->installEventFilter(filter);
}

}  // namespace tw
