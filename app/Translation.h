// The language of the interface and the one catalogue of its texts. The source texts are the
// Chinese ones; the catalogue (translations/tunewell_en.ts, built into tunewell_en.qm beside the
// skin) holds their English. The core has no Qt, so it does not read the catalogue itself: the
// front end (the window, the CLI) installs a lookup, and the core's texts pass through Tr.
// lupdate reads Tr as Qt's translate and TW_TRANSLATE_NOOP as QT_TRANSLATE_NOOP, so both the
// texts used in place and those kept in tables reach the catalogue.
//
// Threads: install the lookup before other threads start; Tr is then safe from any thread.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

// Marks a text kept in a table for the catalogue under context; it stays the source text.
#define TW_TRANSLATE_NOOP(context, text) text

namespace tw {

enum class Language { Chinese, English };

// The values of the settings key "language".
inline constexpr const char* kLanguageAuto = "auto";
inline constexpr const char* kLanguageChinese = "zh_CN";
inline constexpr const char* kLanguageEnglish = "en";

// The desktop's locale variables as the environment holds them (null when unset).
struct LocaleVariables {
  const char* language = nullptr;    // LANGUAGE, a colon-separated list
  const char* lcAll = nullptr;       // LC_ALL
  const char* lcMessages = nullptr;  // LC_MESSAGES
  const char* lang = nullptr;        // LANG
};

// The language rule: the first of LANGUAGE, LC_ALL, LC_MESSAGES and LANG that is set and not
// empty decides (of LANGUAGE its first entry). Chinese when it names Chinese ("zh", "zh_CN.UTF-8",
// "zh_TW"...) or no language ("C", "POSIX", "C.UTF-8"), or when none is set; English otherwise.
Language LanguageOfLocale(const LocaleVariables& locale);
// The settings' "language" overrides the locale: "zh_CN" or "en"; "auto", empty or anything
// else follows the locale.
Language ChooseLanguage(std::string_view setting, const LocaleVariables& locale);
// The rule applied to this process's environment and settings file.
Language LanguageInUse();
// The catalogue's code of a language: "zh_CN" or "en".
const char* LanguageCode(Language language);

// Looks up the translation of source under context; returns "" when it has none.
using TextLookup = std::function<std::string(const char* context, const char* source)>;
// Installs the lookup of the front end for language (null: every text stays the source text).
void SetTextLookup(TextLookup lookup, Language language = Language::English);
// The language of the installed lookup; Chinese without one. For the few texts that have their
// words in a table of both languages rather than in the catalogue (the CLI's failure lines).
Language InterfaceLanguage();
// The translation of source (UTF-8) under context, or source itself.
std::string Tr(const char* context, const char* source);
// text with its markers %1 ... %9 replaced by args in order; a translation may move the markers.
std::string FormatText(std::string_view text, std::initializer_list<std::string_view> args);

}  // namespace tw
