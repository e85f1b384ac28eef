// The parameters' indexes, as the host numbers them. Every table and test
// that picks a parameter names it from here.
#pragma once

#include <cstdint>

namespace Param {
enum Index : int32_t {
  kBufferSixteenths,  // "bsize"
  kRecordThreshold,   // "rec thrsh"
  kStartInterval,     // "st rate"
  kStartJitter,       // "st jitter"
  kGrainOffset,       // "pos"
  kPositionJitter,    // "pos jitter"
  kLengthBase,        // "len"
  kLengthJitter,      // "len jitter"
  kTranspose,         // "tp"
  kPitchJitter,       // "p jitter"
  kEnvelopeCeiling,   // "env"
  kCount
};
}  // namespace Param
