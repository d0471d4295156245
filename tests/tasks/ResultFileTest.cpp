// How results get their names, on a real file system: jobs and programs publishing one name at
// once, a name held by a file, a folder or a link, a crash between writing and publishing, and
// names at the file system's limit.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "tasks/ResultFile.h"
#include "tests/support/TestEnv.h"
#include "tests/support/TestMedia.h"

namespace tw {
namespace {

namespace fs = std::filesystem;

// Writes text as a job does, under the partial name, and publishes it.
std::string WriteAndPublish(const std::string& designed, const std::string& text) {
  const ResultFile result(designed);
  std::ofstream(result.PartialPath()) << text;
  return result.Publish();
}

TEST(ResultFile, EveryJobKeepsItsOwnResultWhoeverHoldsTheName) {
  const struct {
    const char* what;
    std::string name;
    int jobs;            // jobs of this process publishing the name one after the other
    int programs;        // processes publishing it at the same moment
    std::string heldBy;  // "", "file", "folder" or "link": what holds the name beforehand
  } cases[] = {
      {"one job, free name", "x.mp3", 1, 0, ""},
      {"three jobs, one name", "x.mp3", 3, 0, ""},
      {"eight programs at once", "clip-变速-20261209025156.wav", 0, 8, ""},
      {"a file of another program", "song.mp3", 2, 0, "file"},
      {"a folder", "song.flac", 1, 0, "folder"},
      {"a dangling link", "song.ogg", 1, 0, "link"},
      {"no extension", "noext", 2, 0, ""},
      {"a 255-byte name", std::string(245, 'x') + "录音.mp3", 3, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = test::TempDir(), designed = folder + "/" + c.name;
    if (c.heldBy == "file") std::ofstream(designed) << "precious";
    if (c.heldBy == "folder") fs::create_directory(designed);
    if (c.heldBy == "link") fs::create_symlink(folder + "/nowhere", designed);
    std::set<std::string> published;
    for (int j = 0; j < c.jobs; ++j) published.insert(WriteAndPublish(designed, "job " + std::to_string(j)));
    std::vector<pid_t> children;
    for (int p = 0; p < c.programs; ++p) {
      children.push_back(fork());
      if (children.back() == 0) _exit(WriteAndPublish(designed, "program " + std::to_string(p)).empty());
    }
    for (pid_t child : children) {
      int status = -1;
      waitpid(child, &status, 0);
      EXPECT_EQ(status, 0);
    }
    // Every writer's text in a file of its own, no partial file left, and what held the name
    // beforehand as it was; the first job of a free name takes it as designed, the next "-2" ...
    const auto names = test::FileNames(folder);
    EXPECT_EQ(names.size(), static_cast<size_t>(c.jobs + c.programs) + !c.heldBy.empty());
    std::set<std::string> texts;
    for (const std::string& name : names) {
      EXPECT_FALSE(IsPartialName(name)) << name;
      EXPECT_LE(name.size(), 255u);
      if (fs::is_regular_file(fs::symlink_status(folder + "/" + name)))
        texts.insert(test::ReadBytes(folder + "/" + name));
    }
    EXPECT_EQ(texts.size(), static_cast<size_t>(c.jobs + c.programs) + (c.heldBy == "file"));
    EXPECT_EQ(published.size(), static_cast<size_t>(c.jobs));
    EXPECT_TRUE(c.heldBy != "file" || test::ReadBytes(designed) == "precious");
    EXPECT_TRUE(c.heldBy != "folder" || fs::is_directory(designed));
    EXPECT_TRUE(c.heldBy != "link" || fs::is_symlink(designed));
    EXPECT_EQ(published.count(designed), c.jobs > 0 && c.heldBy.empty() ? 1u : 0u);
    EXPECT_EQ(published.count(NumberedResultPath(designed, 2)),
              c.jobs > 1 || (c.jobs > 0 && !c.heldBy.empty()) ? 1u : 0u);
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
  EXPECT_EQ(test::ReadBytes(folder + "/victim.txt"), "precious");
  // Two partial names for one result never coincide, in one process or across a reused pid.
  EXPECT_NE(ResultFile(folder + "/x.mp3").PartialPath(), ResultFile(folder + "/x.mp3").PartialPath());
}

TEST(ResultFile, ARecordingClaimsAFreeNameWhenItStarts) {
  const std::string folder = test::TempDir();
  std::ofstream(folder + "/take.mp3") << "precious";
  fs::create_symlink("/dev/full", folder + "/take-2.mp3");
  EXPECT_EQ(ClaimResultName(folder + "/new.mp3"), folder + "/new.mp3");
  EXPECT_EQ(ClaimResultName(folder + "/take.mp3"), folder + "/take-3.mp3");
  EXPECT_EQ(test::ReadBytes(folder + "/take.mp3"), "precious");
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
  ASSERT_EQ(test::FileNames(folder).size(), 3u);
  EXPECT_FALSE(fs::exists(folder + "/x.mp3"));

  EXPECT_EQ(RemoveStalePartials(folder, std::chrono::hours(1)), 0);  // too young
  EXPECT_EQ(RemoveStalePartials(folder, std::chrono::seconds(0)), 1);
  const std::string mineName = fs::path(mine.PartialPath()).filename().string();
  EXPECT_EQ(test::FileNames(folder), (std::vector<std::string>{mineName, ".tw-notes.part"}));
  EXPECT_TRUE(mine.Discard());
  EXPECT_FALSE(mine.Discard());
  EXPECT_EQ(RemoveStalePartials(folder + "/missing", std::chrono::seconds(0)), 0);
}

}  // namespace
}  // namespace tw
