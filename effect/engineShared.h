// What the per-sample and the tiled grain engine share: the mark of a free
// grain slot, the two transposition bases and the read of a parameter field.
#pragma once

#include <atomic>

namespace engine {
constexpr float kFreeSlot = -1.0f;  // grainPosition of a slot with no grain
// Two approximations of the twelfth root of 2; they give different rates at
// +13 semitones only, and each processing routine keeps its own.
constexpr double kReplacingBase = 1.059463094;
constexpr double kAccumulatingBase = 1.059463094359;

// A field that parameter calls may write from another thread.
template <typename T>
T load(const std::atomic<T>& field) {
  return field.load(std::memory_order_relaxed);
}
}  // namespace engine
