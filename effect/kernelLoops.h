// The loops of both kernel families around their four-sample steps: a
// grain's samples into the sums, and the sums into the outputs. Each kernel
// file includes this and gets a copy of its own (internal linkage), built
// for that file's instruction set, so no AVX2 code can stand in for the SSE2
// copy.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace tiles {
namespace {
// Four samples of one grain from sample j on, added to the sums; a last,
// partial group stores only the lanes that `keep` marks.
using MixGroup = void (*)(const float* left, const float* right,
                          const float* position, const float* gain, int32_t j,
                          __m128 keep, float* sumLeft, float* sumRight);

// Adds a grain's `count` samples to the sums four at a time. The lanes of
// the last group past `count` are not stored: samples after the grain's end
// add nothing, so a sum left at -0 keeps its sign.
template <MixGroup Whole, MixGroup Partial>
void mixGroups(const float* left, const float* right, const float* position,
               const float* gain, int32_t count, float* sumLeft,
               float* sumRight) {
  int32_t j = 0;
  for (; j + 4 <= count; j += 4) {
    Whole(left, right, position, gain, j, _mm_setzero_ps(), sumLeft, sumRight);
  }
  if (j < count) {
    const __m128 keep = _mm_castsi128_ps(
        _mm_cmpgt_epi32(_mm_set1_epi32(count - j), _mm_set_epi32(3, 2, 1, 0)));
    Partial(left, right, position, gain, j, keep, sumLeft, sumRight);
  }
}

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
