// The main of every tests/ui/*Test.cpp: private settings and data folders, Qt's offscreen
// platform unless another is asked for, one QApplication with the skin applied, then
// GoogleTest.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/SettingsFile.h"
#include "tests/support/TestDesktop.h"
#include "tests/support/TestEnv.h"
#include "ui/CPaintViewUI.h"
#include "ui/Skin.h"
#include "ui/dialogs/CWndShadow.h"

int main(int argc, char** argv) {
  const std::string& home = tw::test::PrivateHome();
  if (home.empty()) return 2;
  setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The window's own texts in Chinese, their source, whatever the machine's locale: the program
  // started by a test (RunApplication) reads the language from here.
  setenv("LANGUAGE", "zh_CN", 1);

  QApplication app(argc, argv);
  tw::CWndShadow::RegisterShadowClass();
  tw::CPaintViewUI::RegisterDefault();
  QString error;
  if (!tw::Skin::LoadResources(app, &error)) {
    fprintf(stderr, "skin: %s\n", error.toUtf8().constData());
    return 2;
  }
  // The first-start picture tour would open over every window the tests make; the tests of the
  // tour ask for it.
  tw::SettingsFile::Instance().WriteString(tw::kSettingsSection, tw::kKeyUserManual, "1");
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  // A test's child on a private desktop (TestDesktop) has reported; its teardown, with the
  // desktop about to go, is no part of any test.
  if (tw::test::InDesktopChild()) {
    std::fflush(stdout);
    _exit(result);
  }
  return result;
}
