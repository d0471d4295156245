#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "tasks/TaskRecords.h"
#include "tests/support/TestMedia.h"

namespace fs = std::filesystem;

namespace tw {
namespace {

TEST(TaskRecords, IdsIncreaseAcrossPagesAndAreNeverReused) {
  TaskMap tasks;
  // Two files on the convert page, then one on the speed page.
  const int first = tasks.Add(EntryForPath("/m/a.wav"));
  const int second = tasks.Add(EntryForPath("/m/b.wav"));
  const int speed = tasks.Add(EntryForPath("/m/c.mp3"));
  EXPECT_EQ(RowName(first), "item-0");
  EXPECT_EQ(RowName(second), "item-1");
  EXPECT_EQ(RowName(speed), "item-2");

  tasks.Remove(speed);
  const int cutId = tasks.NextTaskId();  // a page that takes the id first and files later
  EXPECT_EQ(cutId, 3);
  tasks.Set(cutId, EntryForPath("/m/cut.mp3"));
  EXPECT_EQ(tasks.Add(FileEntry{}), 4);
  EXPECT_EQ(tasks.Ids(), (std::vector<int>{0, 1, 3, 4}));
  EXPECT_EQ(tasks.PeekNextTaskId(), 5);
  EXPECT_EQ(RowName(kMergeTaskId), "item--1");
}

TEST(TaskRecords, LookupOfAnUnknownIdFilesAnEmptyEntry) {
  TaskMap tasks;
  EXPECT_FALSE(tasks.Find(42, nullptr));
  const FileEntry empty = tasks.Lookup(42);
  EXPECT_TRUE(empty.fullPath.empty());
  EXPECT_EQ(empty.size, 0);
  EXPECT_TRUE(tasks.Contains(42));
  // The counter is not moved by lookups.
  EXPECT_EQ(tasks.Add(FileEntry{}), 0);
}

TEST(TaskRecords, EntryForPathSplitsNameAndFolder) {
  const std::string dir = test::TempDir();
  const struct {
    std::string name;
    std::int64_t bytes;
  } cases[] = {{"plain.wav", 10}, {"中文 名字.mp3", 3}, {"line\nbreak.flac", 0}, {"-lead", 7}, {"a.b.c", 1}};
  for (const auto& c : cases) {
    const std::string path = dir + "/" + c.name;
    std::ofstream(path) << std::string(static_cast<size_t>(c.bytes), 'x');
    const FileEntry e = EntryForPath(path);
    EXPECT_EQ(e.fileName, c.name);
    EXPECT_EQ(e.filePath, dir + "/");
    EXPECT_EQ(e.fullPath, e.filePath + e.fileName);
    EXPECT_EQ(e.size, c.bytes);
  }
  const FileEntry missing = EntryForPath(dir + "/gone.wav");
  EXPECT_EQ(missing.size, 0);
  EXPECT_EQ(EntryForPath("bare.wav").fileName, "bare.wav");
  EXPECT_EQ(EntryForPath("bare.wav").filePath, "");
}

TEST(TaskRecords, ConcurrentAddsGetDistinctIds) {
  TaskMap tasks;
  std::vector<std::thread> threads;
  std::vector<std::vector<int>> ids(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        ids[t].push_back(tasks.Add(FileEntry{}));
        tasks.Lookup(ids[t].back());
      }
    });
  }
  for (auto& th : threads) th.join();
  std::set<int> all;
  for (const auto& v : ids) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), 2000u);
  EXPECT_EQ(*all.rbegin(), 1999);
  EXPECT_EQ(tasks.Size(), 2000u);
}

}  // namespace
}  // namespace tw
