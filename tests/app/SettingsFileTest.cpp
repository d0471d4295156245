#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <thread>

#include "app/IniFile.h"
#include "app/SettingsFile.h"
#include "tests/support/FailingDisk.h"
#include "tests/support/TestEnv.h"
#include "tests/support/TestMedia.h"

namespace fs = std::filesystem;

namespace tw {
namespace {

// A private home for the whole process, set before the settings accessor fixes its path.
const std::string& Home() {
  return test::PrivateHome();
}
const bool kHomeReady = !Home().empty();

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kHomeReady);
    fs::remove_all(Home() + "/data");
    fs::remove_all(Home() + "/Documents");
    fs::remove_all(Home() + "/Desktop");
    fs::remove_all(Home() + "/config");
    fs::create_directories(Home() + "/Documents");
  }
  SettingsFile& S() { return SettingsFile::Instance(); }
  static constexpr const char* G = kSettingsSection;
};

TEST_F(SettingsFileTest, MissingFileGivesEveryDefault) {
  EXPECT_EQ(S().Path(), Home() + "/data/Tunewell/Config/configure.ini");
  EXPECT_TRUE(fs::is_directory(Home() + "/data/Tunewell/Config"));
  EXPECT_FALSE(fs::exists(S().Path()));
  EXPECT_EQ(S().GetInt(G, kKeyAudioQuality, 0), 0);
  EXPECT_EQ(S().GetInt(G, kKeyWindowClose, 0), 0);
  EXPECT_EQ(S().GetInt(G, kKeyVoiceSource, 0), 0);
  EXPECT_EQ(S().GetInt(G, kKeyVoiceSize, 20), 20);
  EXPECT_EQ(S().GetString(G, kKeyOutputDir, ""), "");
  EXPECT_EQ(GetOutputFolder(), Home() + "/Documents/Tunewell");
  EXPECT_TRUE(fs::is_directory(Home() + "/Documents/Tunewell"));
  EXPECT_FALSE(fs::exists(S().Path()));  // reading never creates the file
}

TEST_F(SettingsFileTest, ReadingRules) {
  WriteFile(
      S().Path(),
      "\xEF\xBB\xBF[other]\r\nvoice-size=77\r\n[ Global ]\r\n  Voice-Size = 35 \r\nwindow-close=1abc\r\n"
      "agc-check=abc\r\noutput-dir=\"/tmp/q\"\r\nthis line has no equals sign\r\n");
  EXPECT_EQ(S().GetInt(G, kKeyVoiceSize, 20), 35);  // section and key without regard to case and blanks
  EXPECT_EQ(S().GetInt(G, kKeyWindowClose, 0), 1);  // leading digits count
  EXPECT_EQ(S().GetInt(G, kKeyAgcCheck, 5), 0);     // no digits give 0
  EXPECT_EQ(S().GetInt(G, kKeyNoiseCheck, 9), 9);   // missing key gives the default
  EXPECT_EQ(S().GetString(G, kKeyOutputDir, ""), "/tmp/q");
  std::string cut;
  EXPECT_TRUE(S().GetString(G, kKeyOutputDir, "", cut, 4));
  EXPECT_EQ(cut, "/tm");
  EXPECT_FALSE(S().GetString(G, kKeyUserRealIp, "", cut, 260));
  WriteFile(S().Path(), "[global]\noutput-dir=/媒体/文件夹\n");
  EXPECT_TRUE(S().GetString(G, kKeyOutputDir, "", cut, 6));
  EXPECT_EQ(cut, "/媒");  // never cut inside a character
}

