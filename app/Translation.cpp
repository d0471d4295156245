#include "app/Translation.h"

#include <cstdlib>

#include "app/SettingsFile.h"

namespace tw {
namespace {

TextLookup& Lookup() {
  static TextLookup lookup;
  return lookup;
}

Language& Installed() {
  static Language language = Language::Chinese;
  return language;
}

// A locale name without language: the portable ones and their encodings ("C.UTF-8").
bool NamesNoLanguage(std::string_view name) {
  const std::string_view base = name.substr(0, name.find('.'));
  return base == "C" || base == "POSIX";
}

}  // namespace

Language LanguageOfLocale(const LocaleVariables& locale) {
  std::string_view name;
  if (locale.language) {
    std::string_view list = locale.language;
    while (name.empty() && !list.empty()) {
      const size_t colon = list.find(':');
      name = list.substr(0, colon);
      list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    }
  }
  for (const char* value : {locale.lcAll, locale.lcMessages, locale.lang})
    if (name.empty() && value) name = value;
  if (name.empty() || NamesNoLanguage(name)) return Language::Chinese;
  return name.substr(0, 2) == "zh" ? Language::Chinese : Language::English;
}

Language ChooseLanguage(std::string_view setting, const LocaleVariables& locale) {
  if (setting == kLanguageChinese) return Language::Chinese;
  if (setting == kLanguageEnglish) return Language::English;
  return LanguageOfLocale(locale);
}

Language LanguageInUse() {
  const LocaleVariables locale{std::getenv("LANGUAGE"), std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                               std::getenv("LANG")};
  return ChooseLanguage(SettingsFile::Instance().GetString(kSettingsSection, kKeyLanguage, kLanguageAuto),
                        locale);
}

const char* LanguageCode(Language language) {
  return language == Language::English ? kLanguageEnglish : kLanguageChinese;
}

void SetTextLookup(TextLookup lookup, Language language) {
  Installed() = lookup ? language : Language::Chinese;
  Lookup() = std::move(lookup);
}

Language InterfaceLanguage() {
  return Installed();
}

std::string Tr(const char* context, const char* source) {
  if (Lookup()) {
    std::string text = Lookup()(context, source);
    if (!text.empty()) return text;
  }
  return source;
}

std::string FormatText(std::string_view text, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t n = i + 1 < text.size() ? static_cast<size_t>(text[i + 1] - '1') : args.size();
    if (text[i] == '%' && n < args.size() && n < 9) {
      out += args.begin()[n];
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace tw
