// What the per-sample and the tiled grain engine share: the state both run
// on, the mark of a free grain slot, the two transposition bases, the two
// conversions every formula names, and the rules both engines apply to a
// grain: the guarded read of a capture cell, the interpolated add of one
// grain sample, the lowest slot of a set.
#pragma once

#include <cstdint>

namespace engine {
constexpr int32_t kGrainSlots = 32;
constexpr float kFreeSlot = -1.0f;  // grainPosition of a slot with no grain
// Two approximations of the twelfth root of 2; they give different rates at
// +13 semitones only, and each processing routine keeps its own.
constexpr double kReplacingBase = 1.059463094;
constexpr double kAccumulatingBase = 1.059463094359;

// The engine computes in double precision and stores in single precision
// and 32-bit integers; these name the two points where a value is cut.
inline float single(double x) { return static_cast<float>(x); }
inline int32_t trunc32(double x) { return static_cast<int32_t>(x); }

// A grain can reach past the recorded cells (a tempo rise shortens the loop
// under positions set for a longer one); such cells read as silence.
inline double readCell(const float* buffer, int32_t capacity, int32_t cell) {
  return static_cast<uint32_t>(cell) < static_cast<uint32_t>(capacity)
             ? buffer[cell]
             : 0.0;
}

// One grain's sample added to a channel sum: the cells `lower` and `upper`
// either side of its read position interpolated at `fraction`, scaled by
// its gain, added in double precision and rounded once.
inline float addInterpolated(float sum, double lower, double upper,
                             double fraction, double gain) {
  return single(double(sum) + ((upper - lower) * fraction + lower) * gain);
}

// Slot sets: bit i stands for grain slot i.
inline uint32_t slotBit(int32_t slot) { return 1u << slot; }
// The lowest slot of a non-empty set.
inline int32_t lowestSlot(uint32_t slots) { return __builtin_ctz(slots); }

// The capture buffers and the grain slots: what the per-sample engine
// (myfx) and the tiled engine (tiles::TiledEngine) both read and write.
// Only the audio side writes them: construction allocates the buffers, and
// the adoption of a new rate (a resume, or the start of a processing call)
// swaps in buffers prepared on a host thread.
struct State {
  float* recordBufferLeft;
  float* recordBufferRight;
  int32_t bufferCapacity;
  float grainPosition[kGrainSlots];  // kFreeSlot while the slot is free
  float grainStart[kGrainSlots];
  int32_t grainJitter[kGrainSlots];
  float grainRate[kGrainSlots];
  int32_t grainLength[kGrainSlots];
  float grainLevel[kGrainSlots];
  float grainLevelStep[kGrainSlots];
  // Bit i is set while slot i sounds (its grainPosition is not kFreeSlot):
  // lets the mix and the free-slot search visit only the slots that matter.
  uint32_t soundingSlots;

  // Marks a slot free: its grain has ended.
  void freeSlot(int32_t slot) {
    grainPosition[slot] = kFreeSlot;
    soundingSlots &= ~slotBit(slot);
  }
};
}  // namespace engine
