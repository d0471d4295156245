// The first-start picture tour: its steps and page picks, the timer that drives it, and that it
// is shown at the first start only and never again once closed.
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QPointer>
#include <filesystem>

#include "app/SettingsFile.h"
#include "tests/support/QtPages.h"
#include "tests/support/TestMedia.h"
#include "ui/CMainWnd.h"
#include "ui/Skin.h"
#include "ui/dialogs/UserManualDialog.h"

namespace tw {
namespace {

using test::Pump;

QString Name(const char* prefix, int index) {
  return QString::asprintf("%s%02d", prefix, index);
}

// The one picture shown, or -1 when none or several are.
int ShownImage(const UserManualDialog& dialog) {
  int shown = -1;
  for (int i = 0; i < UserManualDialog::kPageCount; ++i) {
    QWidget* image = dialog.findChild<QWidget*>(Name("image", i));
    if (!image || !image->isVisibleTo(&dialog)) continue;
    if (shown >= 0) return -1;
    shown = i;
  }
  return shown;
}

int CheckedMarker(const UserManualDialog& dialog) {
  for (int i = 0; i < UserManualDialog::kPageCount; ++i)
    if (dialog.findChild<QAbstractButton*>(Name("page", i))->isChecked()) return i;
  return -1;
}

class UserManualDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { SetManual("0"); }
  void TearDown() override {
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    Pump();
    SetManual("1");
  }
  static void SetManual(const char* value) {
    SettingsFile::Instance().WriteString(kSettingsSection, kKeyUserManual, value);
  }
  static int Manual() { return SettingsFile::Instance().GetInt(kSettingsSection, kKeyUserManual, -1); }
};

TEST_F(UserManualDialogTest, StepsCycleThroughTheSevenPicturesWithTheirMarkers) {
  UserManualDialog dialog(nullptr);
  ASSERT_NO_THROW(dialog.Create());
  EXPECT_EQ(dialog.objectName(), "CheckBoxDialog");
  EXPECT_EQ(dialog.CurrentPage(), 0);
  EXPECT_EQ(ShownImage(dialog), 0);
  EXPECT_EQ(CheckedMarker(dialog), 0);
  EXPECT_TRUE(dialog.AdvanceTimer().isActive());
  EXPECT_EQ(dialog.AdvanceTimer().interval(), 3000);
  for (int expected : {1, 2, 3, 4, 5, 6, 0, 1}) {
    dialog.Advance();
    EXPECT_EQ(dialog.CurrentPage(), expected);
    EXPECT_EQ(ShownImage(dialog), expected);
    EXPECT_EQ(CheckedMarker(dialog), expected);
  }
}

TEST_F(UserManualDialogTest, APickedPageShowsAtOnceAndTheNextStepGoesOnFromIt) {
  UserManualDialog dialog(nullptr);
  ASSERT_NO_THROW(dialog.Create());
  dialog.findChild<QAbstractButton*>("page03")->click();
  EXPECT_EQ(dialog.CurrentPage(), 3);
  EXPECT_EQ(ShownImage(dialog), 3);
  EXPECT_TRUE(dialog.AdvanceTimer().isActive());
  dialog.Advance();
  EXPECT_EQ(ShownImage(dialog), 4);

  dialog.findChild<QAbstractButton*>("page06")->click();
  dialog.findChild<QAbstractButton*>("nextBtn")->click();
  EXPECT_EQ(dialog.CurrentPage(), 0);
  EXPECT_EQ(ShownImage(dialog), 0);
  EXPECT_EQ(CheckedMarker(dialog), 0);
  EXPECT_TRUE(dialog.AdvanceTimer().isActive());
}

TEST_F(UserManualDialogTest, TheTimerMovesTheTourOnByItself) {
  UserManualDialog dialog(nullptr);
  ASSERT_NO_THROW(dialog.Create());
  dialog.show();
  EXPECT_TRUE(test::WaitUntil([&] { return dialog.CurrentPage() == 1; }, 15000));
  EXPECT_EQ(ShownImage(dialog), 1);
}

TEST_F(UserManualDialogTest, ShownAtTheFirstStartOnlyAndNeverAgainOnceClosed) {
  QPointer<CMainWnd> window = new CMainWnd();
  QString error;
  ASSERT_TRUE(window->Create(&error)) << error.toStdString();
  window->show();
  Pump();
  auto* tour = qobject_cast<UserManualDialog*>(QApplication::activeModalWidget());
  ASSERT_NE(tour, nullptr) << "no tour at the first start";
  EXPECT_TRUE(tour->isVisible());
  EXPECT_EQ(tour->parentWidget(), window.data());
  EXPECT_EQ(Manual(), 0) << "not yet closed";
  QPointer<UserManualDialog> gone = tour;
  tour->findChild<QAbstractButton*>("closebtn")->click();  // before any step
  Pump();
  EXPECT_TRUE(gone.isNull());
  EXPECT_EQ(Manual(), 1);
  delete window.data();
  Pump();

  window = new CMainWnd();
  ASSERT_TRUE(window->Create(&error));
  window->show();
  Pump();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  delete window.data();
  Pump();
}

TEST_F(UserManualDialogTest, ATourThatCannotBeBuiltIsNotCountedAsSeen) {
  const QString saved = Skin::Folder();
  const QString dir = QString::fromStdString(test::TempDir());
  QFile::copy(saved + "/res.xml", dir + "/res.xml");
  Skin::SetFolder(dir);  // no UserManualDialog.xml
  try {
    UserManualDialog broken(nullptr);
    broken.Create();
    ADD_FAILURE() << "no error";
  } catch (const DialogError& e) {
    EXPECT_STREQ(e.what(), "CheckBoxDialog::GetSkinFile");
  }
  EXPECT_EQ(UserManualDialog::ShowAtFirstStart(nullptr), nullptr);
  Skin::SetFolder(saved);
  Pump();
  EXPECT_EQ(Manual(), 0);
}

}  // namespace
}  // namespace tw
