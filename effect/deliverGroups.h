// The output loop of both kernel families. Each kernel file includes it and
// gets a copy of its own (internal linkage), built for that file's
// instruction set, so no AVX2 code can stand in for the SSE2 copy.
#pragma once

#include <xmmintrin.h>

#include <cstdint>

namespace tiles {
namespace {
// Delivers four samples a step: Delivered(sums) gives them divided, rounded
// and clipped; they replace the outputs or are added to them. Answers the
// samples done, a multiple of 4. The left channel is stored before the right
// one is loaded, as the per-sample engine does it: a host may hand one array
// for both outputs, which then receives (out + left) + right.
template <bool Accumulate, __m128 (*Delivered)(const float*)>
int32_t deliverGroups(const float* sumLeft, const float* sumRight,
                      float* outLeft, float* outRight, int32_t frames) {
  int32_t j = 0;
  for (; j + 4 <= frames; j += 4) {
    __m128 left = Delivered(sumLeft + j);
    if (Accumulate) left = _mm_add_ps(_mm_loadu_ps(outLeft + j), left);
    _mm_storeu_ps(outLeft + j, left);
    __m128 right = Delivered(sumRight + j);
    if (Accumulate) right = _mm_add_ps(_mm_loadu_ps(outRight + j), right);
    _mm_storeu_ps(outRight + j, right);
  }
  return j;
}
}  // namespace
}  // namespace tiles
