// The vector kernels of the tiled grain engine, in two families (SSE2, and
// AVX2 where the build and the processor have it), chosen once per instance.
// The families compute the same bits; each sits in a file of its own
// (mixKernelsSse2.cpp, mixKernelsAvx2.cpp) so that only the AVX2 file is
// built with -mavx2.
#pragma once

#include <cstdint>

namespace tiles {
// Samples per tile at most; a tile of grain positions and gains fills
// kMaxTile floats per grain.
constexpr int32_t kMaxTile = 64;
// Grains whose recurrences run side by side, one per vector lane: 4 with
// SSE2, 8 with AVX2.
constexpr int32_t kMaxLanes = 8;
// Samples per vector step of the mix and the output.
constexpr int32_t kSampleGroup = 4;
// The AVX2 mix loads a window of cells from a group's first cell on and
// reads up to this many cells past that cell; the tiled engine keeps such
// windows inside the buffers.
constexpr int32_t kWindowReach = 7;

// The recurrence that advanceGrains runs, one grain per lane, sample by
// sample, in the per-sample engine's arithmetic (myfx::mix):
//   - rise = levelStep x ceiling, in double precision; it is exact there and
//     only changes sign at the peak. The level becomes single(level + rise).
//     When rise is itself a float (always at ceiling 1) that is a plain
//     single-precision add, which rounds alike, so the kernels take the
//     cheaper add then and the double sum otherwise.
//   - Above the ceiling the level is the ceiling and the step (and rise)
//     change sign: the peak, from where the level falls. The minimum with
//     the ceiling is taken so that a NaN stays as the comparison keeps it.
//   - The gain is the level limited to 0..1 (a NaN level gives 1).
//   - The position read at this sample is written out with the gain; the
//     next position is single(position + rate), and the grain ends when that
//     reaches `end`.
// A lane whose grain has ended, and every sample past the tile's end, moves
// no more and sounds with gain 0.

// Envelope and read-position state of the grains advanced together, one per
// lane. A lane that holds no grain has rate 0 and an end never reached.
struct GrainLanes {
  float level[kMaxLanes];
  float levelStep[kMaxLanes];
  float position[kMaxLanes];
  float rate[kMaxLanes];
  // The smallest float at or above start + length: a grain ends when its
  // next position reaches it.
  float end[kMaxLanes];
  // Written by advanceGrains: samples the grain sounds in the tile, and
  // whether it ended (reached `end`) in it.
  int32_t soundingSamples[kMaxLanes];
  int32_t ended[kMaxLanes];
};

struct MixKernels {
  int32_t lanes;  // grains per advanceGrains
  // Advances `lanes` grains over `frames` samples (1..kMaxTile) by the
  // recurrence above, and writes each lane's read positions and gains
  // to position[lane * kMaxTile + j] and gain[lane * kMaxTile + j]. Up to the
  // next multiple of 4, and after a grain has ended, the position is the one
  // after the last read (at most one rate further) and the gain is 0.
  void (*advanceGrains)(GrainLanes& lanes, float ceiling, int32_t frames,
                        float* position, float* gain);
  // Adds one grain's `count` samples to the channel sums, sample j rounded as
  // the per-sample engine rounds it; the sums past `count` keep their bits.
  // Every cell from the first position's to the highest position's +
  // kWindowReach, up to the next multiple of 4 samples, lies in the buffers.
  void (*mixGrain)(const float* left, const float* right, const float* position,
                   const float* gain, int32_t count, float* sumLeft,
                   float* sumRight);
  // Divide, clip and deliver the sums (over or onto the outputs); answer how
  // many leading samples were done (a multiple of 4), leaving the rest.
  int32_t (*replace)(const float* sumLeft, const float* sumRight,
                     float* outLeft, float* outRight, int32_t frames);
  int32_t (*accumulate)(const float* sumLeft, const float* sumRight,
                        float* outLeft, float* outRight, int32_t frames);
};

enum class KernelFamily { kSse2, kAvx2 };

// The family's kernels, or null when this build or this processor lacks it.
const MixKernels* kernelsOf(KernelFamily family);
// AVX2 where available, otherwise SSE2.
KernelFamily fastestFamily();

extern const MixKernels kSse2Kernels;
extern const MixKernels kAvx2Kernels;  // defined only in builds with AVX2
}  // namespace tiles
