#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// A file name may hold any byte but "/" and NUL. What a view writes for a human keeps to its
// line and carries no control sequence of the name's: the bars on a terminal and every line on
// the standard error.
TEST(ProgressView, NamesCannotControlTheTerminal) {
  const std::string names[] = {"line\nbreak.wav",
                               "clear\x1b[2J.wav",
                               "title\x1b]0;x\a.wav",
                               "back\rspace\b.wav",
                               "csi\xc2\x9b"
                               "2J.wav",
                               "raw\x9b"
                               "2J.wav"};
  const auto clean = [](std::string text) {
    for (const char* own : {"\x1b[1A\x1b[2K", "\r", "\n"}) {
      for (size_t p = text.find(own); p != std::string::npos; p = text.find(own))
        text.erase(p, std::strlen(own));
    }
    for (unsigned char c : text) {
      if (c < 0x20 || c == 0x7f || c == 0x9b) return false;
    }
    return text.find("\xc2\x9b") == std::string::npos;
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string bar = RenderBar(name, 40, 60);
    EXPECT_TRUE(clean(bar)) << bar;
    EXPECT_EQ(DisplayWidth(bar), 60);
    for (bool tty : {false, true}) {
      char* outText = nullptr;
      char* errText = nullptr;
      size_t outSize = 0, errSize = 0;
      std::FILE* out = open_memstream(&outText, &outSize);
      std::FILE* err = open_memstream(&errText, &errSize);
      {
        auto view = MakeProgressView(out, err, tty, 60);
        view->Started(0, name);
        view->Progress(0, 50);
        view->Succeeded(0, "/out/" + name);
        view->Failed(1, name, "the transcoder failed");
      }
      std::fclose(out);
      std::fclose(err);
      const std::string o(outText, outSize), e(errText, errSize);
      std::free(outText);
      std::free(errText);
      EXPECT_TRUE(clean(e)) << e;
      EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << e;
      if (tty) {
        EXPECT_TRUE(clean(o)) << o;
      }
    }
  }
}

}  // namespace
}  // namespace tw::cli
