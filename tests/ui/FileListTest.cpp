// The page file lists driven through the main window on the offscreen platform: the open-file
// dialog (replaced by prepared answers), real generated media probed by the media library, the
// row-menu messages as the menus post them, and files dropped from a file manager.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <filesystem>

#include "app/MediaHelpers.h"
#include "app/Messages.h"
#include "tasks/ConvertQueue.h"
#include "tests/support/QtModalScript.h"
#include "tests/support/QtPages.h"
#include "tests/support/TestMedia.h"
#include "ui/pages/FileList.h"
#include "ui/pages/MergePage.h"

namespace tw {
namespace {

using test::CopyAs;
using test::Pump;
using test::WaitUntil;

class FileListTest : public test::PageWindowTest {
 protected:
  FileListTest() { checkDialogs_ = true; }
  void PostList(unsigned id, OperationKind code, int taskId) {
    window_->Post(Message(id, std::make_unique<ListRecord>(static_cast<int>(code), taskId)));
    Pump();
  }
  QString Name(OperationKind kind, int taskId) { return RowText(kind, taskId, "fileNameLabel"); }
};

TEST_F(FileListTest, ChosenFilesBecomeRowsWithConsecutiveIdsInDialogOrder) {
  const std::string a = test::ToneWav(2), b = test::ToneMp3(3), c = test::NoiseWav(1);
  AddThroughDialog(OperationKind::Convert,
                   {QString::fromStdString(b), QString::fromStdString(a), QString::fromStdString(c)});
  ASSERT_EQ(Rows(OperationKind::Convert), 3);
  const std::vector<std::string> order = {b, a, c};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    QWidget* row = RowAt(PageOf(OperationKind::Convert)->List(), i);
    EXPECT_EQ(row->objectName(), QString("item-%1").arg(i));
    EXPECT_EQ(GetTag(row), i);
    EXPECT_EQ(GetTag(row->findChild<QWidget*>("convertBtn")), i);
    EXPECT_EQ(GetTag(row->findChild<QWidget*>("convertListMenuBtn")), i);
    const FileEntry entry = window_->Tasks().Lookup(i);
    EXPECT_EQ(entry.fullPath, order[i]);
    EXPECT_EQ(entry.filePath + entry.fileName, order[i]);
    EXPECT_EQ(entry.size, static_cast<std::int64_t>(std::filesystem::file_size(order[i])));
    EXPECT_EQ(Name(OperationKind::Convert, i).toStdString(), entry.fileName);
  }
  const QStringList durations = {"00:00:03", "00:00:02", "00:00:01"};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(RowText(OperationKind::Convert, i, "durationLabel"), durations[i]);
  // 2 s of 16-bit stereo at 44100 Hz and a 78-byte header: 352878 bytes.
  EXPECT_EQ(RowText(OperationKind::Convert, 1, "fileSizeLabel"), "344KB");
  EXPECT_TRUE(chooser_->lastMultiple);

