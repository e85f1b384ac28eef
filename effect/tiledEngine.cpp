// The grain engine a tile of samples at a time: the per-sample engine's
// results, bit for bit, at a fraction of its cost.
//
// Why the bits are the same. Each sample's work splits into a control part
// (change test, tempo query, capture position, start clock) that no grain
// reads, and a mix part that reads the buffers and the grains. The control
// part runs sample by sample through the same functions as the per-sample
// engine; a start decision falls only on a tile's first sample, because a
// tile ends before the next sample whose clock is due. Each grain's
// recurrences (level, gain, position, end) depend on nothing but the grain,
// so they may run ahead over the tile, one grain per vector lane (four with
// SSE2, eight with AVX2); every step is the same double-precision formula
// rounded at the same point. The mix
// then adds grain after grain in slot order into per-sample sums, so every
// sum sees the same additions in the same order and rounds the same way. The
// buffers already hold the tile's capture writes when the grains read them:
// a grain whose cells meet a write in this tile reads through a view that
// gives each cell its value at that sample, and a grain that comes near the
// buffers' edges reads through the guarded per-sample read. Nothing is
// fused (-ffp-contract=off, no FMA) and every conversion is the per-sample
// engine's, so each vector lane computes what the scalar code computes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "engineShared.h"
#include "mixOutput.h"
#include "myfx.h"
#include "tileScratch.h"

namespace {
using engine::kAccumulatingBase;
using engine::kReplacingBase;
using engine::lowestSlot;
using engine::single;
using engine::slotBit;
using engine::trunc32;
using tiles::kWindowReach;

// The smallest float at or above x: for a float p, p >= x exactly when p
// reaches this float, so the end test needs no double precision.
float firstFloatFrom(double x) {
  const float nearest = single(x);
  return double(nearest) < x
             ? std::nextafter(nearest, std::numeric_limits<float>::infinity())
             : nearest;
}

int32_t roundUpToLanes(int32_t frames) {
  return (frames + tiles::kSampleGroup - 1) / tiles::kSampleGroup *
         tiles::kSampleGroup;
}

bool overlapsPartly(const float* a, const float* b, int32_t frames) {
  const uintptr_t x = reinterpret_cast<uintptr_t>(a);
  const uintptr_t y = reinterpret_cast<uintptr_t>(b);
  const uintptr_t bytes = static_cast<uintptr_t>(frames) * sizeof(float);
  return x != y && x < y + bytes && y < x + bytes;
}

// A cell as the per-sample engine reads it: outside the buffer, silence.
struct GuardedRead {
  const float* buffer;
  int32_t capacity;
  double operator()(int32_t cell, int32_t) const {
    return engine::readCell(buffer, capacity, cell);
  }
};

// A cell as it was at sample j of the tile, though the buffer already holds
// the tile's last writes: the last write at or before j, or else the value
// from before the tile's first write to it. Each run of cells was written by
// consecutive log entries, so a cell's write in a run is found directly.
struct ViewRead {
  GuardedRead now;
  const tiles::CaptureWrite* writes;
  const tiles::CellRun* runs;
  int32_t runCount;
  bool right;
  double operator()(int32_t cell, int32_t j) const {
    bool earlier = false;
    float before = 0.0f;
    for (int32_t r = runCount - 1; r >= 0; --r) {
      const tiles::CellRun& run = runs[r];
      if (cell < run.first || cell > run.last) continue;
      const tiles::CaptureWrite& write =
          writes[run.firstWrite + (cell - run.first)];
      if (write.sample <= j) return right ? write.right : write.left;
      earlier = true;
      before = right ? write.oldRight : write.oldLeft;
    }
    return earlier ? before : now(cell, j);
  }
};

// One grain's samples added to the sums exactly as the per-sample mix adds
// them, through the given reads.
template <typename Read>
void mixGrainScalar(const Read& left, const Read& right, const float* position,
                    const float* gain, int32_t count, float* sumLeft,
                    float* sumRight) {
  for (int32_t j = 0; j < count; ++j) {
    const int32_t cell = trunc32(position[j]);
    const double fraction = double(position[j]) - cell;
    sumLeft[j] = engine::addInterpolated(sumLeft[j], left(cell, j),
                                         left(cell + 1, j), fraction, gain[j]);
    sumRight[j] = engine::addInterpolated(
        sumRight[j], right(cell, j), right(cell + 1, j), fraction, gain[j]);
  }
}
}  // namespace

