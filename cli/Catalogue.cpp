#include "cli/Catalogue.h"

#include <QString>
#include <QTranslator>

#include "tasks/Transcoder.h"

#ifndef TW_INSTALLED_SKIN
#define TW_INSTALLED_SKIN "../share/tunewell/skin"
#endif

namespace tw::cli {

bool InstallCatalogue(Language language, std::string* error) {
  SetTextLookup(nullptr);
  if (language == Language::Chinese) return true;
  static QTranslator translator;
  const QString name = QStringLiteral("tunewell_") + QString::fromLatin1(LanguageCode(language));
  const std::string program = ProgramFolder();
  std::string tried;
  // The same places as the window's skin: a build tree, then the installed skin.
  for (const char* rel : {"/skin", "/../skin", "/../../skin", "/" TW_INSTALLED_SKIN}) {
    const std::string folder = program + rel + "/translations";
    if (translator.load(name, QString::fromStdString(folder))) {
      SetTextLookup([](const char* context,
                       const char* source) { return translator.translate(context, source).toStdString(); },
                    language);
      return true;
    }
    tried += (tried.empty() ? "" : ", ") + folder;
  }
  if (error) *error = "cannot read " + name.toStdString() + ".qm in " + tried;
  return false;
}

}  // namespace tw::cli
