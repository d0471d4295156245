#include "ui/FileOpener.h"

#include <glog/logging.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMimeData>
#include <QPointer>
#include <QUrl>
#include <algorithm>

#include "ui/CMainWnd.h"
#include "ui/dialogs/PromptBoxDialog.h"
#include "ui/pages/ConvertPage.h"
#include "ui/pages/CutPage.h"
#include "ui/pages/FileList.h"

namespace tw {
namespace {

// The prompt names this many files; the rest are counted.
constexpr int kListedRefusals = 8;
constexpr int kNameWidthPx = 360;

const char* ReasonText(OpenRefusal reason) {
  switch (reason) {
    case OpenRefusal::Missing:
      return QT_TRANSLATE_NOOP("FileOpener", "文件不存在");
    case OpenRefusal::Folder:
      return QT_TRANSLATE_NOOP("FileOpener", "是文件夹");
    case OpenRefusal::Unreadable:
      return QT_TRANSLATE_NOOP("FileOpener", "无法读取");
    case OpenRefusal::NotMedia:
      return QT_TRANSLATE_NOOP("FileOpener", "不是音频或视频文件");
    case OpenRefusal::None:
      break;
  }
  return "";
}

const char* ReasonLog(OpenRefusal reason) {
  switch (reason) {
    case OpenRefusal::Missing:
      return "does not exist";
    case OpenRefusal::Folder:
      return "is a folder";
    case OpenRefusal::Unreadable:
      return "cannot be read";
    case OpenRefusal::NotMedia:
      return "is not an audio or video file";
    case OpenRefusal::None:
      break;
  }
  return "";
}

void ShowRefusals(CMainWnd& window, const OpenRefusals& refused) {
  if (refused.empty()) return;
  for (const auto& [path, reason] : refused)
    LOG(INFO) << "not opened: " << path.toStdString() << " " << ReasonLog(reason);
  const QString text = RefusalText(refused);
  const QFontMetrics metrics(QApplication::font());
  int width = 0;
  const QStringList lines = text.split('\n');
  for (const QString& line : lines) width = std::max(width, metrics.horizontalAdvance(line));
  PromptBoxDialog::Show(&window, text, std::clamp(width + 60, 240, kNameWidthPx + 160),
                        90 + static_cast<int>(lines.size()) * (metrics.height() + 2));
}

// Opens what the checks let through; the refusals so far come along to be shown once, with
// those of the probe, in the order the files were given.
void OpenChecked(CMainWnd& window, const QStringList& paths, const QStringList& usable,
                 OpenRefusals refused) {
  auto inGivenOrder = [paths](OpenRefusals list) {
    std::stable_sort(list.begin(), list.end(), [&paths](const auto& a, const auto& b) {
      return paths.indexOf(a.first) < paths.indexOf(b.first);
    });
    return list;
  };
  PageContext& ctx = window.Context();
  if (usable.size() == 1) {
    if (!ProbeFileEntry(usable.first().toStdString())) {
      refused.emplace_back(usable.first(), OpenRefusal::NotMedia);
    } else if (CutPage* cut = window.Cut()) {
      LOG(INFO) << "opening on the cut page: " << usable.first().toStdString();
      if (ctx.selectPage) ctx.selectPage(CutPage::kOptionName);
      cut->LoadFile(usable.first());
    }
    ShowRefusals(window, inGivenOrder(refused));
    return;
  }
  ConvertPage* convert = window.Convert();
  if (usable.isEmpty() || !convert) {
    ShowRefusals(window, inGivenOrder(refused));
    return;
  }
  LOG(INFO) << "opening " << usable.size() << " files on the convert page";
  if (ctx.selectPage) ctx.selectPage(ConvertPage::kOptionName);
  QPointer<CMainWnd> guard(&window);
  convert->AddFiles(usable, [guard, refused, inGivenOrder](const std::vector<SkippedFile>& skipped) mutable {
    for (const SkippedFile& file : skipped) refused.emplace_back(file.path, OpenRefusal::NotMedia);
    if (guard) ShowRefusals(*guard, inGivenOrder(refused));
  });
}

void OpenNow(CMainWnd& window, const QStringList& paths) {
  window.CompletePages();
  QStringList usable;
  OpenRefusals refused;
  for (const QString& path : paths) {
    const OpenRefusal reason = CheckOpenable(path);
    if (reason == OpenRefusal::None)
      usable << path;
    else
      refused.emplace_back(path, reason);
  }
  OpenChecked(window, paths, usable, std::move(refused));
}

class WindowDropFilter : public QObject {
 public:
  explicit WindowDropFilter(CMainWnd& window) : QObject(&window), window_(window) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != &window_) return false;
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (LocalFiles(drag->mimeData()).isEmpty() || OverDropTarget(drag->position().toPoint()))
          return false;
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = LocalFiles(drop->mimeData());
        if (paths.isEmpty() || OverDropTarget(drop->position().toPoint())) return false;
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        OpenFilesInWindow(window_, paths);
        return true;
      }
      default:
        return false;
    }
  }

 private:
  // Folders among them are refused with the others, so the user learns why nothing opened.
  static QStringList LocalFiles(const QMimeData* mime) {
    QStringList paths;
    if (!mime || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls())
      if (url.isLocalFile()) paths << url.toLocalFile();
    return paths;
  }

  // A list or the waveform takes its own drops; what it refuses reaches the window but is not
  // the window's to open.
  bool OverDropTarget(const QPoint& pos) const {
    for (QWidget* w = window_.childAt(pos); w && w != &window_; w = w->parentWidget())
      if (w->acceptDrops()) return true;
    return false;
  }

  CMainWnd& window_;
};

}  // namespace

OpenRefusal CheckOpenable(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists()) return OpenRefusal::Missing;
  if (info.isDir()) return OpenRefusal::Folder;
  if (!info.isReadable()) return OpenRefusal::Unreadable;
  return OpenRefusal::None;
}

QString RefusalText(const OpenRefusals& refused) {
  if (refused.empty()) return {};
  // The first line holds no markup, so the label never takes a file name for rich text.
  QString text = QCoreApplication::translate("FileOpener", "以下文件无法打开:");
  const QFontMetrics metrics(QApplication::font());
  const int listed = std::min(static_cast<int>(refused.size()), kListedRefusals);
  for (int i = 0; i < listed; ++i) {
    const auto& [path, reason] = refused[static_cast<size_t>(i)];
    const QString name = metrics.elidedText(QFileInfo(path).fileName(), Qt::ElideMiddle, kNameWidthPx);
    text +=
        QStringLiteral("\n%1: %2").arg(name, QCoreApplication::translate("FileOpener", ReasonText(reason)));
  }
  if (static_cast<int>(refused.size()) > listed)
    text += QCoreApplication::translate("FileOpener", "\n还有 %1 个文件")
                .arg(static_cast<int>(refused.size()) - listed);
  return text;
}

void OpenFilesInWindow(CMainWnd& window, const QStringList& paths) {
  if (paths.isEmpty()) return;
  QMetaObject::invokeMethod(
      &window, [&window, paths] { OpenNow(window, paths); }, Qt::QueuedConnection);
}

void AcceptFilesDroppedOnWindow(CMainWnd& window) {
  window.setAcceptDrops(true);
  window.installEventFilter(new WindowDropFilter(window));
}

}  // namespace tw
