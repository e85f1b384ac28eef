// The tiled grain engine: the mix part of the per-sample engine run a tile of
// samples at a time with vector kernels, giving the same bits. It owns its
// working memory, so processing allocates nothing; myfx::runTiled drives it
// (grainEngine.cpp), and tiledEngine.cpp says why the bits are the same.
#pragma once

#include <cstdint>

#include "engineShared.h"
#include "mixKernels.h"

namespace tiles {
// A capture write made during a tile: the sample it belongs to, the cell,
// the values written and the values the cell held before.
struct CaptureWrite {
  int32_t sample;
  int32_t cell;
  float left;
  float right;
  float oldLeft;
  float oldRight;
};

// Cells first..last written in a tile, by consecutive writes of the log from
// `firstWrite` on.
struct CellRun {
  int32_t first;
  int32_t last;
  int32_t firstWrite;
};

class TiledEngine {
 public:
  // host's main thread during open/close: the fastest kernel family.
  TiledEngine();

  // The kernel family; false, and nothing changes, when this build or this
  // processor lacks it. The benchmarks and tests compare the families.
  bool useKernels(KernelFamily family);

  // audio thread, for every operation below.
  // Whether a block's arrays suit tiles (no output overlaps an input or the
  // other output in part).
  bool fits(float* const* inputs, float* const* outputs,
            int32_t sampleFrames) const;
  // Samples per tile at most.
  int32_t tileSize() const;
  // Starts a tile: no capture writes in it yet.
  void beginTile() {
    writeCount_ = 0;
    runCount_ = 0;
  }
  // Writes the capture of sample `sample` of the tile into `cell` at once,
  // and logs what the cell held, for grains that read it at earlier samples.
  void capture(engine::State& state, int32_t sample, int32_t cell, float left,
               float right);
  // Mixes every sounding grain over the tile's `frames` samples, writes its
  // state back, and delivers the sums over the outputs or onto them.
  template <bool Accumulate>
  void mixAndDeliver(engine::State& state, float ceiling, int32_t frames,
                     float* outLeft, float* outRight);

#if defined(KORVANE_ENGINE_PROBES)
  // Only in the tests' build of the effect: tests shorten the tiles or
  // switch the tiled path off, and read how many grain tiles were mixed
  // through the per-sample view of a tile's capture writes and through the
  // guarded reads near the buffers' edges, to see that their scenarios reach
  // both.
  struct Probes {
    bool enabled = true;
    int32_t tileSize = kMaxTile;
    int64_t viewedGrainTiles = 0;
    int64_t guardedGrainTiles = 0;
  };
  Probes probes;
#endif

 private:
  void mix(engine::State& state, float ceiling, int32_t frames);
  void mixLanes(engine::State& state, uint32_t slots, int32_t frames,
                float ceiling);
  bool writtenBetween(double low, double high) const;

  const MixKernels* kernels_;
  int32_t writeCount_ = 0;
  CaptureWrite writes_[kMaxTile];
  int32_t runCount_ = 0;
  CellRun runs_[kMaxTile];

  GrainLanes lanes_;
  float position_[kMaxLanes * kMaxTile];
  float gain_[kMaxLanes * kMaxTile];
  float sumLeft_[kMaxTile];
  float sumRight_[kMaxTile];
};
}  // namespace tiles
