#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "cli/ProgressView.h"

namespace tw::cli {
namespace {

TEST(ProgressView, WidthsOfTexts) {
  const struct {
    const char* text;
    int width;
  } cases[] = {
      {"", 0},
      {"tone.wav", 8},
      {"合并-1.mp3", 10},
      {"新录音", 6},
      {"é", 1},
      {"\xff"
       "ab",
       3},
      {"🎵", 2},
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayWidth(c.text), c.width) << c.text;
}

TEST(ProgressView, FittingNeverSplitsACharacter) {
  const struct {
    const char* text;
    int columns;
    const char* fitted;
  } cases[] = {
      {"abc", 5, "abc  "},      {"abcdef", 4, "abc…"},
      {"合并合并", 5, "合并…"},  // 4 columns kept, then the ellipsis
      {"合并合并", 4, "合… "},   // the second CJK character would pass column 3
      {"合并", 4, "合并"},      {"x", 0, ""},
  };
  for (const auto& c : cases) {
    const std::string fitted = FitToWidth(c.text, c.columns);
    EXPECT_EQ(fitted, c.fitted) << c.text << " in " << c.columns;
    EXPECT_EQ(DisplayWidth(fitted), c.columns) << c.text;
  }
}

TEST(ProgressView, BarsFillWithThePercentAndKeepTheirWidth) {
  const struct {
    int percent;
    const char* tail;
  } cases[] = {{0, "  0%"}, {50, " 50%"}, {100, "100%"}, {130, "100%"}, {-5, "  0%"}};
  for (const auto& c : cases) {
    for (int columns : {40, 79, 120}) {
      const std::string bar = RenderBar("新录音-20260101000000.mp3", c.percent, columns);
      EXPECT_EQ(DisplayWidth(bar), columns) << c.percent << " " << columns;
      EXPECT_EQ(bar.substr(bar.size() - 4), c.tail);
      const size_t open = bar.find('['), close = bar.find(']');
      ASSERT_NE(open, std::string::npos);
      const std::string inside = bar.substr(open + 1, close - open - 1);
      const int filled = static_cast<int>(std::count(inside.begin(), inside.end(), '#'));
      const int clamped = std::clamp(c.percent, 0, 100);
      EXPECT_EQ(filled, static_cast<int>(inside.size()) * clamped / 100) << bar;
    }
  }
}

// What each view writes for one run: two jobs, progress, a success and a failure.
TEST(ProgressView, PlainLinesAndBars) {
  for (bool tty : {false, true}) {
    char* outText = nullptr;
    char* errText = nullptr;
    size_t outSize = 0, errSize = 0;
    std::FILE* out = open_memstream(&outText, &outSize);
    std::FILE* err = open_memstream(&errText, &errSize);
    {
      auto view = MakeProgressView(out, err, tty, 60);
      view->Started(0, "a.wav");
      view->Started(1, "b.wav");
      view->Progress(0, 5);
      view->Progress(0, 25);
      view->Progress(0, 27);
      view->Progress(1, 140);
      view->Succeeded(0, "/out/a.mp3");
      view->Failed(1, "b.wav", "the transcoder failed");
    }
    std::fclose(out);
    std::fclose(err);
    const std::string o(outText, outSize), e(errText, errSize);
    std::free(outText);
    std::free(errText);
    EXPECT_EQ(e, "tunewell-cli: b.wav: the transcoder failed\n") << tty;
    if (!tty) {
      EXPECT_EQ(o, "a.wav: started\nb.wav: started\na.wav: 20%\na.wav: done: /out/a.mp3\n");
    } else {
      EXPECT_NE(o.find("/out/a.mp3"), std::string::npos);
      EXPECT_NE(o.find(" 27%"), std::string::npos);  // bars show the exact percent
      EXPECT_NE(o.find("\x1b[1A\x1b[2K"), std::string::npos);
      // Every bar drawn is erased again: the terminal is left without a stale block.
      size_t drawnBars = 0, erased = 0;
      for (size_t p = o.find("%\n"); p != std::string::npos; p = o.find("%\n", p + 1)) ++drawnBars;
      for (size_t p = o.find("\x1b[1A"); p != std::string::npos; p = o.find("\x1b[1A", p + 1)) ++erased;
      EXPECT_EQ(drawnBars, erased + 1) << "the finished bar of a.wav stays";
    }
  }
}

}  // namespace
}  // namespace tw::cli
