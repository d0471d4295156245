// How results get their names, on a real file system: jobs and programs publishing one name at
// once, a name held by a file, a folder or a link, a crash between writing and publishing, and
// names at the file system's limit.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "tasks/ResultFile.h"
#include "tests/support/TestEnv.h"
#include "tests/support/TestMedia.h"

namespace tw {
namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes text as a job does, under the partial name, and publishes it.
std::string WriteAndPublish(const std::string& designed, const std::string& text) {
  const ResultFile result(designed);
  std::ofstream(result.PartialPath()) << text;
  return result.Publish();
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

bool ValidUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

TEST(ResultFile, EveryJobKeepsItsOwnResultWhoeverHoldsTheName) {
  const std::string cjk255 = [] {
    std::string stem;
    while (stem.size() + 3 + 4 <= 255) stem += "录";  // three bytes each
    while (stem.size() + 4 < 255) stem += "x";
    return stem + ".mp3";
  }();
  ASSERT_EQ(cjk255.size(), 255u);
  struct Case {
    const char* what;
    std::string name;
    int jobs;            // jobs of this process publishing the name one after the other
    int programs;        // processes publishing it at the same moment
    const char* heldBy;  // "", "file", "folder" or "link": what holds the name beforehand
  };
  const Case cases[] = {
      {"one job, free name", "x.mp3", 1, 0, ""},
      {"three jobs, one name", "x.mp3", 3, 0, ""},
      {"eight programs at once", "clip-变速-20261209025156.wav", 0, 8, ""},
      {"a file of another program", "song.mp3", 2, 0, "file"},
      {"a folder", "song.flac", 1, 0, "folder"},
      {"a dangling link", "song.ogg", 1, 0, "link"},
      {"no extension", "noext", 2, 0, ""},
      {"a 255-byte name", cjk255, 3, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = test::TempDir();
    const std::string designed = folder + "/" + c.name;
    if (std::string(c.heldBy) == "file") std::ofstream(designed) << "precious";
    if (std::string(c.heldBy) == "folder") fs::create_directory(designed);
    if (std::string(c.heldBy) == "link") fs::create_symlink(folder + "/nowhere", designed);
    const size_t held = *c.heldBy ? 1 : 0;

    std::set<std::string> published;
    for (int j = 0; j < c.jobs; ++j) published.insert(WriteAndPublish(designed, "job " + std::to_string(j)));
    std::vector<pid_t> children;
    for (int p = 0; p < c.programs; ++p) {
      const pid_t child = fork();
      if (child == 0) _exit(WriteAndPublish(designed, "program " + std::to_string(p)).empty() ? 1 : 0);
      children.push_back(child);
    }
    for (pid_t child : children) {
      int status = 0;
      waitpid(child, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const int writers = c.jobs + c.programs;
    published.erase("");
    if (c.programs == 0) {
      EXPECT_EQ(published.size(), static_cast<size_t>(writers));
    }

    // Every writer's text is in a file of its own, no partial file is left, and what held the
    // name beforehand is as it was.
    const std::set<std::string> names = Names(folder);
    EXPECT_EQ(names.size(), static_cast<size_t>(writers) + held);
    std::set<std::string> texts;
    for (const std::string& name : names) {
      EXPECT_FALSE(IsPartialName(name)) << name;
      EXPECT_LE(name.size(), 255u);
      EXPECT_TRUE(ValidUtf8(name)) << name;
      const std::string path = folder + "/" + name;
      if (fs::is_regular_file(fs::symlink_status(path)) && path != designed) texts.insert(Read(path));
    }
    if (!held) texts.insert(Read(designed));
    EXPECT_EQ(texts.size(), static_cast<size_t>(writers));
    if (std::string(c.heldBy) == "file") {
      EXPECT_EQ(Read(designed), "precious");
    }
    if (std::string(c.heldBy) == "folder") {
      EXPECT_TRUE(fs::is_directory(designed));
    }
    if (std::string(c.heldBy) == "link") {
      EXPECT_TRUE(fs::is_symlink(designed));
    }
    // The first job of a free name takes it as designed; the next ones "-2", "-3" ...
    if (c.jobs > 0 && !held) {
      EXPECT_TRUE(published.count(designed));
    }
    if (c.jobs > 1 || held) {
      EXPECT_TRUE(published.count(NumberedResultPath(designed, 2)));
    }
  }
}

TEST(ResultFile, NumberedNamesKeepTheExtensionAndFitTheFileSystem) {
  const struct {
    std::string path;
    int n;
    size_t nameMax;
    std::string want;
  } cases[] = {
      {"/o/x.mp3", 1, 255, "/o/x.mp3"},
      {"/o/x.mp3", 2, 255, "/o/x-2.mp3"},
      {"/o/a.b.ogg", 12, 255, "/o/a.b-12.ogg"},
      {"/o/noext", 3, 255, "/o/noext-3"},
      {"/o/.hidden", 2, 255, "/o/.hidden-2"},
      // Too long: the middle of the stem goes, at whole characters; its end (the operation and
      // the time of a timestamped name) stays.
      {"/o/abcdefgh.mp3", 2, 12, "/o/abcfgh-2.mp3"},
      {"/o/abcdefghij.mp3", 1, 12, "/o/abcdghij.mp3"},
      {"/o/录音录音.wav", 2, 14, "/o/录音-2.wav"},
      {"/o/录音录音.wav", 2, 11, "/o/录-2.wav"},  // cut before a character, never inside one
      {"/o/" + std::string(240, 'a') + "-变速-20261209060712.wav", 2, 255,
       "/o/" + std::string(227, 'a') + "-变速-20261209060712-2.wav"},
  };
  for (const auto& c : cases) EXPECT_EQ(NumberedResultPath(c.path, c.n, c.nameMax), c.want) << c.path;
}

TEST(ResultFile, OnlyARegularPartialFileIsPublished) {
  // Something else in place of the partial file when the job ends (a link another user of the
  // folder put there) is never given the result's name, and what it points to is left alone.
  const std::string folder = test::TempDir();
  std::ofstream(folder + "/victim.txt") << "precious";
  const ResultFile result(folder + "/x.mp3");
  fs::create_symlink(folder + "/victim.txt", result.PartialPath());
  int error = 0;
  EXPECT_EQ(result.Publish(&error), "");
  EXPECT_NE(error, 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder + "/x.mp3")));
  EXPECT_EQ(Read(folder + "/victim.txt"), "precious");
  // Two partial names for one result never coincide, in one process or across a reused pid.
  EXPECT_NE(ResultFile(folder + "/x.mp3").PartialPath(), ResultFile(folder + "/x.mp3").PartialPath());
}

TEST(ResultFile, ARecordingClaimsAFreeNameWhenItStarts) {
  const std::string folder = test::TempDir();
  std::ofstream(folder + "/take.mp3") << "precious";
  fs::create_symlink("/dev/full", folder + "/take-2.mp3");
  EXPECT_EQ(ClaimResultName(folder + "/new.mp3"), folder + "/new.mp3");
  EXPECT_EQ(ClaimResultName(folder + "/take.mp3"), folder + "/take-3.mp3");
  EXPECT_EQ(Read(folder + "/take.mp3"), "precious");
  EXPECT_TRUE(fs::is_symlink(folder + "/take-2.mp3"));
  EXPECT_EQ(fs::file_size(folder + "/take-3.mp3"), 0u);
  int error = 0;
  EXPECT_EQ(ClaimResultName(folder + "/gone/x.mp3", &error), "");
  EXPECT_EQ(error, ENOENT);
}

TEST(ResultFile, ACrashLeavesOnlyAPartialFileThatALaterStartRemoves) {
  const std::string folder = test::TempDir();
  // A job killed between writing and publishing: its partial file stays, and no result.
  const pid_t child = fork();
  if (child == 0) {
    const ResultFile result(folder + "/x.mp3");
    std::ofstream(result.PartialPath()) << "half";
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  // A partial file of this running process, and one that is not this program's at all.
  const ResultFile mine(folder + "/y.mp3");
  std::ofstream(mine.PartialPath()) << "being written";
  std::ofstream(folder + "/.tw-notes.part") << "the user's";
  ASSERT_EQ(Names(folder).size(), 3u);
  EXPECT_FALSE(fs::exists(folder + "/x.mp3"));

  EXPECT_EQ(RemoveStalePartials(folder, std::chrono::hours(1)), 0);  // too young
  EXPECT_EQ(RemoveStalePartials(folder, std::chrono::seconds(0)), 1);
  EXPECT_EQ(Names(folder),
            (std::set<std::string>{fs::path(mine.PartialPath()).filename().string(), ".tw-notes.part"}));
  EXPECT_TRUE(mine.Discard());
  EXPECT_FALSE(mine.Discard());
  EXPECT_EQ(RemoveStalePartials(folder + "/missing", std::chrono::seconds(0)), 0);
}

}  // namespace
}  // namespace tw
