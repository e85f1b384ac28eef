// What the per-sample and the tiled grain engine share: the mark of a free
// grain slot and the two transposition bases.
#pragma once

namespace engine {
constexpr float kFreeSlot = -1.0f;  // grainPosition of a slot with no grain
// Two approximations of the twelfth root of 2; they give different rates at
// +13 semitones only, and each processing routine keeps its own.
constexpr double kReplacingBase = 1.059463094;
constexpr double kAccumulatingBase = 1.059463094359;
}  // namespace engine