// Outputs that partly overlap an input or each other (a host fault) take the
// per-sample engine, whose result then depends on the order of every read
// and write; identical arrays are fine, since a tile reads all its inputs
// before it writes any output.
bool myfx::tiledPathFits(float* const* inputs, float* const* outputs,
                         int32_t sampleFrames) const {
  if (sampleFrames <= 0 || tileScratch == nullptr || !tileScratch->enabled ||
      tileScratch->kernels == nullptr) {
    return false;
  }
  for (int32_t out = 0; out < 2; ++out) {
    for (int32_t in = 0; in < 2; ++in) {
      if (overlapsPartly(outputs[out], inputs[in], sampleFrames)) return false;
    }
  }
  return !overlapsPartly(outputs[0], outputs[1], sampleFrames);
}

template <bool Accumulate>
void myfx::runTiled(float** inputs, float** outputs, int32_t sampleFrames) {
  tiles::TileScratch& t = *tileScratch;
  const double transposeBase = Accumulate ? kAccumulatingBase : kReplacingBase;
  const int32_t tileSize = std::clamp(t.tileSize, 1, tiles::kMaxTile);
  for (int32_t k0 = 0; k0 < sampleFrames;) {
    t.writeCount = 0;
    t.runCount = 0;
    // Captures go into the buffers at once (the control part never reads
    // them); the log keeps what each write replaced.
    auto controlSample = [&](int32_t j) {
      float left = inputs[0][k0 + j];
      float right = inputs[1][k0 + j];
      const int32_t cell = control(left, right);
      if (cell < 0) return;
      t.writes[t.writeCount++] = {j,
                                  cell,
                                  left,
                                  right,
                                  recordBufferLeft[cell],
                                  recordBufferRight[cell]};
      recordBufferLeft[cell] = left;
      recordBufferRight[cell] = right;
      if (t.runCount > 0 && t.runs[t.runCount - 1].last + 1 == cell) {
        t.runs[t.runCount - 1].last = cell;
      } else {
        t.runs[t.runCount++] = {cell, cell, t.writeCount - 1};
      }
    };

    controlSample(0);
    const int32_t interval = startInterval.load();
    if (startCounter >= interval) decideStart(transposeBase);
    // The tile ends before the next sample whose start clock is due.
    const int64_t untilDue = static_cast<int64_t>(interval) - startCounter;
    const int32_t frames = static_cast<int32_t>(std::max<int64_t>(
        1, std::min<int64_t>({untilDue, tileSize, sampleFrames - k0})));
    for (int32_t j = 1; j < frames; ++j) controlSample(j);
    startCounter += frames;

    mixTile(frames, t.sumLeft, t.sumRight);

    float* outLeft = outputs[0] + k0;
    float* outRight = outputs[1] + k0;
    int32_t j = Accumulate ? t.kernels->accumulate(t.sumLeft, t.sumRight,
                                                   outLeft, outRight, frames)
                           : t.kernels->replace(t.sumLeft, t.sumRight, outLeft,
                                                outRight, frames);
    for (; j < frames; ++j) {
      mixOutput::deliver<Accumulate>(t.sumLeft[j], t.sumRight[j], outLeft[j],
                                     outRight[j]);
    }
    k0 += frames;
  }
}

template void myfx::runTiled<false>(float**, float**, int32_t);
template void myfx::runTiled<true>(float**, float**, int32_t);

