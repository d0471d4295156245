// What every fuzz target shares: quiet libraries, a scratch folder on a memory file system and
// small file helpers. A target's checks end the process with FUZZ_CHECK, which libFuzzer
// reports as a crash with the input saved.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <glog/logging.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "app/FFmpegPtr.h"

#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

// A target's entry points: libFuzzer calls LLVMFuzzerInitialize once (logs quiet), then the
// body that follows the macro for each input.
#define TW_FUZZ_TARGET(data, size)                     \
  extern "C" int LLVMFuzzerInitialize(int*, char***) { \
    tw::fuzz::QuietLogs();                             \
    return 0;                                          \
  }                                                    \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)

// The same for a target that reads its input in parts: the body gets `in` over the input.
#define TW_FUZZ_PARTS(in)                         \
  static int TwFuzzParts(FuzzedDataProvider& in); \
  TW_FUZZ_TARGET(data, size) {                    \
    FuzzedDataProvider provider(data, size);      \
    return TwFuzzParts(provider);                 \
  }                                               \
  static int TwFuzzParts(FuzzedDataProvider& in)

namespace tw::fuzz {

// Logging off: the engines log every line they read, which would only slow the runs. The media
// libraries' allocations are limited as in the programs.
inline void QuietLogs() {
  FLAGS_minloglevel = google::GLOG_FATAL;
  FLAGS_logtostderr = true;
  av_log_set_level(AV_LOG_QUIET);
  LimitMediaAllocations();
}

// A folder of this process's own, removed when the process ends normally. It lies below
// TW_FUZZ_SCRATCH when set (scripts/fuzz removes that after a crash too), otherwise on /dev/shm
// when there is one (no disk writes, cheap fsync).
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* parent = std::getenv("TW_FUZZ_SCRATCH");
    std::string pattern = parent && *parent               ? std::string(parent) + "/tw-fuzz.XXXXXX"
                          : access("/dev/shm", W_OK) == 0 ? "/dev/shm/tw-fuzz.XXXXXX"
                                                          : "/tmp/tw-fuzz.XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline const std::string& ScratchDir() {
  static const ScratchFolder folder;
  return folder.Path();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  FUZZ_CHECK(out.good());
}

inline bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tw::fuzz
