// The program's command line: what Qt is shown, the informational options, the files.
#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <string>
#include <vector>

#include "ui/LaunchArguments.h"

namespace tw {
namespace {

struct Argv {
  explicit Argv(std::vector<std::string> words) : words_(std::move(words)) {
    for (auto& w : words_) pointers_.push_back(w.data());
    pointers_.push_back(nullptr);
  }
  int Count() const { return static_cast<int>(words_.size()); }
  char** Data() { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

QStringList QtPart(LaunchArguments& launch) {
  QStringList part;
  for (int i = 0; i < launch.QtArgc(); ++i) part << QString::fromLocal8Bit(launch.QtArgv()[i]);
  return part;
}

TEST(LaunchArgumentsTest, SplitsAtTheSeparatorAndMakesFilesAbsolute) {
  const QString here = QDir::currentPath();
  struct Case {
    std::vector<std::string> argv;
    QStringList qtPart;
    bool ok;
    QStringList files;
  };
  const std::vector<Case> cases = {
      {{"tunewell"}, {"tunewell"}, true, {}},
      {{"tunewell", "a b.mp3", "/m/歌.wav"},
       {"tunewell", "a b.mp3", "/m/歌.wav"},
       true,
       {here + "/a b.mp3", "/m/歌.wav"}},
      // After "--" every word is a file, even "--" itself and Qt's own option names.
      {{"tunewell", "x.mp3", "--", "-reverse", "--", "-"},
       {"tunewell", "x.mp3"},
       true,
       {here + "/x.mp3", here + "/-reverse", here + "/--", here + "/-"}},
      {{"tunewell", "-odd.mp3"}, {"tunewell", "-odd.mp3"}, false, {}},
      {{"tunewell", "--frobnicate", "--", "a.mp3"}, {"tunewell", "--frobnicate"}, false, {}},
      {{"tunewell", "", "$(x).mp3"}, {"tunewell", "", "$(x).mp3"}, true, {here + "/$(x).mp3"}},
  };
  for (const Case& c : cases) {
    Argv argv(c.argv);
    LaunchArguments launch(argv.Count(), argv.Data());
    EXPECT_EQ(QtPart(launch), c.qtPart) << c.argv.back();
    EXPECT_EQ(launch.QtArgv()[launch.QtArgc()], nullptr);
    EXPECT_FALSE(launch.AnswerInfoOption().has_value());
    EXPECT_EQ(launch.Parse(QtPart(launch)), c.ok) << c.argv.back();
    if (c.ok) {
      EXPECT_EQ(launch.Files(), c.files) << c.argv.back();
    }
  }
}

TEST(LaunchArgumentsTest, HelpAndVersionAnswerBeforeTheSeparatorOnly) {
  for (const char* word : {"-h", "--help", "--version"}) {
    Argv argv({"tunewell", "a.mp3", word});
    EXPECT_EQ(LaunchArguments(argv.Count(), argv.Data()).AnswerInfoOption(), 0) << word;
    Argv asFile({"tunewell", "--", word});
    EXPECT_FALSE(LaunchArguments(asFile.Count(), asFile.Data()).AnswerInfoOption().has_value()) << word;
  }
  EXPECT_TRUE(LaunchArguments::VersionText().contains(QRegularExpression("^tunewell [0-9]+\\.[0-9]+")));
}

}  // namespace
}  // namespace tw