TEST_F(SettingsFileTest, WriteChangesOnlyItsKey) {
  const std::string original =
      "\xEF\xBB\xBF; a comment\r\n[other]\r\nkey=1\r\n[global]\r\nvoice-size=35\r\ngarbage line\r\n"
      "window-close=0\r\n[tail]\r\nx=y\r\n";
  WriteFile(S().Path(), original);
  ASSERT_TRUE(S().WriteInt(G, kKeyWindowClose, 1));
  ASSERT_TRUE(S().WriteString(G, kKeyOutputDir, "/home/u/My Music"));
  ASSERT_TRUE(S().WriteString(G, kKeyUserRealIp, "evil\nvoice-size=99"));
  const std::string text = ReadFile(S().Path());
  EXPECT_EQ(text.rfind(
                "\xEF\xBB\xBF; a comment\r\n[other]\r\nkey=1\r\n[global]\r\nvoice-size=35\r\ngarbage line\r\n"
                "window-close=1\r\n",
                0),
            0u)
      << text;
  EXPECT_NE(text.find("[tail]\r\nx=y\r\n"), std::string::npos);
  EXPECT_EQ(S().GetString(G, kKeyOutputDir, ""), "/home/u/My Music");
  EXPECT_EQ(S().GetInt(G, kKeyVoiceSize, 20), 35);  // a value with a line break cannot plant another key
  EXPECT_EQ(ReadIniValue(S().Path(), "other", "key").value_or(""), "1");
}

