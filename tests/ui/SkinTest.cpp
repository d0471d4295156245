// The skin: every layout builds, and every control name the code looks up is in its layout.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QXmlStreamReader>

#include "tests/support/TestMedia.h"
#include "ui/CMainWnd.h"
#include "ui/Skin.h"
#include "ui/dialogs/LoadingDialog.h"
#include "ui/dialogs/MessageBoxDialog.h"
#include "ui/dialogs/PromptBoxDialog.h"
#include "ui/dialogs/SetingDialog.h"
#include "ui/dialogs/UserManualDialog.h"
#include "ui/pages/ListRows.h"

namespace tw {
namespace {

TEST(SkinTest, EveryLayoutFileBuilds) {
  const QDir dir(Skin::Folder());
  const QStringList layouts = dir.entryList({"*.xml"}, QDir::Files);
  ASSERT_GE(layouts.size(), 13) << Skin::Folder().toStdString();
  for (const QString& file : layouts) {
    if (file == "res.xml") continue;
    QString error;
    std::unique_ptr<QWidget> w(Skin::Load(file, nullptr, &error));
    EXPECT_NE(w, nullptr) << file.toStdString() << ": " << error.toStdString();
  }
}

TEST(SkinTest, MainWindowHoldsEveryControlThePagesLookUp) {
  CMainWnd window;
  QString error;
  ASSERT_TRUE(window.Create(&error)) << error.toStdString();
  EXPECT_TRUE(window.MissingControls().isEmpty()) << window.MissingControls().join(", ").toStdString();
  // Every name a page hands to the dispatcher exists in the window or in the page's row layout.
  for (int i = 0; i < 9; ++i) {
    Page* page = window.PageAt(i);
    ASSERT_NE(page, nullptr);
    QStringList rowNames;
    if (page->Rows()) rowNames = RowControlNames(*page->Rows());
    for (const QString& name : page->NotifyNames()) {
      const bool inWindow = FindControl(window.Root(), name) != nullptr;
      const bool inRow = rowNames.contains(name);
      EXPECT_TRUE(inWindow || inRow) << "page " << i << " dispatches unknown control " << name.toStdString();
    }
  }
}

TEST(SkinTest, EveryRowLayoutHoldsItsParts) {
  for (const RowSpec& spec : RowSpecs()) {
    SCOPED_TRACE(spec.rowLayout);
    QString error;
    std::unique_ptr<QWidget> row(MakeRow(spec, 7, nullptr, &error));
    ASSERT_NE(row, nullptr) << error.toStdString();
    EXPECT_EQ(row->objectName(), "item-7");
    EXPECT_EQ(GetTag(row.get()), 7);
    for (const QString& name : RowControlNames(spec))
      EXPECT_NE(row->findChild<QWidget*>(name), nullptr) << name.toStdString();
    for (const char* button : {spec.actionButton, spec.menuButton}) {
      if (!*button) continue;
      EXPECT_EQ(GetTag(row->findChild<QWidget*>(button)), 7) << button;
    }
  }
}

// Each builds a dialog (or the loading box) of the skin and lets it find its controls.
template <class T, class... Args>
std::function<void()> Build(Args... args) {
  return [=] { T(args...).Create(); };
}

TEST(SkinTest, DialogLayoutsHoldTheirControls) {
  const std::vector<std::pair<const char*, std::function<void()>>> cases = {
      {"MessageBox.xml", Build<MessageBoxDialog>(nullptr, QStringLiteral("q"))},
      {"PromptBox.xml", Build<PromptBoxDialog>(nullptr, QStringLiteral("p"), 200, 100)},
      {"LoadingDialog.xml", Build<LoadingDialog>(nullptr, QStringLiteral("l"))},
      {"Seting.xml", Build<SetingDialog>(nullptr)},
      {"UserManualDialog.xml", Build<UserManualDialog>(nullptr)},
  };
  for (const auto& [layout, build] : cases) EXPECT_NO_THROW(build()) << layout;
}

TEST(SkinTest, ResourcesNameExistingFilesAndTheCjkFont) {
  QFile res(Skin::Folder() + "/res.xml");
  ASSERT_TRUE(res.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&res);
  int files = 0;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    const QString file = xml.attributes().value("file").toString();
    if (file.isEmpty()) continue;
    ++files;
    EXPECT_TRUE(QFileInfo::exists(Skin::Folder() + "/" + file)) << file.toStdString();
  }
  EXPECT_FALSE(xml.hasError());
  EXPECT_GT(files, 5);
  EXPECT_FALSE(qApp->styleSheet().isEmpty());
  // The font that renders the Chinese texts is the one installed, not a fallback.
  QLabel label(QStringLiteral("TWL音频剪辑"));
  EXPECT_EQ(QFontInfo(label.font()).family(), "WenQuanYi Micro Hei");
}

// A broken skin gives the class-and-operation error and no dialog; the caller gets 0.
TEST(SkinTest, BrokenDialogLayoutsFailWithTheirNames) {
  const QString saved = Skin::Folder();
  const QString dir = QString::fromStdString(test::TempDir());
  QFile::copy(saved + "/res.xml", dir + "/res.xml");
  {
    QFile f(dir + "/PromptBox.xml");  // lacks msgConfirm
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(R"(<?xml version="1.0"?><ui version="4.0"><class>P</class><widget class="QWidget" name="P">
      <widget class="QLabel" name="msgText"/></widget></ui>)");
  }
  {
    QFile f(dir + "/LoadingDialog.xml");  // not a layout at all
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<<not xml");
  }
  Skin::SetFolder(dir);
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {Build<MessageBoxDialog>(nullptr, QStringLiteral("q")), "MessageBoxDialog::GetSkinFile"},  // no file
      {Build<PromptBoxDialog>(nullptr, QStringLiteral("p"), 200, 100), "PromptBoxDialog::Init"},
      {Build<LoadingDialog>(nullptr, QStringLiteral("l")), "LoadingDialog::GetSkinFile"},
  };
  for (const auto& [build, error] : cases) {
    try {
      build();
      ADD_FAILURE() << "no error for " << error;
    } catch (const DialogError& e) {
      EXPECT_EQ(e.what(), error);
    }
  }
  EXPECT_EQ(MessageBoxDialog::Show(nullptr, "q"), 0);
  EXPECT_EQ(PromptBoxDialog::Show(nullptr, "p"), 0);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  CMainWnd window;
  QString error;
  EXPECT_FALSE(window.Create(&error));
  EXPECT_TRUE(error.contains("MainWindow.xml")) << error.toStdString();
  Skin::SetFolder(saved);
}

}  // namespace
}  // namespace tw
