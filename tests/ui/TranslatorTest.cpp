// The window's languages: under each locale every layout shows the texts of one language, the
// prompts, failure reasons and tour captions follow, and Qt's own dialogs speak the same.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <memory>

#include "app/SettingsFile.h"
#include "tasks/Commands.h"
#include "tests/support/QtPages.h"
#include "ui/CMainWnd.h"
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
        if (!HasChinese(text)) continue;
        ++chinese;
        EXPECT_FALSE(locale.english) << locale.lang << " " << file.toStdString() << " " << text.toStdString();
      }
    }
    // The source texts are the Chinese ones: a Chinese window shows them.
    EXPECT_EQ(chinese > 100, !locale.english) << locale.lang << ": " << chinese;
  }
}

TEST(Translator, PromptsReasonsAndCaptionsFollow) {
  const OpenRefusals refused{{QStringLiteral("/no/such.mp3"), OpenRefusal::Missing}};
  FileEntry one;
  one.fileName = "a.wav";
  one.fullPath = "/tmp/a.wav";
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

// The tour shows pictures of the window in the language in use: the English ones are copies of
// the Chinese ones' kind (found first through the "skin:" search path), not the Chinese ones.
// With TW_TOUR_PICTURES_DIR set, the window of each page of the tour is drawn there as its
// picture, in the language TW_TOUR_PICTURES_LANGUAGE names (scripts/tour-pictures runs this on Xvfb).
TEST(Translator, TourPictures) {
  if (const char* dir = getenv("TW_TOUR_PICTURES_DIR")) {
    const char* language = getenv("TW_TOUR_PICTURES_LANGUAGE");  // "en" or "zh_CN"
    InstallTranslators(*qApp, ChooseLanguage(language ? language : "", {}), nullptr);
    auto* window = new CMainWnd();
    QString error;
    ASSERT_TRUE(window->Create(&error)) << error.toStdString();
    window->show();
    const int pages[UserManualDialog::kPageCount] = {0, 1, 2, 3, 4, 6, 8};
    for (int i = 0; i < UserManualDialog::kPageCount; ++i) {
      auto* option = FindControl<QAbstractButton>(window, CMainWnd::PageOptions()[pages[i]]);
      ASSERT_NE(option, nullptr);
      option->click();
      test::Pump();
      const QImage picture =
          window->grab().toImage().scaledToWidth(600, Qt::SmoothTransformation).copy(0, 0, 600, 375);
      EXPECT_TRUE(picture.save(QString("%1/manual-%2.png").arg(dir).arg(i, 2, 10, QChar('0'))));
    }
    delete window;
    RemoveTranslators(*qApp);
  }
  for (int i = 0; i < UserManualDialog::kPageCount; ++i) {
    const QString name = QString("images/manual-%1.png").arg(i, 2, 10, QChar('0'));
    const QImage chinese(Skin::Folder() + "/" + name), english(Skin::Folder() + "/en/" + name);
    EXPECT_EQ(chinese.size(), QSize(600, 375)) << name.toStdString();
    EXPECT_EQ(english.size(), QSize(600, 375)) << name.toStdString();
    EXPECT_NE(chinese, english) << name.toStdString();
  }
}

}  // namespace
}  // namespace tw