  // A single file works the same, and ids go on across pages.
  AddThroughDialog(OperationKind::Speed, {QString::fromStdString(a)});
  ASSERT_EQ(Rows(OperationKind::Speed), 1);
  EXPECT_EQ(RowId(OperationKind::Speed, 0), 3);
  EXPECT_EQ(Row(OperationKind::Speed, 3)->objectName(), "item-3");
}

// Skipped files end in one prompt that names each and says why, once the readable ones are in.
TEST_F(FileListTest, UnreadableAndUnhandledFilesAreSkippedOddMediaIsKept) {
  const std::string tone = test::ToneWav(1);
  struct Case {
    std::string path;
    bool added;
    QString reason;  // of a skipped file
  };
  const std::vector<Case> cases = {
      {test::TextNamedMp3(), false, "文件无法读取"},
      {test::EmptyMp3(), false, "文件无法读取"},
      {CopyAs(tone, "song.ncm"), false, "受保护的格式"},
      {CopyAs(tone, "song.KGMA"), false, "受保护的格式"},
      {test::TempDir() + "/missing.wav", false, "文件不存在"},
      {CopyAs(tone, "中文 歌曲.wav"), true, ""},
      {test::Tone8k(), true, ""},
      {test::TaggedWithTranscoderTexts(), true, ""},
      {test::TaggedWithCover("flac"), true, ""},
      {CopyAs(test::ToneWav(1), "Conversion failed!.wav"), true, ""},
      // A named pipe nobody writes into: a probe that opened it would wait for good.
      {test::TempDir() + "/pipe.wav", false, "不是普通文件"},
  };
  ASSERT_EQ(mkfifo(cases.back().path.c_str(), 0600), 0);
  QStringList paths;
  for (const Case& c : cases) paths << QString::fromStdString(c.path);
  int rowsAtPrompt = -1;
  auto prompt = test::RunModalScript({{"PromptBoxDialog", [&](QWidget* dialog) {
                                         rowsAtPrompt = Rows(OperationKind::Volume);
                                         return test::Press("msgConfirm")(dialog);
                                       }}});
  AddThroughDialog(OperationKind::Volume, paths);
  ASSERT_TRUE(WaitUntil([&] { return prompt->done == 1; }));
  EXPECT_EQ(rowsAtPrompt, std::count_if(cases.begin(), cases.end(), [](const Case& c) { return c.added; }))
      << "the prompt comes once the readable files are in";
  QString expectedPrompt = "以下文件未能添加:";
  for (const Case& c : cases) {
    if (!c.added)
      expectedPrompt +=
          QString("\n%1(%2)").arg(QString::fromStdString(std::filesystem::path(c.path).filename().string()), c.reason);
  }
  EXPECT_EQ(prompt->texts.value(0), expectedPrompt);
  ExpectDialogs({expectedPrompt});
  // Frees a reader that waits on the pipe after all.
  if (const int fd = open(cases.back().path.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) close(fd);
  QStringList names;
  for (int i = 0; i < Rows(OperationKind::Volume); ++i)
    names << Name(OperationKind::Volume, RowId(OperationKind::Volume, i));
  QStringList expected;
  for (const Case& c : cases)
    if (c.added) expected << QString::fromStdString(std::filesystem::path(c.path).filename().string());
  EXPECT_EQ(names, expected);
  // Skipped files take no id.
  EXPECT_EQ(RowId(OperationKind::Volume, 0), 0);
  EXPECT_EQ(RowId(OperationKind::Volume, 3), 3);
}

TEST_F(FileListTest, EachPageOffersItsFilter) {
  const QString audio =
      "*.mp3;*.aac;*.wma;*.ogg;*.m4a;*.flac;*.ape;*.wav;*.m4r;*.amr;*.mka;*.au;*.caf;*.ac3;*.mp2;*.aiff;*."
      "voc;*.wv;"
      "*.mmf;*.aifc;*.3gpp";
  const QString video =
      "*.mp4;*.flv;*.wmv;*.avi;*.mov;*.mkv;*.m4v;*.f4v;*.ts;*.mts;*.rm;*.rmvb;*.m3u8;*.webm;*.mpg;*.mpeg;*."
      "asf;*.dat;"
      "*.3gp;*.3g2;*.vob;*ogv;*.divx;*.mxf";
  const QString extract =
      "*.mp3;*.aac;*.wma;*.m4a;*.ogg;*.flac;*.wav;*.mp4;*.flv;*.wmv;*.avi;*.mov;*.mkv;*.m4v;*.f4v;*.ts;*.mts;"
      "*.rm;"
      "*.rmvb;*.m3u8;*.webm;*.mpg;*.mpeg;*.asf;*.dat;*.3gp;*.3g2;*.vob;*ogv;*.divx;*.mxf";
  struct Case {
    OperationKind kind;
    QString description;
    QString patterns;
  };
  const std::vector<Case> cases = {
      {OperationKind::Convert, "全部格式(" + audio + ";" + video + ")", audio + ";" + video},
      {OperationKind::Merge, "音频文件(*.mp3;*.aac;*.wma;*.ogg;*.m4a;*.flac;*.wav)",
       "*.mp3;*.aac;*.wma;*.ogg;*.m4a;*.flac;*.wav"},
      {OperationKind::Speed, "音频文件(" + audio + ")", audio},
      {OperationKind::Volume, "音频文件(" + audio + ")", audio},
      {OperationKind::BgMusic, "音频文件(" + audio + ")", audio},
      {OperationKind::Extract, "支持格式(" + extract + ")", extract},
      {OperationKind::Noise,
       "音视频文件(*.mp4;*.flv;*.wmv;*.avi;*.mov;*.mkv;*.3gp;*.mp3;*.aac;*.wma;*.ogg;*.m4a*.flac;*.wav)",
       "*.mp4;*.flv;*.wmv;*.avi;*.mov;*.mkv;*.3gp;*.mp3;*.aac;*.wma;*.ogg;*.m4a;*.flac;*.wav"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    chooser_->lastFilters.clear();
    Click(AddButtonName(c.kind));  // no prepared answer: the dialog is cancelled
    ASSERT_EQ(chooser_->lastFilters.size(), 1u);
    EXPECT_EQ(chooser_->lastFilters[0].description, c.description);
    EXPECT_EQ(chooser_->lastFilters[0].patterns, c.patterns);
    EXPECT_EQ(Rows(c.kind), 0);
  }
  // The music file of the background-music page uses the audio filter, one file at a time.
  Click("add-bg-music-btn");
  ASSERT_EQ(chooser_->lastFilters.size(), 1u);
  EXPECT_EQ(chooser_->lastFilters[0].patterns, audio);
  EXPECT_FALSE(chooser_->lastMultiple);
}

TEST(FileListPatterns, MatchLikeTheDialog) {
  const QString patterns = "*.mp3;*.wav;*ogv";
  const std::vector<std::pair<QString, bool>> cases = {
      {"a.mp3", true},  {"A.MP3", true}, {"clip.ogv", true},   {"x.Wav", true},
      {"a.mp4", false}, {"mp3", false},  {"a.mp3.txt", false}, {"", false},
  };
  for (const auto& [name, match] : cases)
    EXPECT_EQ(MatchesPatterns(name, patterns), match) << name.toStdString();
}

TEST_F(FileListTest, ClearingTheConvertListWaitsForTheQueue) {
  AddThroughDialog(OperationKind::Convert, {QString::fromStdString(test::ToneWav(2))});
  AddThroughDialog(OperationKind::Merge, {QString::fromStdString(test::ToneWav(2))});
  ClickRow(OperationKind::Convert, 0, "convertBtn");
  ExpectDialogs({"正在处理中!"});
  auto answer = test::AnswerNextModal("msgConfirm");
  Click("clear-convert-list-btn");
  EXPECT_TRUE(answer->answered);
  EXPECT_EQ(answer->text, "正在处理中!");
  EXPECT_EQ(Rows(OperationKind::Convert), 1);
  ASSERT_TRUE(WaitUntil([&] { return RowDone(OperationKind::Convert, 0); }));
  ASSERT_TRUE(WaitUntil([&] { return window_->Queue()->BusyTasks().empty(); }));
  Click("clear-convert-list-btn");
  EXPECT_EQ(Rows(OperationKind::Convert), 0);
  // The entries stay filed; the merge list is cleared at once.
  EXPECT_TRUE(window_->Tasks().Contains(0));
  Click("clear-merge-list-btn");
  EXPECT_EQ(Rows(OperationKind::Merge), 0);
}

TEST_F(FileListTest, OutputFolderOpensFromEveryButtonAndRowMenu) {
  AddThroughDialog(OperationKind::Extract, {QString::fromStdString(test::ToneWav(1))});
  for (const char* name : {"open-convert-dir-btn", "open-merge-dir-btn", "merge-open-dir-btn"}) Click(name);
  PostList(WM_LIST_OPEN_DIR, OperationKind::Extract, 0);
  PostList(WM_LIST_OPEN_DIR, OperationKind::Extract, 77);  // no entry: nothing opens
  ASSERT_EQ(opened_->urls.size(), 4);
  for (const QUrl& url : opened_->urls) EXPECT_EQ(url.toLocalFile().toStdString(), outputDir_);
}

TEST_F(FileListTest, MergeOrderButtonsSwapTheFilesAndTheMergeOrder) {
  const std::string tone = test::ToneWav(1, 1000);
  const std::string silence =
      test::MakeMedia("silence-2s.wav", {"-f", "lavfi", "-i", "anullsrc=r=44100:cl=stereo", "-t", "2"});
  const std::string third = test::ToneWav(1, 500);
  AddThroughDialog(OperationKind::Merge, {QString::fromStdString(tone), QString::fromStdString(silence),
                                          QString::fromStdString(third)});
  ASSERT_EQ(Rows(OperationKind::Merge), 3);
  auto names = [&] {
    QStringList list;
    for (int i = 0; i < 3; ++i) list << Name(OperationKind::Merge, i);
    return list;
  };
  const QStringList start = names();
  ClickRow(OperationKind::Merge, 0, "moveUpBtn");    // first row up: nothing
  ClickRow(OperationKind::Merge, 2, "moveDownBtn");  // last row down: nothing
  EXPECT_EQ(names(), start);
  ClickRow(OperationKind::Merge, 1, "moveUpBtn");  // the silence becomes the first input
  EXPECT_EQ(names(), (QStringList{start[1], start[0], start[2]}));
  EXPECT_EQ(window_->Tasks().Lookup(0).fullPath, silence);
  EXPECT_EQ(window_->Tasks().Lookup(1).fullPath, tone);
  EXPECT_EQ(RowText(OperationKind::Merge, 0, "durationLabel"), "00:00:02");
  EXPECT_EQ(Row(OperationKind::Merge, 0)->objectName(), "item-0");  // rows and tags stay

  Click("merge-btn");
  ASSERT_TRUE(WaitUntil(
      [&] { return FindControl<QLabel>(window_->Root(), "merge-progress-label")->text() == "100%" && MergeOver(); }));
  const auto results = test::FilesContaining(outputDir_, "合并-");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_NEAR(test::Probe(results[0]).durationSec, 4.0, 0.2);
  EXPECT_LT(test::MeasureLevel(results[0], 0.1, 1.5).maxDb, -80);  // silence first
  EXPECT_GT(test::MeasureLevel(results[0], 2.2, 0.6).maxDb, -40);  // then the tone
}

TEST_F(FileListTest, RemoveTakesTheRowAndKeepsTheEntry) {
  AddThroughDialog(OperationKind::Speed,
                   {QString::fromStdString(test::ToneWav(1)), QString::fromStdString(test::ToneWav(2))});
  PostList(WM_LIST_REMOVE, OperationKind::Speed, 5);    // no such row
  PostList(WM_LIST_REMOVE, OperationKind::Convert, 0);  // not in that list
  EXPECT_EQ(Rows(OperationKind::Speed), 2);
  PostList(WM_LIST_REMOVE, OperationKind::Speed, 0);
  ASSERT_EQ(Rows(OperationKind::Speed), 1);
  EXPECT_EQ(RowId(OperationKind::Speed, 0), 1);
  EXPECT_TRUE(window_->Tasks().Contains(0));
}

TEST_F(FileListTest, DeleteAsksThenRemovesTheRowAndTheFile) {
  const std::string file = CopyAs(test::ToneWav(1), "to delete.wav");
  AddThroughDialog(OperationKind::Convert, {QString::fromStdString(file)});
  ExpectDialogs({"确定要删除吗?", "确定要删除吗?"});

  auto declined = test::AnswerNextModal("msgCancel");
  PostList(WM_LIST_DELETE, OperationKind::Convert, 0);
  ASSERT_TRUE(declined->answered);
  EXPECT_EQ(declined->text, "确定要删除吗?");
  EXPECT_EQ(Rows(OperationKind::Convert), 1);
  EXPECT_TRUE(std::filesystem::exists(file));

  auto confirmed = test::AnswerNextModal("msgConfirm");
  PostList(WM_LIST_DELETE, OperationKind::Convert, 0);
  ASSERT_TRUE(confirmed->answered);
  EXPECT_EQ(Rows(OperationKind::Convert), 0);
  EXPECT_FALSE(std::filesystem::exists(file));

  // An id without an entry asks nothing (the dialogs that opened are checked at the end).
  auto none = test::AnswerNextModal("msgConfirm");
  PostList(WM_LIST_DELETE, OperationKind::Convert, 42);
  EXPECT_FALSE(none->answered);
  none->cancelled = true;
}

TEST_F(FileListTest, AddToMessagesCopyTheFileToTheTargetPageAndSwitchToIt) {
  const std::string file = test::ToneWav(2);
  AddThroughDialog(OperationKind::Extract, {QString::fromStdString(file)});
  struct Case {
    unsigned message;
    OperationKind target;
    int pageIndex;
  };
  const std::vector<Case> cases = {
      {WM_LIST_ADD_TO_CONVERT, OperationKind::Convert, 2},
      {WM_LIST_ADD_TO_SPEED, OperationKind::Speed, 4},
      {WM_LIST_ADD_TO_NOISE, OperationKind::Noise, 6},
      {WM_LIST_ADD_TO_VOLUME, OperationKind::Volume, 7},
  };
  int nextId = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    window_->Context().selectPage("audio-cut");
    Pump();
    PostList(c.message, OperationKind::Extract, 0);
    ASSERT_EQ(Rows(c.target), 1);
    EXPECT_EQ(RowId(c.target, 0), nextId);
    EXPECT_EQ(Name(c.target, nextId), Name(OperationKind::Extract, 0));
    EXPECT_EQ(RowText(c.target, nextId, "durationLabel"), "00:00:02");
    EXPECT_EQ(window_->Tasks().Lookup(nextId).fullPath, file);
    EXPECT_EQ(window_->CurrentPage(), c.pageIndex);
    ++nextId;
  }
  // An id without an entry adds nothing and stays on the page.
  window_->Context().selectPage("audio-cut");
  Pump();
  PostList(WM_LIST_ADD_TO_CONVERT, OperationKind::Extract, 99);
  EXPECT_EQ(Rows(OperationKind::Convert), 1);
  EXPECT_EQ(window_->CurrentPage(), 0);
}

TEST_F(FileListTest, AddToSkipsAFileThatIsGone) {
  const std::string file = CopyAs(test::ToneWav(1), "soon gone.wav");
  AddThroughDialog(OperationKind::Speed, {QString::fromStdString(file)});
  std::filesystem::remove(file);
  auto prompt = test::AnswerNextModal("msgConfirm");
  PostList(WM_LIST_ADD_TO_CONVERT, OperationKind::Speed, 0);
  EXPECT_EQ(Rows(OperationKind::Convert), 0);
  EXPECT_EQ(prompt->text, "以下文件未能添加:\nsoon gone.wav(文件不存在)");
  ExpectDialogs({prompt->text});
}

TEST_F(FileListTest, DroppedFilesAreAddedAsTheDialogWouldAddThem) {
  const std::string wav = test::ToneWav(1);
  const std::string video = test::VideoWithSound(1);
  const std::string text = test::TextNamedMp3();
  QMimeData mime;
  mime.setUrls(
      {QUrl::fromLocalFile(QString::fromStdString(video)), QUrl::fromLocalFile(QString::fromStdString(wav)),
       QUrl::fromLocalFile(QString::fromStdString(text)),
       QUrl::fromLocalFile(QString::fromStdString(test::TempDir())), QUrl("https://example.com/a.mp3")});
  struct Case {
    OperationKind kind;
    QStringList names;  // what the page's filter and the probe let in, in drop order
  };
  const QString videoName = QString::fromStdString(std::filesystem::path(video).filename().string());
  const QString wavName = QString::fromStdString(std::filesystem::path(wav).filename().string());
  const std::vector<Case> cases = {
      {OperationKind::Extract, {videoName, wavName}},
      {OperationKind::Merge, {wavName}},  // the merge filter offers no video
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    QWidget* viewport = PageOf(c.kind)->List()->viewport();
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    auto prompt = test::AnswerNextModal("msgConfirm");
    QApplication::sendEvent(viewport, &drop);
    EXPECT_TRUE(drop.isAccepted());
    WaitForRows();
    ASSERT_TRUE(WaitUntil([&] { return prompt->answered; }));
    EXPECT_EQ(prompt->text, "以下文件未能添加:\ntext-named.mp3(文件无法读取)");
    ExpectDialogs({prompt->text});
    QStringList names;
    for (int i = 0; i < Rows(c.kind); ++i) names << Name(c.kind, RowId(c.kind, i));
    EXPECT_EQ(names, c.names);
  }
  // Nothing the page takes: the drop is refused (over the shown page, as a real drag is).
  Click("audio-merge");
  QMimeData only;
  only.setUrls({QUrl::fromLocalFile(QString::fromStdString(video))});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &only, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(PageOf(OperationKind::Merge)->List()->viewport(), &enter);
  EXPECT_FALSE(enter.isAccepted());
}

TEST_F(FileListTest, BackgroundMusicFileIsChosenOnlyWhenItExists) {
  const std::string music = test::ToneMp3(2);
  auto* edit = FindControl<QLineEdit>(window_->Root(), "bg-music-edit");
  for (const std::string& refused : {test::TempDir() + "/none.mp3", test::NamedPipe()}) {
    chooser_->AddFiles({QString::fromStdString(refused)});
    Click("add-bg-music-btn");
    EXPECT_EQ(edit->text(), "") << refused;
  }
  chooser_->AddFiles({QString::fromStdString(music)});
  Click("add-bg-music-btn");
  EXPECT_EQ(edit->text().toStdString(), music);
  Click("add-bg-music-btn");  // cancelled: the choice stays
  EXPECT_EQ(edit->text().toStdString(), music);
}

}  // namespace
}  // namespace tw
