// korvane's own dispatcher extension: a host seeds an instance's random
// generator, so that a render can be made again sample for sample.
#pragma once

#include <cstdint>

#include "AEffect.h"
#include "opcodes.h"

namespace seedExtension {
// The dispatcher call: this opcode with this index, the seed in `value`
// (its low 32 bits).
constexpr int32_t kOpcode = EffectOpcode::kVendorSpecific;
constexpr int32_t kIndex = fourCharCode("kSed");  // 0x6B536564
// The answer of an effect that took the seed; any other use of the opcode,
// and every effect without the extension, answers 0.
constexpr intptr_t kTaken = 1;
}  // namespace seedExtension
