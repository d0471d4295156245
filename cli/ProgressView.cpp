#include "cli/ProgressView.h"

#include <algorithm>
#include <vector>

namespace tw::cli {

namespace {

// Decodes one UTF-8 character at text[i]; returns its length (1 for a broken byte).
size_t NextChar(const std::string& text, size_t i, char32_t* cp) {
  const auto b = static_cast<unsigned char>(text[i]);
  size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 1;
  if (i + len > text.size()) len = 1;
  char32_t value = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (size_t k = 1; k < len; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xC0) != 0x80) {
      *cp = b;
      return 1;
    }
    value = (value << 6) | (c & 0x3F);
  }
  *cp = value;
  return len;
}

// C0 and C1 control characters and DEL (a broken byte counts as the character of its value).
bool IsControl(char32_t cp) {
  return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0);
}

int CharWidth(char32_t cp) {
  if (cp < 0x20 || cp == 0x7F) return 0;
  const bool wide =
      (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) || (cp >= 0xAC00 && cp <= 0xD7A3) ||
      (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1FAFF) || (cp >= 0x20000 && cp <= 0x3FFFD);
  return wide ? 2 : 1;
}

int Clamp(int percent) {
  return std::clamp(percent, 0, 100);
}

// Plain lines: a line when a job starts, at each further 10 % and at its end.
class LineView : public ProgressView {
 public:
  LineView(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  void Started(int jobId, const std::string& label) override {
    jobs_[jobId] = {label, 0};
    std::fprintf(out_, "%s: started\n", label.c_str());
    std::fflush(out_);
  }
  void Progress(int jobId, int percent) override {
    auto it = jobs_.find(jobId);
    if (it == jobs_.end()) return;
    const int step = Clamp(percent) / 10 * 10;
    if (step <= it->second.printed || step >= 100) return;
    it->second.printed = step;
    std::fprintf(out_, "%s: %d%%\n", it->second.label.c_str(), step);
    std::fflush(out_);
  }
  void Succeeded(int jobId, const std::string& result) override {
    auto it = jobs_.find(jobId);
    const std::string label = it == jobs_.end() ? std::string() : it->second.label;
    if (label.empty()) {
      std::fprintf(out_, "%s\n", result.c_str());
    } else {
      std::fprintf(out_, "%s: done: %s\n", label.c_str(), result.c_str());
    }
    std::fflush(out_);
    jobs_.erase(jobId);
  }
  void Failed(int jobId, const std::string& label, const std::string& reason) override {
    std::fflush(out_);
    std::fprintf(err_, "tunewell-cli: %s: %s\n", Printable(label).c_str(), Printable(reason).c_str());
    std::fflush(err_);
    jobs_.erase(jobId);
  }
  void Note(const std::string& line) override {
    std::fflush(out_);
    std::fprintf(err_, "tunewell-cli: %s\n", Printable(line).c_str());
    std::fflush(err_);
  }

 private:
  struct Entry {
    std::string label;
    int printed = 0;
  };
  std::FILE* out_;
  std::FILE* err_;
  std::map<int, Entry> jobs_;
};

// Bars: the block of running jobs stays at the bottom; everything else is printed above it.
class BarView : public ProgressView {
 public:
  // data: when given, results are written there unchanged; showBars false draws nothing.
  BarView(std::FILE* out, std::FILE* err, int columns, std::FILE* data = nullptr, bool showBars = true)
      : out_(out), err_(err), data_(data), showBars_(showBars), columns_(std::max(columns, 30) - 1) {}
  ~BarView() override { Clear(); }

