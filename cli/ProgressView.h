// What the user sees of a batch run. On a terminal: one bar per running job, redrawn in
// place, finished jobs scrolling above them. Otherwise: plain lines, one per 10 % step and one
// per result. Failures always go to standard error, one line per failed file.
//
// Threads: used only on the runner's thread (the main thread of tunewell-cli).
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace tw::cli {

// Columns a UTF-8 text takes on a terminal: CJK and other wide characters count two.
int DisplayWidth(const std::string& text);
// The text with every control character (C0, DEL, C1) as "?": what a file name may carry
// never moves the cursor or commands the terminal.
std::string Printable(const std::string& text);
// The text cut (never inside a character, "…" marking the cut) or padded with blanks to
// exactly `columns` columns.
std::string FitToWidth(const std::string& text, int columns);
// One bar line of `columns` columns: label, "[####----]" and the percent (clamped to 0..100).
std::string RenderBar(const std::string& label, int percent, int columns);

class ProgressView {
 public:
  virtual ~ProgressView() = default;
  virtual void Started(int jobId, const std::string& label) = 0;
  virtual void Progress(int jobId, int percent) = 0;
  // The job produced `result` (a file path, or a line of text for in-process jobs).
  virtual void Succeeded(int jobId, const std::string& result) = 0;
  // label: the file the failure is about; reason: one line.
  virtual void Failed(int jobId, const std::string& label, const std::string& reason) = 0;
  // Something to tell the user that is not about one file (interrupt, summary).
  virtual void Note(const std::string& line) = 0;
};

// out receives progress and results; err the failure lines. tty selects bars; columns is the
// terminal width.
std::unique_ptr<ProgressView> MakeProgressView(std::FILE* out, std::FILE* err, bool tty, int columns);

// For commands whose results are data (waveform values): results go to data as they are, with
// nothing else on it; bars are drawn on err only when err is a terminal (errTty).
std::unique_ptr<ProgressView> MakeDataView(std::FILE* data, std::FILE* err, bool errTty, int columns);

}  // namespace tw::cli
