#include <gtest/gtest.h>

#include "app/Translation.h"

namespace tw {
namespace {

TEST(Translation, LanguageRule) {
  const auto zh = Language::Chinese;
  const auto en = Language::English;
  const struct {
    LocaleVariables locale;
    const char* setting;
    Language expected;
  } cases[] = {
      // No language at all: the source texts.
      {{}, "auto", zh},
      {{nullptr, nullptr, nullptr, "C"}, "auto", zh},
      {{nullptr, nullptr, nullptr, "POSIX"}, "auto", zh},
      {{nullptr, nullptr, nullptr, "C.UTF-8"}, "", zh},
      {{"", "", "", ""}, "auto", zh},
      // Chinese in any region or encoding; every other language is English.
      {{nullptr, nullptr, nullptr, "zh_CN.UTF-8"}, "auto", zh},
      {{nullptr, nullptr, nullptr, "zh_TW.Big5"}, "auto", zh},
      {{nullptr, nullptr, nullptr, "en_US.UTF-8"}, "auto", en},
      {{nullptr, nullptr, nullptr, "de_DE.UTF-8"}, "auto", en},
      {{nullptr, nullptr, nullptr, "ja_JP.UTF-8"}, "auto", en},
      // The first variable set decides: LANGUAGE, LC_ALL, LC_MESSAGES, LANG.
      {{"en_GB:zh_CN", "zh_CN.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8"}, "auto", en},
      {{":zh_CN:en", nullptr, nullptr, "en_US.UTF-8"}, "auto", zh},
      {{nullptr, "en_US.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8"}, "auto", en},
      {{nullptr, "C", "en_US.UTF-8", "en_US.UTF-8"}, "auto", zh},
      {{"", "", "fr_FR.UTF-8", "zh_CN.UTF-8"}, "auto", en},
      {{nullptr, nullptr, nullptr, "zh_CN.UTF-8"}, nullptr, zh},
      // The setting overrides the locale; anything but its two languages follows the locale.
      {{nullptr, nullptr, nullptr, "en_US.UTF-8"}, "zh_CN", zh},
      {{nullptr, nullptr, nullptr, "C"}, "en", en},
      {{nullptr, nullptr, nullptr, "zh_CN.UTF-8"}, "en", en},
      {{nullptr, nullptr, nullptr, "en_US.UTF-8"}, "fr", en},
      {{nullptr, nullptr, nullptr, "C"}, "EN", zh},
  };
  for (const auto& c : cases) {
    const std::string what =
        std::string(c.locale.language ? c.locale.language : "-") + "|" +
        (c.locale.lcAll ? c.locale.lcAll : "-") + "|" + (c.locale.lcMessages ? c.locale.lcMessages : "-") +
        "|" + (c.locale.lang ? c.locale.lang : "-") + " setting " + (c.setting ? c.setting : "-");
    EXPECT_EQ(ChooseLanguage(c.setting ? c.setting : "", c.locale), c.expected) << what;
  }
}

TEST(Translation, LookupAndMarkers) {
  EXPECT_EQ(Tr("Commands", "输出格式无效!"), "输出格式无效!");  // no lookup: the source text
  SetTextLookup([](const char* context, const char* source) {
    return std::string(context) == "Commands" && std::string(source) == "输出格式无效!" ? "Invalid" : "";
  });
  EXPECT_EQ(Tr("Commands", "输出格式无效!"), "Invalid");
  EXPECT_EQ(Tr("Cli", "输出格式无效!"), "输出格式无效!");  // another context, no translation
  EXPECT_EQ(InterfaceLanguage(), Language::English);
  SetTextLookup(nullptr, Language::English);
  EXPECT_EQ(InterfaceLanguage(), Language::Chinese);  // no lookup: the source texts

  const struct {
    const char* text;
    std::initializer_list<std::string_view> args;
    const char* expected;
  } cases[] = {
      {"%1 needs --%2", {"cut", "to"}, "cut needs --to"},
      {"%2 没有选项 '--%1'（见 %2 --help）", {"json", "probe"}, "probe 没有选项 '--json'（见 probe --help）"},
      {"100% of %1", {"a"}, "100% of a"},
      {"%3 and %0 stay", {"a"}, "%3 and %0 stay"},
      {"%1", {"%2"}, "%2"},  // an argument is not read for markers
      {"ends in %", {}, "ends in %"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatText(c.text, c.args), c.expected) << c.text;
}

}  // namespace
}  // namespace tw
