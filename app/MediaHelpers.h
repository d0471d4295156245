// Small stateless helpers shared by the pages, lists and engines: size and duration
// texts, the duration probe, the cut page's time text, video extensions, splitting.
// Texts are UTF-8.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tw {

// "1023B", "1KB", "1.00M", "1.50G" (powers of 1024).
std::string FormatFileSize(std::int64_t sizeBytes);

// How long a probe may take before it is given up (a file on a stalled network share, say).
inline constexpr std::chrono::milliseconds kProbeDeadline{5000};

// What a probe found: the duration as ProbeDuration gives it, and whether there is sound.
struct MediaProbe {
  double duration = -1;
  bool hasSound = false;
};
// Probes a file. Only a regular file is opened (a named pipe or a device would block the
// reader); the probe runs on a thread of its own and is given up after deadline, when this
// returns what an unreadable file gives (that thread then ends by itself). Any thread.
MediaProbe ProbeMedia(const std::string& pathUtf8, std::chrono::milliseconds deadline = kProbeDeadline);

// Duration in seconds of the first audio or video stream, or -1 when the file cannot be
// opened, has neither, is not a regular file or cannot be read within kProbeDeadline.
double ProbeDuration(const std::string& pathUtf8);

// "%02d:%02d:%02d" of the whole seconds (cut towards zero).
std::string FormatDuration(double seconds);

// "%02d:%02d:%02d.%02d" of a position: hundredths cut towards zero.
std::string FormatTimeText(double seconds);

bool IsDigits(std::string_view text);
bool IsTimeText(std::string_view text);
// Seconds of an H:MM:SS.cc text; 0 for a text that fails the checks.
double ParseTimeText(std::string_view text);

// True for one of the 24 video container extensions (given without the dot, any ASCII case).
bool IsVideoExtension(std::string_view extension);

// Cuts at every delimiter character; empty pieces are dropped.
std::vector<std::string> SplitText(std::string_view text, std::string_view delimiters);

// "?timestamp=" followed by the milliseconds since the epoch.
std::string MakeTimestampQuery();

// Reads leading decimal digits (after optional blanks and sign) like the platform's atoi;
// no digits give 0.
long long LeadingInt(std::string_view text);

}  // namespace tw