// The channel sums of a tile: every sounding grain, as many at a time as the
// kernels have lanes, in slot order.
void myfx::mixTile(int32_t frames, float* sumLeft, float* sumRight) {
  std::fill(sumLeft, sumLeft + roundUpToLanes(frames), 0.0f);
  std::fill(sumRight, sumRight + roundUpToLanes(frames), 0.0f);
  const float ceiling = envelopeCeiling.load();
  uint32_t pending = soundingSlots;
  while (pending != 0) {
    uint32_t slots = 0;
    for (int32_t lane = 0; lane < tileScratch->kernels->lanes && pending != 0;
         ++lane) {
      slots |= slotBit(lowestSlot(pending));
      pending &= pending - 1;
    }
    mixLanes(slots, frames, ceiling, sumLeft, sumRight);
  }
}

// Up to a kernel's lanes of grains (the set bits of `slots`) advanced over
// the tile and
// added to the sums in slot order; their state is written back.
void myfx::mixLanes(uint32_t slots, int32_t frames, float ceiling,
                    float* sumLeft, float* sumRight) {
  tiles::TileScratch& t = *tileScratch;
  tiles::GrainLanes& lanes = t.lanes;
  int32_t slotOf[tiles::kMaxLanes];
  int32_t used = 0;
  for (uint32_t rest = slots; rest != 0; rest &= rest - 1, ++used) {
    const int32_t i = lowestSlot(rest);
    slotOf[used] = i;
    lanes.level[used] = grainLevel[i];
    lanes.levelStep[used] = grainLevelStep[i];
    lanes.position[used] = grainPosition[i];
    lanes.rate[used] = grainRate[i];
    lanes.end[used] =
        firstFloatFrom(double(grainStart[i]) + double(grainLength[i]));
  }
  for (int32_t lane = used; lane < t.kernels->lanes; ++lane) {
    lanes.level[lane] = 0.0f;
    lanes.levelStep[lane] = 0.0f;
    lanes.position[lane] = 0.0f;
    lanes.rate[lane] = 0.0f;
    lanes.end[lane] = 1.0f;
  }
  t.kernels->advanceGrains(lanes, ceiling, frames, t.position, t.gain);

  const GuardedRead guardedLeft{recordBufferLeft, bufferCapacity};
  const GuardedRead guardedRight{recordBufferRight, bufferCapacity};
  for (int32_t lane = 0; lane < used; ++lane) {
    const int32_t i = slotOf[lane];
    const float* position = t.position + lane * tiles::kMaxTile;
    const float* gain = t.gain + lane * tiles::kMaxTile;
    const int32_t count = lanes.soundingSamples[lane];

    // Read positions never fall, so the grain reads cells from its first
    // position's up to its last position's + 1 in this tile; the kernels
    // may load up to kWindowReach cells past the position one rate further.
    const float first = position[0];
    const float last = position[count - 1];
    const bool inside = first >= 0.0f && double(last) + double(grainRate[i]) +
                                                 2.0 + kWindowReach <
                                             double(bufferCapacity);
    bool written = false;
    if (t.writeCount > 0) {
      const double low = first;
      const double high = double(last) + 1.0;
      for (int32_t r = 0; r < t.runCount && !written; ++r) {
        written = t.runs[r].first <= high && low < t.runs[r].last + 1;
      }
    }
    if (written) {
      ++t.viewedGrainTiles;
      mixGrainScalar(ViewRead{guardedLeft, t.writes, t.runs, t.runCount, false},
                     ViewRead{guardedRight, t.writes, t.runs, t.runCount, true},
                     position, gain, count, sumLeft, sumRight);
    } else if (!inside) {
      ++t.guardedGrainTiles;
      mixGrainScalar(guardedLeft, guardedRight, position, gain, count, sumLeft,
                     sumRight);
    } else {
      t.kernels->mixGrain(recordBufferLeft, recordBufferRight, position, gain,
                          count, sumLeft, sumRight);
    }

    grainLevel[i] = lanes.level[lane];
    grainLevelStep[i] = lanes.levelStep[lane];
    if (lanes.ended[lane]) {
      freeSlot(i);
    } else {
      grainPosition[i] = lanes.position[lane];
    }
  }
}
