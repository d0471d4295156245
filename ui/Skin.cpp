#include "ui/Skin.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QHash>
#include <QLabel>
#include <QMap>
#include <QUiLoader>
#include <QXmlStreamReader>
#include <algorithm>

#include "tasks/Transcoder.h"

#ifndef TW_INSTALLED_SKIN
#define TW_INSTALLED_SKIN "../share/tunewell/skin"
#endif

namespace tw {
namespace {

QString& FolderOverride() {
  static QString folder;
  return folder;
}

QMap<QString, Skin::WidgetFactory>& Factories() {
  static QMap<QString, Skin::WidgetFactory> factories;
  return factories;
}

QHash<QString, QByteArray>& LayoutCache() {
  static QHash<QString, QByteArray> cache;
  return cache;
}

// QUiLoader with the skin's custom controls.
class SkinUiLoader : public QUiLoader {
 public:
  QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
    auto it = Factories().find(className);
    // Custom class names are matched without regard to case ("paintview" too).
    for (auto i = Factories().begin(); it == Factories().end() && i != Factories().end(); ++i)
      if (i.key().compare(className, Qt::CaseInsensitive) == 0) it = i;
    if (it != Factories().end()) {
      QWidget* w = it.value()(parent);
      w->setObjectName(name);
      return w;
    }
    QWidget* w = QUiLoader::createWidget(className, parent, name);
    // Labels show file names and messages that name files: as they are, never as markup.
    if (auto* label = qobject_cast<QLabel*>(w)) label->setTextFormat(Qt::PlainText);
    if (!w) {
      w = new QWidget(parent);
      w->setObjectName(name);
    }
    return w;
  }
};

bool ReadFile(const QString& path, QByteArray& out) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return false;
  out = f.readAll();
  return true;
}

// Builds one layout text; what names it in messages.
QWidget* LoadBytes(const QByteArray& text, QWidget* parent, const QString& what, QString* error) {
  QByteArray copy = text;
  QBuffer buffer(&copy);
  buffer.open(QIODevice::ReadOnly);
  SkinUiLoader loader;
  // Texts are looked up in the catalogue under the layout's class, the context lupdate gives them.
  loader.setTranslationEnabled(true);
  loader.setWorkingDirectory(QDir(Skin::Folder()));
  QWidget* w = loader.load(&buffer, parent);
  if (!w && error) *error = "malformed layout " + what + ": " + loader.errorString();
  return w;
}

bool ReadLayout(const QString& layoutFile, QByteArray& text, QString* error) {
  auto& cache = LayoutCache();
  auto it = cache.find(layoutFile);
  if (it != cache.end()) {
    text = it.value();
    return true;
  }
  if (!ReadFile(Skin::Folder() + "/" + layoutFile, text)) {
    if (error) *error = "cannot read the layout " + Skin::Folder() + "/" + layoutFile;
    return false;
  }
  cache.insert(layoutFile, text);
  return true;
}

// A stretch [begin, end) of the layout text, in characters.
struct Span {
  qsizetype begin = -1;
  qsizetype end = -1;
  bool Valid() const { return begin >= 0 && end > begin; }
};

}  // namespace

QString Skin::Folder() {
  if (!FolderOverride().isEmpty()) return FolderOverride();
  static const QString found = [] {
    const QString program = QString::fromStdString(ProgramFolder());
    // Beside the program in a build tree (tests run one or two folders below it), then where
    // an installation puts it relative to its bin folder, so that any prefix works.
    for (const char* rel : {"/skin", "/../skin", "/../../skin", "/" TW_INSTALLED_SKIN}) {
      const QString dir = QDir::cleanPath(program + rel);
      if (QFileInfo::exists(dir + "/res.xml")) return dir;
    }
    return QDir::cleanPath(program + "/skin");
  }();
  return found;
}

void Skin::SetFolder(const QString& folder) {
  FolderOverride() = folder;
  ClearCache();
}

void Skin::ClearCache() {
  LayoutCache().clear();
}

