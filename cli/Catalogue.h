// The command line's side of the translation: the window's catalogue (tunewell_<code>.qm in the
// skin's translations folder) read with QtCore's QTranslator, installed as the core's text lookup.
// Call once at start, before other threads run.
#pragma once

#include <string>

#include "app/Translation.h"

namespace tw::cli {

// Installs the lookup for language. Chinese needs none (its texts are the source texts). False
// with the folders looked in when the catalogue cannot be read; the texts then stay Chinese.
bool InstallCatalogue(Language language, std::string* error);

}  // namespace tw::cli
