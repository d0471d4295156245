// The settings dialog against the real settings file: what it shows when it opens, every choice
// stored at once, the output folder chosen through the replaceable chooser and its write test,
// and broken or unwritable settings files.
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <filesystem>
#include <fstream>

#include "app/SettingsFile.h"
#include "tests/support/QtDialogs.h"
#include "tests/support/QtPages.h"
#include "tests/support/TestMedia.h"
#include "ui/dialogs/SetingDialog.h"

namespace tw {
namespace {

namespace fs = std::filesystem;
using test::Pump;

class SetingDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto chooser = std::make_unique<test::PresetFileChooser>();
    chooser_ = chooser.get();
    SetFileChooser(std::move(chooser));
    auto urls = std::make_unique<test::RecordingUrlOpener>();
    urls_ = urls.get();
    SetUrlOpener(std::move(urls));
    Reset();
  }
  void TearDown() override {
    dialogs_.Check();
    delete dialog_.data();
    SetFileChooser(nullptr);
    SetUrlOpener(nullptr);
    std::error_code ignored;
    fs::remove_all(Ini(), ignored);
    Pump();
  }
  static std::string Ini() { return SettingsFile::Instance().Path(); }
  static void Reset() {
    std::error_code ignored;
    fs::remove_all(Ini(), ignored);
  }
  static void WriteIni(const std::string& text) { std::ofstream(Ini(), std::ios::binary) << text; }
  static int Stored(const char* key) { return SettingsFile::Instance().GetInt(kSettingsSection, key, -1); }
  static std::string StoredText(const char* key) {
    return SettingsFile::Instance().GetString(kSettingsSection, key, "<missing>");
  }

  void Open() {
    delete dialog_.data();
    dialog_ = new SetingDialog(nullptr);
    ASSERT_NO_THROW(dialog_->Create());
    dialog_->show();
    Pump();
    dialogs_.Expect({"系统设置"});
  }
  QAbstractButton* Button(const char* name) { return dialog_->findChild<QAbstractButton*>(name); }
  bool Checked(const char* name) { return Button(name)->isChecked(); }
  QLineEdit* OutputDir() { return dialog_->findChild<QLineEdit*>("output-dir"); }
  // Clicks name; the prompt it opens ("" for none) is answered.
  void ClickExpecting(const char* name, const QString& prompt) {
    auto answer = test::AnswerNextModal("msgConfirm", 2000);
    Button(name)->click();
    Pump();
    answer->cancelled = true;
    EXPECT_EQ(answer->answered ? answer->text : QString(), prompt) << name;
    if (!prompt.isEmpty()) dialogs_.Expect({prompt});
  }

  test::PresetFileChooser* chooser_ = nullptr;
  test::RecordingUrlOpener* urls_ = nullptr;
  QPointer<SetingDialog> dialog_;
  test::ExpectedDialogs dialogs_;
};

TEST_F(SetingDialogTest, WithoutASettingsFileItShowsTheDefaultsAndStoresNothing) {
  const std::string documents = std::string(getenv("HOME")) + "/Documents";
  fs::create_directories(documents);
  std::error_code ignored;
  fs::remove_all(documents + "/Tunewell", ignored);
  Open();
  EXPECT_EQ(dialog_->objectName(), "系统设置");
  EXPECT_EQ(OutputDir()->text().toStdString(), documents + "/Tunewell");
  EXPECT_TRUE(fs::is_directory(documents + "/Tunewell"));
  EXPECT_TRUE(Checked("audio-standard-quality"));
  EXPECT_FALSE(Checked("audio-high-quality"));
  EXPECT_TRUE(Checked("window-close-exit"));
  EXPECT_FALSE(Checked("window-close-tray"));
  EXPECT_FALSE(fs::exists(Ini())) << "opening the dialog is no choice";
}