bool Skin::LoadResources(QApplication& app, QString* error) {
  const QString dir = Folder();
  QByteArray resText;
  if (!ReadFile(dir + "/res.xml", resText)) {
    if (error) *error = "cannot read " + dir + "/res.xml";
    return false;
  }
  QString styleFile, fontFamily;
  int fontPixels = 0;
  QXmlStreamReader xml(resText);
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == u"style") styleFile = xml.attributes().value("file").toString();
    if (xml.name() == u"font") {
      fontFamily = xml.attributes().value("family").toString();
      fontPixels = xml.attributes().value("pixel-size").toInt();
    }
  }
  if (xml.hasError()) {
    if (error) *error = "malformed " + dir + "/res.xml: " + xml.errorString();
    return false;
  }
  QDir::setSearchPaths("skin", {dir});
  if (!fontFamily.isEmpty()) {
    QFont f(fontFamily);
    if (fontPixels > 0) f.setPixelSize(fontPixels);
    app.setFont(f);
  }
  if (!styleFile.isEmpty()) {
    QByteArray sheet;
    if (!ReadFile(dir + "/" + styleFile, sheet)) {
      if (error) *error = "cannot read the style sheet " + styleFile;
      return false;
    }
    app.setStyleSheet(QString::fromUtf8(sheet));
  }
  return true;
}

QWidget* Skin::Load(const QString& layoutFile, QWidget* parent, QString* error) {
  QByteArray text;
  if (!ReadLayout(layoutFile, text, error)) return nullptr;
  QWidget* w = LoadBytes(text, parent, layoutFile, error);
  if (!w) LayoutCache().remove(layoutFile);
  return w;
}

bool SplitLayout::Read(const QString& layoutFile, const QString& stackName, QString* error) {
  layoutFile_ = layoutFile;
  shell_.clear();
  pages_.clear();
  shown_ = 0;
  QByteArray bytes;
  if (!ReadLayout(layoutFile, bytes, error)) return false;
  const QString text = QString::fromUtf8(bytes);

  // Offsets are those of the decoded text. The reader may have looked one character into the
  // next token, so a tag is taken to start at the last "<" up to the end of the previous token,
  // and to end just after the first ">" from the end of its own.
  QXmlStreamReader xml(text);
  qsizetype previousEnd = 0;
  int depth = 0, stackDepth = -1, pageDepth = -1, propertyDepth = -1;
  bool inCurrentIndex = false;
  std::vector<Span> pageSpans;
  Span currentIndexSpan, customWidgets;
  int currentIndex = 0;
  QString layoutClass;
  while (!xml.atEnd()) {
    const auto token = xml.readNext();
    const qsizetype tokenStart = text.lastIndexOf(u'<', previousEnd);
    const qsizetype tokenEnd = text.indexOf(u'>', std::max<qsizetype>(0, xml.characterOffset() - 1)) + 1;
    if (token == QXmlStreamReader::StartElement) {
      ++depth;
      if (depth == 2 && xml.name() == u"customwidgets") customWidgets.begin = tokenStart;
      if (depth == 2 && xml.name() == u"class") {
        layoutClass = xml.readElementText().trimmed();
        --depth;  // readElementText consumed the end of <class>
      }
      if (stackDepth < 0 && xml.name() == u"widget" && xml.attributes().value("name") == stackName)
        stackDepth = depth;
      else if (stackDepth > 0 && depth == stackDepth + 1 && xml.name() == u"widget") {
        pageDepth = depth;
        pageSpans.push_back({tokenStart, -1});
      } else if (stackDepth > 0 && depth == stackDepth + 1 && xml.name() == u"property" &&
                 xml.attributes().value("name") == u"currentIndex") {
        propertyDepth = depth;
        inCurrentIndex = true;
        currentIndexSpan.begin = tokenStart;
      } else if (inCurrentIndex && xml.name() == u"number") {
        currentIndex = xml.readElementText().trimmed().toInt();
        --depth;  // readElementText consumed the end of <number>
      }
    } else if (token == QXmlStreamReader::EndElement) {
      if (depth == 2 && xml.name() == u"customwidgets") customWidgets.end = tokenEnd;
      if (depth == pageDepth) {
        pageSpans.back().end = tokenEnd;
        pageDepth = -1;
      } else if (depth == propertyDepth) {
        currentIndexSpan.end = tokenEnd;
        propertyDepth = -1;
        inCurrentIndex = false;
      } else if (depth == stackDepth) {
        stackDepth = -2;  // done with the stack
      }
      --depth;
    }
    previousEnd = xml.characterOffset();
  }
  if (xml.hasError()) {
    if (error) *error = "malformed layout " + layoutFile + ": " + xml.errorString();
    return false;
  }
  if (pageSpans.empty()) {
    if (error) *error = "the layout " + layoutFile + " has no pages in " + stackName;
    return false;
  }
  for (const Span& span : pageSpans) {
    const QStringView page = QStringView(text).mid(span.begin, span.end - span.begin);
    if (!span.Valid() || !page.startsWith(u"<widget") || !page.endsWith(u">")) {
      if (error) *error = "cannot cut the pages of " + stackName + " out of " + layoutFile;
      return false;
    }
  }
  shown_ = std::clamp(currentIndex, 0, static_cast<int>(pageSpans.size()) - 1);

  // The shell: everything but the hidden pages and the stack's current index (its only page
  // is the shown one).
  std::vector<Span> cuts;
  for (int i = 0; i < static_cast<int>(pageSpans.size()); ++i)
    if (i != shown_) cuts.push_back(pageSpans[static_cast<size_t>(i)]);
  if (currentIndexSpan.Valid()) cuts.push_back(currentIndexSpan);
  std::sort(cuts.begin(), cuts.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
  QString shell;
  qsizetype at = 0;
  for (const Span& cut : cuts) {
    shell += QStringView(text).mid(at, cut.begin - at);
    at = cut.end;
  }
  shell += QStringView(text).mid(at);
  shell_ = shell.toUtf8();

  const QString custom = customWidgets.Valid()
                             ? text.mid(customWidgets.begin, customWidgets.end - customWidgets.begin)
                             : QString();
  for (int i = 0; i < static_cast<int>(pageSpans.size()); ++i) {
    if (i == shown_) {
      pages_.emplace_back();
      continue;
    }
    const Span& span = pageSpans[static_cast<size_t>(i)];
    // The page keeps the layout's class: its texts are translated under it.
    QString page =
        QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\">\n <class>%1</class>\n")
            .arg((layoutClass.isEmpty() ? stackName + QString::number(i) : layoutClass).toHtmlEscaped());
    page += QStringView(text).mid(span.begin, span.end - span.begin);
    page += "\n " + custom + "\n</ui>\n";
    pages_.push_back(page.toUtf8());
  }
  return true;
}

