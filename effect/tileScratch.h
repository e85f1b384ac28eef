// Working memory of the tiled grain engine, allocated with the effect so that
// processing allocates nothing.
#pragma once

#include <cstdint>

#include "mixKernels.h"

namespace tiles {
// A capture write made during the tile: the sample it belongs to, the cell,
// the values written and the values the cell held before.
struct CaptureWrite {
  int32_t sample;
  int32_t cell;
  float left;
  float right;
  float oldLeft;
  float oldRight;
};

// Cells first..last written in the tile, by consecutive writes of the log
// from `firstWrite` on.
struct CellRun {
  int32_t first;
  int32_t last;
  int32_t firstWrite;
};

struct TileScratch {
  const MixKernels* kernels = nullptr;
  // Tests shorten the tiles or switch the tiled path off; hosts cannot.
  int32_t tileSize = kMaxTile;
  bool enabled = true;
  // Grain tiles mixed through the per-sample view of a tile's capture
  // writes, and through the guarded reads near the buffers' edges: tests
  // check that their scenarios reach both.
  int64_t viewedGrainTiles = 0;
  int64_t guardedGrainTiles = 0;

  int32_t writeCount = 0;
  CaptureWrite writes[kMaxTile];
  int32_t runCount = 0;
  CellRun runs[kMaxTile];

  GrainLanes lanes;
  float position[kMaxLanes * kMaxTile];
  float gain[kMaxLanes * kMaxTile];
  float sumLeft[kMaxTile];
  float sumRight[kMaxTile];
};
}  // namespace tiles
