// The settings file: any file content, then one write of a key. What is written reads back the
// same, every other key reads as before (no value can plant or hide another key), and a write
// never fails on a readable file.

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/IniFile.h"
#include "fuzz/FuzzSupport.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Trimmed(std::string s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.back())) s.pop_back();
  size_t i = 0;
  while (i < s.size() && blank(s[i])) ++i;
  return s.substr(i);
}

// A name as the program uses them: one trimmed word of no INI syntax.
bool UsableName(const std::string& name) {
  if (name.empty() || Trimmed(name) != name) return false;
  return name.find_first_of("=[]\r\n;#") == std::string::npos;
}

// Every section and key name a text might hold (a superset of what the reader sees).
void CollectNames(const std::string& text, std::set<std::string>& sections, std::set<std::string>& keys) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t open = line.find('['), close = line.find(']');
    if (open != std::string::npos && close != std::string::npos && close > open)
      sections.insert(Trimmed(line.substr(open + 1, close - open - 1)));
    const size_t eq = line.find('=');
    if (eq != std::string::npos) keys.insert(Trimmed(line.substr(0, eq)));
    start = end + 1;
  }
}

}  // namespace

TW_FUZZ_PARTS(in) {
  const std::string section = in.ConsumeRandomLengthString(16);
  const std::string key = in.ConsumeRandomLengthString(16);
  const std::string value = in.ConsumeRandomLengthString(256);
  const std::string before = in.ConsumeRemainingBytesAsString();
  if (!UsableName(section) || !UsableName(key)) return 0;

  const std::string path = tw::fuzz::ScratchDir() + "/configure.ini";
  tw::fuzz::WriteFile(path, before);

  std::set<std::string> sections{section}, keys{key};
  CollectNames(before, sections, keys);
  CollectNames(value, sections, keys);
  if (sections.size() * keys.size() > 400) return 0;  // keep one run short
  std::vector<std::pair<std::pair<std::string, std::string>, std::optional<std::string>>> others;
  for (const std::string& s : sections)
    for (const std::string& k : keys)
      if (Lower(s) != Lower(section) || Lower(k) != Lower(key))
        others.push_back({{s, k}, tw::ReadIniValue(path, s, k)});

  FUZZ_CHECK(tw::WriteIniValue(path, section, key, value));

  if (tw::IniKeepsValue(value))
    FUZZ_CHECK(tw::ReadIniValue(path, section, key) == value);
  else
    FUZZ_CHECK(tw::ReadIniValue(path, section, key).has_value());
  for (const auto& [name, old] : others) {
    if (tw::ReadIniValue(path, name.first, name.second) != old) {
      std::fprintf(stderr, "[%s] %s changed by writing [%s] %s\n", name.first.c_str(), name.second.c_str(),
                   section.c_str(), key.c_str());
      FUZZ_CHECK(false && "a write changed another key");
    }
  }
  // A second write of the same value changes nothing in the file.
  const std::string after = tw::fuzz::ReadFile(path);
  FUZZ_CHECK(tw::WriteIniValue(path, section, key, value));
  FUZZ_CHECK(tw::fuzz::ReadFile(path) == after);
  return 0;
}
