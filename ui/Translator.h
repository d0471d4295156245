// The window's side of the translation: the program's catalogue (tunewell_<code>.qm in the skin's
// translations folder) and Qt's own translations for its dialogs, installed into the application
// for the language in use, and the core's text lookup filled from them. Window thread, at start.
#pragma once

#include <QString>

#include "app/Translation.h"

class QCoreApplication;

namespace tw {

// Installs the translators of language (replacing earlier ones) and the core's lookup. Chinese
// needs no catalogue of the program (its texts are the source texts) but Qt's Chinese one;
// English needs the program's catalogue. False with a message when the program's catalogue cannot
// be read; the texts then stay Chinese. A missing Qt catalogue only leaves Qt's dialogs in English.
bool InstallTranslators(QCoreApplication& app, Language language, QString* error);
// Before the application exists (the program's --help): the core's lookup alone, from the
// program's catalogue. InstallTranslators replaces it.
void InstallEarlyLookup(Language language);
// Removes them again: every text is the source text (tests that switch languages).
void RemoveTranslators(QCoreApplication& app);

// The folder of the catalogues: the skin's "translations".
QString CatalogueFolder();

// A text of the core (app/, tasks/, media/, net/) in the language in use.
QString CoreText(const char* context, const char* source);

}  // namespace tw
