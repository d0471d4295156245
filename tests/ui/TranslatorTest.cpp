// The window's languages: under each locale every layout shows the texts of one language, the
// prompts, failure reasons and tour captions follow, and Qt's own dialogs speak the same.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <memory>

#include "app/SettingsFile.h"
#include "tasks/Commands.h"
#include "ui/FileOpener.h"
#include "ui/Skin.h"
#include "ui/Translator.h"
#include "ui/dialogs/UserManualDialog.h"

namespace tw {
namespace {

bool HasChinese(const QString& text) {
  static const QRegularExpression cjk(
      QStringLiteral("[\\x{3400}-\\x{9fff}\\x{3000}-\\x{303f}\\x{ff00}-\\x{ffef}]"));
  return text.contains(cjk);
}

// Every text a control of root shows: texts, tool tips, placeholders, titles and list entries.
QStringList VisibleTexts(QWidget* root) {
  QStringList texts;
  QList<QWidget*> widgets = root->findChildren<QWidget*>();
  widgets.prepend(root);
  for (QWidget* w : widgets) {
    const QString name = w->objectName() + ": ";
    texts << name + w->toolTip() << name + w->windowTitle();
    if (auto* label = qobject_cast<QLabel*>(w)) texts << name + label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) texts << name + button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
      texts << name + edit->text() << name + edit->placeholderText();
    // The language list names each language in its own words.
    if (auto* combo = qobject_cast<QComboBox*>(w); combo && combo->objectName() != "language")
      for (int i = 0; i < combo->count(); ++i) texts << name + combo->itemText(i);
  }
  return texts;
}

// The locale of the process and the setting "language", restored afterwards.
class Locale {
 public:
  Locale(const char* lang, const char* setting) {
    for (const char* var : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
      if (const char* value = getenv(var)) saved_.emplace_back(var, value);
      unsetenv(var);
    }
    if (lang) setenv("LANG", lang, 1);
    SettingsFile::Instance().WriteString(kSettingsSection, kKeyLanguage, setting);
    InstallTranslators(*qApp, LanguageInUse(), nullptr);
  }
  ~Locale() {
    unsetenv("LANG");
    for (const auto& [var, value] : saved_) setenv(var.c_str(), value.c_str(), 1);
    SettingsFile::Instance().WriteString(kSettingsSection, kKeyLanguage, kLanguageAuto);
    RemoveTranslators(*qApp);
  }

 private:
  std::vector<std::pair<std::string, std::string>> saved_;
};

const struct {
  const char* lang;
  const char* setting;
  bool english;
} kLocales[] = {
    {"en_US.UTF-8", "auto", true},   {"zh_CN.UTF-8", "auto", false}, {"C", "auto", false}, {"C", "en", true},
    {"en_US.UTF-8", "zh_CN", false},
};

TEST(Translator, EveryLayoutInOneLanguage) {
  const QStringList layouts = QDir(Skin::Folder()).entryList({"*.xml"}, QDir::Files);
  for (const auto& locale : kLocales) {
    const Locale use(locale.lang, locale.setting);
    int chinese = 0;
    for (const QString& file : layouts) {
      if (file == "res.xml") continue;
      std::unique_ptr<QWidget> layout(Skin::Load(file, nullptr));
      ASSERT_NE(layout, nullptr) << file.toStdString();
      for (const QString& text : VisibleTexts(layout.get())) {
        if (HasChinese(text)) ++chinese;
        if (locale.english)
          EXPECT_FALSE(HasChinese(text))
              << locale.lang << " " << file.toStdString() << " " << text.toStdString();
      }
    }
    // The source texts are the Chinese ones: a Chinese window shows them.
    if (!locale.english) EXPECT_GT(chinese, 100) << locale.lang;
  }
}

TEST(Translator, PromptsReasonsAndCaptionsFollow) {
  const OpenRefusals refused{{QStringLiteral("/no/such.mp3"), OpenRefusal::Missing}};
  const FileEntry one{"a.wav", "/tmp/", "/tmp/a.wav"};
  for (const auto& locale : kLocales) {
    const Locale use(locale.lang, locale.setting);
    const QString prompt = RefusalText(refused);
    const QString refusal = QString::fromStdString(BuildMergeCommand({one}, "mp3", CommandContext{}).message);
    const QString caption = UserManualDialog::Caption(2);
    if (locale.english) {
      EXPECT_EQ(prompt, "These files cannot be opened:\nsuch.mp3: does not exist") << locale.lang;
      EXPECT_EQ(refusal, "Please add at least 2 audio files!") << locale.lang;
      EXPECT_TRUE(caption.startsWith("3/7  Convert:")) << caption.toStdString();
    } else {
      EXPECT_EQ(prompt, "以下文件无法打开:\nsuch.mp3: 文件不存在") << locale.lang;
      EXPECT_EQ(refusal, kMsgMergeTooFew) << locale.lang;
      EXPECT_EQ(caption, "3/7  格式转换：选好格式、声道、采样率和比特率，一键转换") << locale.lang;
    }
  }
}

TEST(Translator, QtDialogsSpeakTheWindowsLanguage) {
  for (const auto& locale : kLocales) {
    const Locale use(locale.lang, locale.setting);
    const QString lookIn = QCoreApplication::translate("QFileDialog", "Look in:");
    EXPECT_EQ(HasChinese(lookIn), !locale.english) << locale.lang << " " << lookIn.toStdString();
  }
}

}  // namespace
}  // namespace tw