TEST_F(SetingDialogTest, ItShowsWhatTheFileHolds) {
  struct Case {
    const char* file;
    bool high;
    bool tray;
  };
  const std::vector<Case> cases = {
      {"[global]\naudio-quality=1\nwindow-close=1\n", true, true},
      {"[global]\r\naudio-quality=0\r\nwindow-close=1\r\n", false, true},
      {"[GLOBAL]\n audio-quality = 7 \n", true, false},
      {"[global]\naudio-quality=abc\nwindow-close=\n", false, false},
      {"\xEF\xBB\xBF[global]\nwindow-close=2x\n", false, true},
      {"\x01\x02 not an ini \xff\xfe\n[[[\n=\n", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    WriteIni(c.file);
    Open();
    EXPECT_EQ(Checked("audio-high-quality"), c.high);
    EXPECT_EQ(Checked("audio-standard-quality"), !c.high);
    EXPECT_EQ(Checked("window-close-tray"), c.tray);
    EXPECT_EQ(Checked("window-close-exit"), !c.tray);
  }
}

TEST_F(SetingDialogTest, EveryChoiceIsStoredAtOnceAlsoInABrokenFile) {
  struct Step {
    const char* option;
    const char* key;
    int value;
  };
  const std::vector<Step> steps = {
      {"audio-high-quality", kKeyAudioQuality, 1}, {"audio-standard-quality", kKeyAudioQuality, 0},
      {"audio-high-quality", kKeyAudioQuality, 1}, {"window-close-tray", kKeyWindowClose, 1},
      {"window-close-exit", kKeyWindowClose, 0},   {"window-close-tray", kKeyWindowClose, 1},
  };
  for (const char* start : {"", "\x01garbage without a section\n[global\nwindow-close\n"}) {
    SCOPED_TRACE(start);
    Reset();
    if (*start) WriteIni(start);
    Open();
    for (const Step& s : steps) {
      Button(s.option)->click();
      Pump();
      EXPECT_EQ(Stored(s.key), s.value) << s.option;
    }
    // Closing keeps what was chosen, and the next opening shows it.
    Button("closebtn")->click();
    Pump();
    EXPECT_TRUE(dialog_.isNull() || !dialog_->isVisible());
    Open();
    EXPECT_TRUE(Checked("audio-high-quality"));
    EXPECT_TRUE(Checked("window-close-tray"));
  }
}

TEST_F(SetingDialogTest, AChoiceThatCannotBeStoredIsRefusedAndUndone) {
  Open();
  // A folder where the settings file belongs: no write can replace it.
  fs::create_directories(Ini());
  ClickExpecting("audio-high-quality", "设置保存失败!");
  EXPECT_TRUE(Checked("audio-standard-quality"));
  ClickExpecting("window-close-tray", "设置保存失败!");
  EXPECT_TRUE(Checked("window-close-exit"));

  const std::string chosen = test::TempDir();
  const QString before = OutputDir()->text();
  chooser_->AddFolder(QString::fromStdString(chosen));
  ClickExpecting("choose-dir", "设置保存失败!");
  EXPECT_EQ(OutputDir()->text(), before);
}

TEST_F(SetingDialogTest, TheOutputFolderIsChosenThroughTheChooserAndWriteTested) {
  WriteIni("[global]\noutput-dir=" + test::TempDir() + "\n");
  Open();
  const std::string stored = StoredText(kKeyOutputDir);
  EXPECT_EQ(OutputDir()->text().toStdString(), stored);

  // Cancelled: nothing changes.
  ClickExpecting("choose-dir", "");
  EXPECT_EQ(chooser_->lastFolderTitle, "选择保存目录");
  EXPECT_EQ(chooser_->lastStartFolder.toStdString(), stored);
  EXPECT_EQ(StoredText(kKeyOutputDir), stored);

  // Refused: nothing changes, nothing is left behind.
  std::string longPath = test::TempDir();
  while (longPath.size() <= SetingDialog::kMaxFolderBytes) longPath += "/目录目录目录目录目录目录目录目录";
  fs::create_directories(longPath);
  struct Refusal {
    std::string folder;
    const char* prompt;
  };
  // The settings file would hand these back trimmed or folded: another folder.
  const std::string trailingBlank = test::TempDir() + "/输出 ";
  const std::string lineBreak = test::TempDir() + "/out\nput";
  fs::create_directories(trailingBlank);
  fs::create_directories(lineBreak);
  std::vector<Refusal> refusals = {
      {"/proc", "该目录没有写入权限!"},          {test::TempDir() + "/not there", "该目录没有写入权限!"},
      {test::ToneWav(1), "该目录没有写入权限!"}, {longPath, "该目录路径过长!"},
      {trailingBlank, "目录名不能以空格结尾!"},  {lineBreak, "目录名不能包含换行!"},
  };
  if (geteuid() != 0) {
    const std::string readOnly = test::TempDir();
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
    refusals.push_back({readOnly, "该目录没有写入权限!"});
  }
  for (const Refusal& r : refusals) {
    chooser_->AddFolder(QString::fromStdString(r.folder));
    SCOPED_TRACE(r.folder);
    ClickExpecting("choose-dir", r.prompt);
    EXPECT_EQ(OutputDir()->text().toStdString(), stored);
    EXPECT_EQ(StoredText(kKeyOutputDir), stored);
  }

  // Accepted, hostile name and all; a file of the user's named like the probe stays as it is.
  const std::string chosen = test::TempDir() + "/-$(x) 'q\" 输出";
  fs::create_directories(chosen);
  std::ofstream(chosen + "/TunewellTmp") << "mine";
  chooser_->AddFolder(QString::fromStdString(chosen));
  ClickExpecting("choose-dir", "");
  EXPECT_EQ(OutputDir()->text().toStdString(), chosen);
  EXPECT_EQ(StoredText(kKeyOutputDir), chosen);
  EXPECT_EQ(GetOutputFolder(), chosen);
  EXPECT_EQ(test::FileNames(chosen), std::vector<std::string>{"TunewellTmp"});
  std::ifstream mine(chosen + "/TunewellTmp");
  std::string text;
  mine >> text;
  EXPECT_EQ(text, "mine");
}

TEST_F(SetingDialogTest, OpenDirOpensTheTypedFolderWithoutStoringIt) {
  const std::string stored = test::TempDir();
  WriteIni("[global]\noutput-dir=" + stored + "\n");
  Open();
  ClickExpecting("open-dir", "");
  const std::string typed = test::TempDir() + "/typed 目录";
  fs::create_directories(typed);
  OutputDir()->setText(QString::fromStdString(typed));
  ClickExpecting("open-dir", "");
  ASSERT_EQ(urls_->urls.size(), 2);
  EXPECT_EQ(urls_->urls[0].toLocalFile().toStdString(), stored);
  EXPECT_EQ(urls_->urls[1].toLocalFile().toStdString(), typed);
  EXPECT_EQ(StoredText(kKeyOutputDir), stored);

  OutputDir()->setText("/no/such/folder");
  ClickExpecting("open-dir", "该目录不存在!");
  urls_->handled = false;
  OutputDir()->setText(QString::fromStdString(typed));
  ClickExpecting("open-dir", "无法打开该目录!");
  EXPECT_EQ(StoredText(kKeyOutputDir), stored);
}

}  // namespace
}  // namespace tw

