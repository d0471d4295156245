// The page and operation code carried in transcoder messages and row-menu messages.
#pragma once

namespace tw {

enum class OperationKind : int {
  Cut = 0,
  Record = 1,
  Convert = 2,
  Merge = 3,
  Speed = 5,
  Extract = 6,
  Noise = 7,
  Volume = 8,
  BgMusic = 9,
};

}  // namespace tw
