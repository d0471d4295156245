// The records that the denoisers post with WM_NOISE_PROGRESS and WM_NOISE_DONE. The
// receiver owns them from the moment of posting.
#pragma once

#include <string>

#include "app/MessageSink.h"

namespace tw {

// WM_NOISE_PROGRESS: a job's row and its new percent (0..99; 100 comes only with the end).
struct NoiseProgressRecord : MessageRecord {
  NoiseProgressRecord(int item, int value) : itemId(item), percent(value) {}
  int itemId;
  int percent;
};

// WM_NOISE_DONE: a job's row has finished. audioEngine is 1 from NoiseAudio and 0 from
// NoiseConvert, so the window knows which table of running jobs holds it. result is 0 when
// the output file was completed and -1 when its end could not be written (the file is
// then unusable and the row should say so). error is the errno of the failed write when the
// file system named one (ENOSPC for a full disk), otherwise 0.
struct NoiseDoneRecord : MessageRecord {
  NoiseDoneRecord(int item, int audio, int outcome = 0, int errorCode = 0, bool unreadable = false,
                  std::string published = "")
      : itemId(item),
        audioEngine(audio),
        result(outcome),
        error(errorCode),
        sourceUnreadable(unreadable),
        outputPath(std::move(published)) {}
  int itemId;
  int audioEngine;
  int result;
  int error;
  bool sourceUnreadable;   // the source failed to read before its end (an I/O error)
  std::string outputPath;  // result 0: the name the result was published under (ResultFile)
};

}  // namespace tw
