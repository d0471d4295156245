#include "ui/Translator.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

#include "ui/Skin.h"

namespace tw {
namespace {

struct Installed {
  std::unique_ptr<QTranslator> program;
  std::unique_ptr<QTranslator> qt;
};

Installed& Translators() {
  static Installed installed;
  return installed;
}

}  // namespace

QString CatalogueFolder() {
  return Skin::Folder() + "/translations";
}

bool InstallTranslators(QCoreApplication& app, Language language, QString* error) {
  RemoveTranslators(app);
  Installed& t = Translators();
  const QString code = QString::fromLatin1(LanguageCode(language));
  bool ok = true;
  if (language != Language::Chinese) {
    t.program = std::make_unique<QTranslator>();
    if (t.program->load("tunewell_" + code, CatalogueFolder())) {
      app.installTranslator(t.program.get());
    } else {
      t.program.reset();
      ok = false;
      if (error) *error = "cannot read the catalogue " + CatalogueFolder() + "/tunewell_" + code + ".qm";
    }
  }
  // Qt's own texts are English; other languages come from its catalogue.
  if (language != Language::English) {
    t.qt = std::make_unique<QTranslator>();
    if (t.qt->load("qtbase_" + code, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
      app.installTranslator(t.qt.get());
    else
      t.qt.reset();
  }
  // Pictures with words in them (the tour's) have copies in the language's folder of the skin,
  // found before the others through the "skin:" search path.
  if (language != Language::Chinese)
    QDir::setSearchPaths("skin", {Skin::Folder() + "/" + code, Skin::Folder()});
  SetTextLookup([](const char* context,
                   const char* source) { return QCoreApplication::translate(context, source).toStdString(); },
                ok ? language : Language::Chinese);
  return ok;
}

void InstallEarlyLookup(Language language) {
  static QTranslator early;
  SetTextLookup(nullptr);
  if (language == Language::Chinese) return;
  if (!early.load(QStringLiteral("tunewell_") + QString::fromLatin1(LanguageCode(language)), CatalogueFolder())) return;
  SetTextLookup(
      [](const char* context, const char* source) { return early.translate(context, source).toStdString(); },
      language);
}

void RemoveTranslators(QCoreApplication& app) {
  Installed& t = Translators();
  if (t.program) app.removeTranslator(t.program.get());
  if (t.qt) app.removeTranslator(t.qt.get());
  t.program.reset();
  t.qt.reset();
  QDir::setSearchPaths("skin", {Skin::Folder()});
  SetTextLookup(nullptr);
}

QString CoreText(const char* context, const char* source) {
  return QString::fromStdString(Tr(context, source));
}

}  // namespace tw
