// Files handed to the window from outside: one opens on the cut page, several on the convert
// list, the ones that cannot be opened are named with the reason in one prompt, and files
// dropped on the window beside the lists behave the same.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "tests/support/QtDialogs.h"
#include "tests/support/QtPages.h"
#include "tests/support/TestMedia.h"
#include "ui/FileOpener.h"
#include "ui/pages/CutPage.h"

namespace tw {
namespace {

using test::PageWindowTest;

constexpr int kCutPage = 0;
constexpr int kConvertPage = 2;

class FileOpenerTest : public PageWindowTest {
 protected:
  void Drop(const QStringList& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
    mime.setUrls(urls);
    const QPoint inside(window_->width() / 2, 5);
    QDragEnterEvent enter(inside, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window_, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(inside), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window_, &drop);
    ASSERT_TRUE(drop.isAccepted());
  }
};

TEST_F(FileOpenerTest, OneFileWithAHostileNameOpensOnTheCutPage) {
  const std::string path = test::CopyAs(test::ToneWav(2), "-it's \"$(touch x)\" 歌曲 1.wav");
  window_->OpenFiles({QString::fromStdString(path)});
  ASSERT_TRUE(test::WaitUntil([&] { return window_->Cut()->HasFile(); }));
  EXPECT_EQ(window_->CurrentPage(), kCutPage);
  EXPECT_EQ(window_->Cut()->CutFile().fullPath, path);
}

TEST_F(FileOpenerTest, SeveralFilesFillTheConvertListAndTheRestAreNamedWithTheirReasons) {
  const std::string dir = test::TempDir();
  const std::string unreadable = dir + "/locked.wav";
  std::filesystem::copy_file(test::ToneWav(1), unreadable);
  chmod(unreadable.c_str(), 0);
  const bool root = std::ifstream(unreadable).good();  // root reads it all the same
  const QStringList paths = {QString::fromStdString(test::ToneWav(2)),
                             QString::fromStdString(dir + "/gone.mp3"),
                             QString::fromStdString(test::TextNamedMp3()),
                             QString::fromStdString(dir),
                             QString::fromStdString(unreadable),
                             QString::fromStdString(test::CopyAs(test::ToneMp3(1), "第二 $x.mp3"))};
  auto prompt = test::AnswerNextModal("msgConfirm", 20000);
  window_->OpenFiles(paths);
  const int expectedRows = root ? 3 : 2;
  ASSERT_TRUE(
      test::WaitUntil([&] { return prompt->answered && Rows(OperationKind::Convert) == expectedRows; }));
  EXPECT_EQ(window_->CurrentPage(), kConvertPage);
  EXPECT_EQ(RowText(OperationKind::Convert, RowId(OperationKind::Convert, 0), "fileNameLabel"),
            QFileInfo(paths[0]).fileName());
  EXPECT_EQ(RowText(OperationKind::Convert, RowId(OperationKind::Convert, expectedRows - 1), "fileNameLabel"),
            QStringLiteral("第二 $x.mp3"));
  EXPECT_EQ(prompt->dialogClass, "PromptBoxDialog");
  QString expected =
      QStringLiteral("以下文件无法打开:\ngone.mp3: 文件不存在\n%1: 不是音频或视频文件\n%2: 是文件夹")
          .arg(QFileInfo(paths[2]).fileName(), QFileInfo(paths[3]).fileName());
  if (!root) expected += QStringLiteral("\nlocked.wav: 无法读取");
  EXPECT_EQ(prompt->text, expected);
  EXPECT_EQ(window_->Cut()->HasFile(), false);
}

TEST_F(FileOpenerTest, FilesDroppedOnTheWindowOpenAsFromTheCommandLine) {
  Drop({QString::fromStdString(test::ToneWav(2)), QString::fromStdString(test::ToneMp3(1))});
  ASSERT_TRUE(test::WaitUntil([&] { return Rows(OperationKind::Convert) == 2; }));
  EXPECT_EQ(window_->CurrentPage(), kConvertPage);

  Drop({QString::fromStdString(test::ToneMp3(1))});
  ASSERT_TRUE(test::WaitUntil([&] { return window_->Cut()->HasFile(); }));
  EXPECT_EQ(window_->CurrentPage(), kCutPage);
}

TEST(FileOpenerText, ManyRefusalsAreCountedBeyondTheListedOnes) {
  OpenRefusals refused;
  for (int i = 0; i < 11; ++i)
    refused.emplace_back(QStringLiteral("/no/f%1.mp3").arg(i), OpenRefusal::Missing);
  const QStringList lines = RefusalText(refused).split('\n');
  ASSERT_GE(lines.size(), 3);
  EXPECT_EQ(lines.last(), QStringLiteral("还有 3 个文件"));
  EXPECT_EQ(lines[1], QStringLiteral("f0.mp3: 文件不存在"));
  EXPECT_EQ(lines.size(), 1 + 8 + 1);
  EXPECT_TRUE(RefusalText({}).isEmpty());
}

}  // namespace
}  // namespace tw
