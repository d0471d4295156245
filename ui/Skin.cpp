#include "ui/Skin.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QHash>
#include <QMap>
#include <QUiLoader>
#include <QXmlStreamReader>

#include "tasks/Transcoder.h"

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
    if (it != Factories().end()) {
      QWidget* w = it.value()(parent);
      w->setObjectName(name);
      return w;
    }
    QWidget* w = QUiLoader::createWidget(className, parent, name);
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

}  // namespace

QString Skin::Folder() {
  if (!FolderOverride().isEmpty()) return FolderOverride();
  static const QString found = [] {
    const QString program = QString::fromStdString(ProgramFolder());
    for (const char* rel : {"/skin", "/../skin", "/../../skin"}) {
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

void Skin::ClearCache() { LayoutCache().clear(); }

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
  auto& cache = LayoutCache();
  auto it = cache.find(layoutFile);
  if (it == cache.end()) {
    QByteArray text;
    if (!ReadFile(Folder() + "/" + layoutFile, text)) {
      if (error) *error = "cannot read the layout " + Folder() + "/" + layoutFile;
      return nullptr;
    }
    it = cache.insert(layoutFile, text);
  }
  QBuffer buffer(&it.value());
  buffer.open(QIODevice::ReadOnly);
  SkinUiLoader loader;
  loader.setTranslationEnabled(false);
  loader.setWorkingDirectory(QDir(Folder()));
  QWidget* w = loader.load(&buffer, parent);
  if (!w) {
    if (error) *error = "malformed layout " + layoutFile + ": " + loader.errorString();
    cache.erase(cache.find(layoutFile));
  }
  return w;
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
