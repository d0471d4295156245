// A small INI store with the reading rules of the classic private-profile functions:
// sections and keys compared without regard to ASCII case, blanks around names and values
// dropped, LF or CRLF lines, an optional UTF-8 byte-order mark. Every write rewrites the
// whole file through a temporary file and a rename, under a lock that serialises writers
// across threads and processes; a write changes only its own key and keeps every other
// line as it stands, lines it cannot parse included.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tw {

// The value of key in section, or nothing when the file, section or key is missing (or the
// file cannot be read).
std::optional<std::string> ReadIniValue(const std::string& path, std::string_view section, std::string_view key);

// True when value reads back exactly as it is written: no line break in it, no blank or tab
// at either end, and not wrapped in a pair of matching quotes (the reading rules take those off).
bool IniKeepsValue(std::string_view value);

// Sets key in section (creating file, section and key as needed). False when the file
// cannot be written (read-only folder, full disk) or when it exists and cannot be read whole
// (no permission, too many open files, an I/O error); the old file is then left untouched.
bool WriteIniValue(const std::string& path, std::string_view section, std::string_view key, std::string_view value);

}  // namespace tw