namespace tw {
namespace {

// "同时处理任务数": 1 up to the number of cores, 1 without a stored choice; a value out of that
// range shows as its nearest; every choice is stored at once.
TEST_F(SetingDialogTest, ParallelJobsOffersOneUpToTheCores) {
  const int cores = MaxParallelJobs();
  const struct {
    std::string file;
    int shown;
  } cases[] = {{"", 1}, {"[global]\nparallel-jobs=0\n", 1}, {"[global]\nparallel-jobs=999\n", cores}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Reset();
    if (!c.file.empty()) WriteIni(c.file);
    Open();
    auto* jobs = dialog_->findChild<QComboBox*>("parallel-jobs");
    ASSERT_NE(jobs, nullptr);
    EXPECT_EQ(jobs->count(), cores);
    EXPECT_EQ(jobs->currentText().toInt(), c.shown);
    EXPECT_EQ(ParallelJobs(), c.shown);
  }
  Reset();
  Open();
  auto* jobs = dialog_->findChild<QComboBox*>("parallel-jobs");
  EXPECT_FALSE(fs::exists(Ini())) << "opening the dialog is no choice";
  jobs->setCurrentIndex(cores - 1);
  Pump();
  EXPECT_EQ(Stored(kKeyParallelJobs), cores);
}

}  // namespace
}  // namespace tw
