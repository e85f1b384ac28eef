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
// rounded at the same point (the recurrence in mixKernels.h). The mix then
// adds grain after grain in slot order into per-sample sums, so every sum
// sees the same additions in the same order and rounds the same way. The
// buffers already hold the tile's capture writes when the grains read them:
// a grain whose cells meet a write in this tile reads through a view that
// gives each cell its value at that sample, and a grain that comes near the
// buffers' edges reads through the guarded per-sample read. Nothing is
// fused (-ffp-contract=off, no FMA) and every conversion is the per-sample
// engine's, so each vector lane computes what the scalar code computes.
#include "tiledEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "mixOutput.h"

namespace tiles {
namespace {
using engine::lowestSlot;
using engine::single;
using engine::slotBit;
using engine::trunc32;

// The smallest float at or above x: for a float p, p >= x exactly when p
// reaches this float, so the end test needs no double precision.
float firstFloatFrom(double x) {
  const float nearest = single(x);
  return double(nearest) < x
             ? std::nextafter(nearest, std::numeric_limits<float>::infinity())
             : nearest;
}

int32_t roundUpToLanes(int32_t frames) {
  return (frames + kSampleGroup - 1) / kSampleGroup * kSampleGroup;
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
  const CaptureWrite* writes;
  const CellRun* runs;
  int32_t runCount;
  bool right;
  double operator()(int32_t cell, int32_t j) const {
    bool earlier = false;
    float before = 0.0f;
    for (int32_t r = runCount - 1; r >= 0; --r) {
      const CellRun& run = runs[r];
      if (cell < run.first || cell > run.last) continue;
      const CaptureWrite& write = writes[run.firstWrite + (cell - run.first)];
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

TiledEngine::TiledEngine() : kernels_(kernelsOf(fastestFamily())) {}

bool TiledEngine::useKernels(KernelFamily family) {
  const MixKernels* kernels = kernelsOf(family);
  if (kernels == nullptr) return false;
  kernels_ = kernels;
  return true;
}

int32_t TiledEngine::tileSize() const {
#if defined(KORVANE_ENGINE_PROBES)
  return std::clamp(probes.tileSize, 1, kMaxTile);
#else
  return kMaxTile;
#endif
}

// Outputs that partly overlap an input or each other (a host fault) take the
// per-sample engine, whose result then depends on the order of every read
// and write; identical arrays are fine, since a tile reads all its inputs
// before it writes any output.
bool TiledEngine::fits(float* const* inputs, float* const* outputs,
                       int32_t sampleFrames) const {
#if defined(KORVANE_ENGINE_PROBES)
  if (!probes.enabled) return false;
#endif
  if (sampleFrames <= 0) return false;
  for (int32_t out = 0; out < 2; ++out) {
    for (int32_t in = 0; in < 2; ++in) {
      if (overlapsPartly(outputs[out], inputs[in], sampleFrames)) return false;
    }
  }
  return !overlapsPartly(outputs[0], outputs[1], sampleFrames);
}

// Captures go into the buffers at once (the control part never reads them);
// the log keeps what each write replaced.
void TiledEngine::capture(engine::State& state, int32_t sample, int32_t cell,
                          float left, float right) {
  writes_[writeCount_++] = {sample,
                            cell,
                            left,
                            right,
                            state.recordBufferLeft[cell],
                            state.recordBufferRight[cell]};
  state.recordBufferLeft[cell] = left;
  state.recordBufferRight[cell] = right;
  if (runCount_ > 0 && runs_[runCount_ - 1].last + 1 == cell) {
    runs_[runCount_ - 1].last = cell;
  } else {
    runs_[runCount_++] = {cell, cell, writeCount_ - 1};
  }
}

template <bool Accumulate>
void TiledEngine::mixAndDeliver(engine::State& state, float ceiling,
                                int32_t frames, float* outLeft,
                                float* outRight) {
  mix(state, ceiling, frames);
  int32_t j =
      Accumulate
          ? kernels_->accumulate(sumLeft_, sumRight_, outLeft, outRight, frames)
          : kernels_->replace(sumLeft_, sumRight_, outLeft, outRight, frames);
  for (; j < frames; ++j) {
    mixOutput::deliver<Accumulate>(sumLeft_[j], sumRight_[j], outLeft[j],
                                   outRight[j]);
  }
}

template void TiledEngine::mixAndDeliver<false>(engine::State&, float, int32_t,
                                                float*, float*);
template void TiledEngine::mixAndDeliver<true>(engine::State&, float, int32_t,
                                               float*, float*);

// The channel sums of a tile: every sounding grain, as many at a time as the
// kernels have lanes, in slot order.
void TiledEngine::mix(engine::State& state, float ceiling, int32_t frames) {
  std::fill(sumLeft_, sumLeft_ + roundUpToLanes(frames), 0.0f);
  std::fill(sumRight_, sumRight_ + roundUpToLanes(frames), 0.0f);
  uint32_t pending = state.soundingSlots;
  while (pending != 0) {
    uint32_t slots = 0;
    for (int32_t lane = 0; lane < kernels_->lanes && pending != 0; ++lane) {
      slots |= slotBit(lowestSlot(pending));
      pending &= pending - 1;
    }
    mixLanes(state, slots, frames, ceiling);
  }
}

// Whether a capture write of this tile falls on a cell from `low` to `high`.
bool TiledEngine::writtenBetween(double low, double high) const {
  for (int32_t r = 0; r < runCount_; ++r) {
    if (runs_[r].first <= high && low < runs_[r].last + 1) return true;
  }
  return false;
}

// Up to a kernel's lanes of grains (the set bits of `slots`) advanced over
// the tile and added to the sums in slot order; their state is written back.
void TiledEngine::mixLanes(engine::State& state, uint32_t slots, int32_t frames,
                           float ceiling) {
  int32_t slotOf[kMaxLanes];
  int32_t used = 0;
  for (uint32_t rest = slots; rest != 0; rest &= rest - 1, ++used) {
    const int32_t i = lowestSlot(rest);
    slotOf[used] = i;
    lanes_.level[used] = state.grainLevel[i];
    lanes_.levelStep[used] = state.grainLevelStep[i];
    lanes_.position[used] = state.grainPosition[i];
    lanes_.rate[used] = state.grainRate[i];
    lanes_.end[used] = firstFloatFrom(double(state.grainStart[i]) +
                                      double(state.grainLength[i]));
  }
  for (int32_t lane = used; lane < kernels_->lanes; ++lane) {
    lanes_.level[lane] = 0.0f;
    lanes_.levelStep[lane] = 0.0f;
    lanes_.position[lane] = 0.0f;
    lanes_.rate[lane] = 0.0f;
    lanes_.end[lane] = 1.0f;
  }
  kernels_->advanceGrains(lanes_, ceiling, frames, position_, gain_);

  const int32_t capacity = state.bufferCapacity;
  const GuardedRead guardedLeft{state.recordBufferLeft, capacity};
  const GuardedRead guardedRight{state.recordBufferRight, capacity};
  for (int32_t lane = 0; lane < used; ++lane) {
    const int32_t i = slotOf[lane];
    const float* position = position_ + lane * kMaxTile;
    const float* gain = gain_ + lane * kMaxTile;
    const int32_t count = lanes_.soundingSamples[lane];

    // Read positions never fall, so the grain reads cells from its first
    // position's up to its last position's + 1 in this tile; the kernels
    // may load up to kWindowReach cells past the position one rate further.
    const float first = position[0];
    const float last = position[count - 1];
    const bool inside =
        first >= 0.0f &&
        double(last) + double(state.grainRate[i]) + 2.0 + kWindowReach <
            double(capacity);
    const bool written =
        writeCount_ > 0 && writtenBetween(first, double(last) + 1.0);
    if (written) {
#if defined(KORVANE_ENGINE_PROBES)
      ++probes.viewedGrainTiles;
#endif
      mixGrainScalar(ViewRead{guardedLeft, writes_, runs_, runCount_, false},
                     ViewRead{guardedRight, writes_, runs_, runCount_, true},
                     position, gain, count, sumLeft_, sumRight_);
    } else if (!inside) {
#if defined(KORVANE_ENGINE_PROBES)
      ++probes.guardedGrainTiles;
#endif
      mixGrainScalar(guardedLeft, guardedRight, position, gain, count, sumLeft_,
                     sumRight_);
    } else {
      kernels_->mixGrain(state.recordBufferLeft, state.recordBufferRight,
                         position, gain, count, sumLeft_, sumRight_);
    }

    state.grainLevel[i] = lanes_.level[lane];
    state.grainLevelStep[i] = lanes_.levelStep[lane];
    if (lanes_.ended[lane]) {
      state.freeSlot(i);
    } else {
      state.grainPosition[i] = lanes_.position[lane];
    }
  }
}
}  // namespace tiles