QWidget* SplitLayout::LoadShell(QWidget* parent, QString* error) const {
  if (shell_.isEmpty()) {
    if (error) *error = "the layout " + layoutFile_ + " was not read";
    return nullptr;
  }
  return LoadBytes(shell_, parent, layoutFile_, error);
}

QWidget* SplitLayout::LoadPage(int index, QString* error) const {
  if (index < 0 || index >= PageCount() || index == shown_) return nullptr;
  return LoadBytes(pages_[static_cast<size_t>(index)], nullptr,
                   layoutFile_ + " page " + QString::number(index), error);
}

void Skin::RegisterWidget(const QString& className, WidgetFactory factory) {
  Factories().insert(className, std::move(factory));
}

QWidget* FindControl(QWidget* root, const QString& name) {
  if (!root) return nullptr;
  if (root->objectName() == name) return root;
  return root->findChild<QWidget*>(name);
}

void SetTag(QObject* control, int tag) {
  if (control) control->setProperty("tag", tag);
}

int GetTag(const QObject* control, int defaultTag) {
  if (!control) return defaultTag;
  bool ok = false;
  const int tag = control->property("tag").toInt(&ok);
  return ok ? tag : defaultTag;
}

void SetMouseEnabled(QWidget* control, bool enabled) {
  if (control) control->setAttribute(Qt::WA_TransparentForMouseEvents, !enabled);
}

bool IsMouseEnabled(const QWidget* control) {
  return control && !control->testAttribute(Qt::WA_TransparentForMouseEvents);
}

}  // namespace tw