  void Started(int jobId, const std::string& label) override {
    Clear();
    order_.push_back(jobId);
    jobs_[jobId] = {label, 0};
    Draw();
  }
  void Progress(int jobId, int percent) override {
    auto it = jobs_.find(jobId);
    if (it == jobs_.end() || it->second.percent == Clamp(percent)) return;
    it->second.percent = Clamp(percent);
    Clear();
    Draw();
  }
  void Succeeded(int jobId, const std::string& result) override {
    Clear();
    auto it = jobs_.find(jobId);
    if (data_) {
      std::fputs(result.c_str(), data_);
      std::fflush(data_);
    } else if (it == jobs_.end()) {
      std::fprintf(out_, "%s\n", Printable(result).c_str());
    } else {
      std::fprintf(out_, "%s\n", RenderBar(it->second.label, 100, columns_).c_str());
      std::fprintf(out_, "  -> %s\n", Printable(result).c_str());
    }
    Remove(jobId);
    Draw();
  }
  void Failed(int jobId, const std::string& label, const std::string& reason) override {
    Clear();
    std::fflush(out_);
    std::fprintf(err_, "tunewell-cli: %s: %s\n", Printable(label).c_str(), Printable(reason).c_str());
    std::fflush(err_);
    Remove(jobId);
    Draw();
  }
  void Note(const std::string& line) override {
    Clear();
    std::fflush(out_);
    std::fprintf(err_, "tunewell-cli: %s\n", Printable(line).c_str());
    std::fflush(err_);
    Draw();
  }

 private:
  struct Entry {
    std::string label;
    int percent = 0;
  };
  void Remove(int jobId) {
    jobs_.erase(jobId);
    order_.erase(std::remove(order_.begin(), order_.end(), jobId), order_.end());
  }
  // Moves up over the drawn block and erases it.
  void Clear() {
    for (int i = 0; i < drawn_; ++i) std::fputs("\x1b[1A\x1b[2K", out_);
    if (drawn_) std::fputs("\r", out_);
    drawn_ = 0;
    std::fflush(out_);
  }
  void Draw() {
    if (!showBars_) return;
    for (int id : order_) {
      const Entry& e = jobs_[id];
      std::fprintf(out_, "%s\n", RenderBar(e.label, e.percent, columns_).c_str());
      ++drawn_;
    }
    std::fflush(out_);
  }

  std::FILE* out_;
  std::FILE* err_;
  std::FILE* data_;
  bool showBars_;
  int columns_;
  int drawn_ = 0;
  std::vector<int> order_;
  std::map<int, Entry> jobs_;
};

}  // namespace

std::string Printable(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const size_t len = NextChar(text, i, &cp);
    if (IsControl(cp)) {
      out += '?';
    } else {
      out.append(text, i, len);
    }
    i += len;
  }
  return out;
}

int DisplayWidth(const std::string& text) {
  int width = 0;
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    i += NextChar(text, i, &cp);
    width += CharWidth(cp);
  }
  return width;
}

std::string FitToWidth(const std::string& text, int columns) {
  if (columns <= 0) return "";
  if (DisplayWidth(text) <= columns)
    return text + std::string(static_cast<size_t>(columns - DisplayWidth(text)), ' ');
  // Keep room for the one-column ellipsis.
  std::string out;
  int width = 0;
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const size_t len = NextChar(text, i, &cp);
    const int w = CharWidth(cp);
    if (width + w > columns - 1) break;
    out.append(text, i, len);
    width += w;
    i += len;
  }
  out += "…";
  ++width;
  return out + std::string(static_cast<size_t>(columns - width), ' ');
}

std::string RenderBar(const std::string& label, int percent, int columns) {
  percent = Clamp(percent);
  // label | " [" bar "] " | "100%"
  const int labelColumns = std::max(columns * 2 / 5, 8);
  const int barColumns = std::max(columns - labelColumns - 3 - 1 - 4, 5);
  const int filled = barColumns * percent / 100;
  char pct[8];
  std::snprintf(pct, sizeof(pct), "%3d%%", percent);
  return FitToWidth(Printable(label), labelColumns) + " [" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(barColumns - filled), '-') + "] " + pct;
}

std::unique_ptr<ProgressView> MakeProgressView(std::FILE* out, std::FILE* err, bool tty, int columns) {
  if (tty) return std::make_unique<BarView>(out, err, columns);
  return std::make_unique<LineView>(out, err);
}

std::unique_ptr<ProgressView> MakeDataView(std::FILE* data, std::FILE* err, bool errTty, int columns) {
  return std::make_unique<BarView>(err, err, columns, data, errTty);
}

}  // namespace tw::cli