TEST_F(SettingsFileTest, BrokenFilesReadAsDefaultsAndRecover) {
  WriteFile(S().Path(), std::string("\0\x01\x02\xff\xfe[glo\0bal]\n\x80\x81=\n", 20));
  EXPECT_EQ(S().GetInt(G, kKeyVoiceSize, 20), 20);
  EXPECT_TRUE(S().WriteInt(G, kKeyVoiceSize, 40));
  EXPECT_EQ(S().GetInt(G, kKeyVoiceSize, 20), 40);

  WriteFile(S().Path(), "");
  EXPECT_EQ(S().GetInt(G, kKeyWindowClose, 0), 0);

  fs::remove(S().Path());
  fs::create_directory(S().Path());  // unreadable as a file
  EXPECT_EQ(S().GetInt(G, kKeyWindowClose, 0), 0);
  EXPECT_FALSE(S().WriteInt(G, kKeyWindowClose, 1));  // reported, nothing crashes
  fs::remove_all(S().Path());

  // A named pipe nobody writes into: reading it must not wait for a writer.
  ASSERT_EQ(mkfifo(S().Path().c_str(), 0600), 0);
  auto answer = std::make_shared<std::promise<int>>();
  std::future<int> read = answer->get_future();
  std::thread([answer] {
    answer->set_value(SettingsFile::Instance().GetInt(kSettingsSection, kKeyWindowClose, 7));
  }).detach();
  ASSERT_EQ(read.wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "the read waits on the pipe";
  EXPECT_EQ(read.get(), 7);
  EXPECT_FALSE(S().WriteInt(G, kKeyWindowClose, 1));
  EXPECT_TRUE(fs::is_fifo(S().Path()));
  fs::remove(S().Path());
}

// Runs WriteIniValue as a user who may write the file but not read it (a read that fails as an
// I/O error or too many open files would): true when the write reported success.
bool WriteWithoutReading(const std::string& path, const std::string& key, const std::string& value) {
  constexpr uid_t kNobody = 65534;
  if (geteuid() != 0) {
    fs::permissions(path, fs::perms::owner_write);
    const bool written = WriteIniValue(path, kSettingsSection, key, value);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    return written;
  }
  // root reads everything: the write runs in a child that has become nobody.
  fs::permissions(fs::path(path).parent_path(), fs::perms::all);
  if (chown(path.c_str(), kNobody, kNobody) != 0) return false;
  fs::permissions(path, fs::perms::owner_write);
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
    _exit(WriteIniValue(path, kSettingsSection, key, value) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << "could not become another user";
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(SettingsFileTest, AWriteAfterAFailedReadChangesNothing) {
  const std::string dir = test::TempDir();
  const std::string path = dir + "/configure.ini";
  const std::string original = "[global]\nvoice-size=35\noutput-dir=/home/u/My Music\nwindow-close=1\n";
  WriteFile(path, original);
  EXPECT_FALSE(WriteWithoutReading(path, kKeyAudioQuality, "1"));
  EXPECT_EQ(ReadFile(path), original) << "every other setting is kept";
  // Read whole again, it takes the write.
  EXPECT_TRUE(WriteIniValue(path, G, kKeyAudioQuality, "1"));
  EXPECT_EQ(ReadIniValue(path, G, kKeyVoiceSize).value_or(""), "35");
  EXPECT_EQ(ReadIniValue(path, G, kKeyAudioQuality).value_or(""), "1");
}

TEST_F(SettingsFileTest, AFullOrReadOnlyDiskFailsTheWriteAndKeepsTheFile) {
  const std::string original = "[global]\nvoice-size=35\noutput-dir=/home/u/My Music\n";
  for (const bool readOnly : {false, true}) {
    SCOPED_TRACE(readOnly ? "read-only" : "full");
    test::SmallDisk disk(16 * 1024);
    if (!disk.Ok()) GTEST_SKIP() << disk.Why();
    const std::string path = disk.Path() + "/configure.ini";
    WriteFile(path, original);
    ASSERT_TRUE(WriteIniValue(path, G, kKeyAudioQuality, "1"));
    const std::string before = ReadFile(path);
    if (readOnly) {
      ASSERT_TRUE(disk.MakeReadOnly());
    } else {
      WriteFile(disk.Path() + "/filler", std::string(64 * 1024, 'x'));  // fills what is left
    }
    EXPECT_FALSE(WriteIniValue(path, G, kKeyAudioQuality, std::string(8 * 1024, '2')));
    EXPECT_EQ(ReadFile(path), before) << "the old file is whole";
    EXPECT_EQ(ReadIniValue(path, G, kKeyVoiceSize).value_or(""), "35");
    EXPECT_FALSE(fs::exists(path + ".tmp." + std::to_string(getpid()))) << "no temporary file is left";
  }
}

TEST_F(SettingsFileTest, AnIoErrorInTheWriteFailsItAndKeepsTheOldFile) {
  using Op = test::FailingDisk::Op;
  const test::FailingDisk::Fault cases[] = {
      {"at the first write", Op::Write, ".tmp.", 0},
      {"half-way through the write", Op::Write, ".tmp.", 4096},
      {"at the flush to the disk", Op::Fsync, ".tmp.", 0},
      {"at the rename over the old file", Op::Rename, "configure.ini", 0},
  };
  const std::string original = "[global]\nvoice-size=35\noutput-dir=/home/u/My Music\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::FailingDisk disk;
    if (!disk.Ok()) GTEST_SKIP() << disk.Why();
    WriteFile(disk.Backing() + "/configure.ini", original);
    ASSERT_TRUE(WriteIniValue(disk.Path() + "/configure.ini", G, kKeyAudioQuality, "1"));
    const std::string before = ReadFile(disk.Backing() + "/configure.ini");
    const std::vector<std::string> names = test::FileNames(disk.Backing());

    disk.Fail(c);
    EXPECT_FALSE(
        WriteIniValue(disk.Path() + "/configure.ini", G, kKeyAudioQuality, std::string(8 * 1024, '2')));
    EXPECT_GT(disk.Failures(), 0) << "the fault was met";
    disk.Heal();
    EXPECT_EQ(ReadFile(disk.Backing() + "/configure.ini"), before) << "the old file is whole";
    EXPECT_EQ(ReadIniValue(disk.Path() + "/configure.ini", G, kKeyVoiceSize).value_or(""), "35");
    EXPECT_EQ(test::FileNames(disk.Backing()), names) << "no temporary file is left";
  }
}

TEST_F(SettingsFileTest, AnIoErrorInTheReadGivesDefaultsAndKeepsTheFile) {
  // Notes before the keys make the file longer than one read, so the error can come half-way.
  std::string original = "[global]\n";
  while (original.size() < 24 * 1024) original += "; a note the user keeps in the settings file\n";
  original += "voice-size=35\nwindow-close=1\n";
  for (const size_t afterBytes : {size_t{0}, size_t{8192}}) {
    SCOPED_TRACE("the read fails after " + std::to_string(afterBytes) + " bytes");
    test::FailingDisk disk;
    if (!disk.Ok()) GTEST_SKIP() << disk.Why();
    WriteFile(disk.Backing() + "/configure.ini", original);
    const std::string path = disk.Path() + "/configure.ini";

    disk.Fail(test::FailingDisk::Op::Read, "configure.ini", afterBytes);
    EXPECT_EQ(ReadIniValue(path, G, kKeyVoiceSize), std::nullopt) << "no value from a half-read file";
    EXPECT_FALSE(WriteIniValue(path, G, kKeyAudioQuality, "1")) << "no rewrite from what could not be read";
    EXPECT_GT(disk.Failures(), 0) << "the fault was met";
    disk.Heal();
    EXPECT_EQ(ReadFile(disk.Backing() + "/configure.ini"), original)
        << "the file is not replaced with defaults";
    EXPECT_EQ(ReadIniValue(path, G, kKeyVoiceSize).value_or(""), "35");
    EXPECT_TRUE(WriteIniValue(path, G, kKeyAudioQuality, "1"));
    EXPECT_EQ(ReadIniValue(path, G, kKeyWindowClose).value_or(""), "1");
  }
}

TEST_F(SettingsFileTest, KeptValuesAreThoseThatReadBackAsWritten) {
  const char* values[] = {"/home/u/My Music", "",    "/a/b ", "/a/b\t",     " /a",   "/a\nb", "/a\rb",
                          "\"/a\"",           "'x'", "\"/a",  "/目录 音乐", "/a/b\r"};
  for (const char* value : values) {
    ASSERT_TRUE(S().WriteString(G, kKeyOutputDir, value));
    EXPECT_EQ(IniKeepsValue(value), S().GetString(G, kKeyOutputDir, "?") == value) << value;
  }
}

TEST_F(SettingsFileTest, FolderRules) {
  // A removed configuration folder comes back at the next access; the next write makes a new file.
  S().WriteInt(G, kKeyAudioQuality, 1);
  fs::remove_all(Home() + "/data/Tunewell");
  EXPECT_EQ(S().GetInt(G, kKeyAudioQuality, 0), 0);
  EXPECT_TRUE(fs::is_directory(Home() + "/data/Tunewell/Config"));
  EXPECT_TRUE(S().WriteInt(G, kKeyAudioQuality, 1));
  EXPECT_TRUE(fs::exists(S().Path()));

  // An output folder that does not exist yet is made with all its parents; trailing blanks go.
  const std::string deep = Home() + "/out/a/b/c";
  S().WriteString(G, kKeyOutputDir, deep + "  \t");
  EXPECT_EQ(GetOutputFolder(), deep);
  EXPECT_TRUE(fs::is_directory(deep));

  // A fresh account without a Documents folder gets one, with the results' folder in it, as the
  // manual says; the desktop is never used.
  S().WriteString(G, kKeyOutputDir, "");
  fs::remove_all(Home() + "/Documents");
  EXPECT_EQ(GetOutputFolder(), Home() + "/Documents/Tunewell");
  EXPECT_TRUE(fs::is_directory(Home() + "/Documents/Tunewell"));
  EXPECT_FALSE(fs::exists(Home() + "/Desktop"));

  // The XDG user-dirs file names the documents folder.
  fs::create_directories(Home() + "/config");
  fs::create_directories(Home() + "/Dokumente");
  WriteFile(Home() + "/config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
  EXPECT_EQ(GetOutputFolder(), Home() + "/Dokumente/Tunewell");
  EXPECT_EQ(GetLocalAppFolder("Packmoor/Temp"), Home() + "/data/Packmoor/Temp");
  EXPECT_TRUE(fs::is_directory(Home() + "/data/Packmoor/Temp"));
}

TEST_F(SettingsFileTest, ConcurrentWritersLoseNothing) {
  constexpr int kRounds = 100;
  S();  // the path is fixed before the children copy the process
  std::vector<pid_t> children;
  for (int c = 0; c < 2; ++c) {
    const pid_t pid = fork();
    if (pid == 0) {
      const std::string key = "process-" + std::to_string(c);
      for (int i = 0; i <= kRounds; ++i) WriteIniValue(S().Path(), G, key, std::to_string(i));
      _exit(0);
    }
    children.push_back(pid);
  }
  // The threads start after the forks: a child must not inherit a lock held by a thread.
  std::thread a([&] {
    for (int i = 0; i <= kRounds; ++i) S().WriteInt(G, "thread-a", i);
  });
  std::thread b([&] {
    for (int i = 0; i <= kRounds; ++i) S().WriteInt(G, "thread-b", i);
  });
  a.join();
  b.join();
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (const char* key : {"thread-a", "thread-b", "process-0", "process-1"})
    EXPECT_EQ(S().GetInt(G, key, -1), kRounds) << key;
}

}  // namespace
}  // namespace tw
