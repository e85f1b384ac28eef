// The tiled engine's kernels with AVX2: four double lanes per vector, and an
// eight-cell window with lane permutes in place of separate cell loads. This
// file alone is built with -mavx2 (never with FMA, which would fuse the
// multiply and add); it defines nothing but the kernel table and functions of
// its own, so no AVX2 code can stand in for a function that other files
// share. The effect calls it only after the processor has said it has AVX2.
#include <immintrin.h>

#include "mixKernels.h"

namespace tiles {
namespace {
__m128 select(__m128 mask, __m128 yes, __m128 no) {
  return _mm_blendv_ps(no, yes, mask);
}
// A four-lane mask widened to double lanes, and back.
__m256d widenMask(__m128 m) {
  return _mm256_castsi256_pd(_mm256_cvtepi32_epi64(_mm_castps_si128(m)));
}
__m128 narrowMask(__m256d m) {
  const __m256i picked = _mm256_permutevar8x32_epi32(
      _mm256_castpd_si256(m), _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6));
  return _mm_castsi128_ps(_mm256_castsi256_si128(picked));
}

void advanceGrains(GrainLanes& lanes, float ceilingValue, int32_t frames,
                   float* positionOut, float* gainOut) {
  const __m128 ceiling = _mm_set1_ps(ceilingValue);
  const __m256d ceilingWide = _mm256_set1_pd(ceilingValue);
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 zero = _mm_setzero_ps();
  const __m256d signBit = _mm256_set1_pd(-0.0);
  const __m128 allLanes = _mm_castsi128_ps(_mm_set1_epi32(-1));

  __m128 level = _mm_loadu_ps(lanes.level);
  __m128 step = _mm_loadu_ps(lanes.levelStep);
  __m128 position = _mm_loadu_ps(lanes.position);
  const __m128 rate = _mm_loadu_ps(lanes.rate);
  const __m256d end = _mm256_loadu_pd(lanes.end);
  // step × ceiling: exact in double; it only changes sign at the peak.
  __m256d rise = _mm256_mul_pd(_mm256_cvtps_pd(step), ceilingWide);
  __m128 lastRead = position;
  __m128 live = allLanes;
  __m128i sounding = _mm_setzero_si128();

  const int32_t padded = (frames + 3) & ~3;
  for (int32_t j0 = 0; j0 < padded; j0 += 4) {
    __m128 positions[4];
    __m128 gains[4];
    for (int32_t k = 0; k < 4; ++k) {
      // Past the tile's end nothing moves and nothing sounds.
      const __m128 active = j0 + k < frames ? live : zero;

      const __m128 raised =
          _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(level), rise));
      const __m128 peak = _mm_and_ps(active, _mm_cmpgt_ps(raised, ceiling));
      level = select(active, select(peak, ceiling, raised), level);
      step = _mm_xor_ps(step, _mm_and_ps(peak, _mm_set1_ps(-0.0f)));
      rise = _mm256_xor_pd(rise, _mm256_and_pd(widenMask(peak), signBit));

      // The level limited to 0..1; a NaN level gives 1, as in the engine.
      const __m128 gain =
          _mm_andnot_ps(_mm_cmplt_ps(level, zero),
                        select(_mm_cmplt_ps(level, one), level, one));
      gains[k] = _mm_and_ps(active, gain);
      lastRead = select(active, position, lastRead);
      positions[k] = lastRead;
      sounding = _mm_sub_epi32(sounding, _mm_castps_si128(active));

      const __m128 next = _mm_add_ps(position, rate);
      const __m128 ended = _mm_and_ps(
          active,
          narrowMask(_mm256_cmp_pd(_mm256_cvtps_pd(next), end, _CMP_GE_OQ)));
      position = select(_mm_andnot_ps(ended, active), next, position);
      live = _mm_andnot_ps(ended, live);
    }
    _MM_TRANSPOSE4_PS(positions[0], positions[1], positions[2], positions[3]);
    _MM_TRANSPOSE4_PS(gains[0], gains[1], gains[2], gains[3]);
    for (int32_t lane = 0; lane < kLanes; ++lane) {
      _mm_storeu_ps(positionOut + lane * kMaxTile + j0, positions[lane]);
      _mm_storeu_ps(gainOut + lane * kMaxTile + j0, gains[lane]);
    }
  }

  _mm_storeu_ps(lanes.level, level);
  _mm_storeu_ps(lanes.levelStep, step);
  _mm_storeu_ps(lanes.position, position);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes.soundingSamples), sounding);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes.ended),
                   _mm_castps_si128(_mm_andnot_ps(live, allLanes)));
}

// Cells n and n + 1 of one buffer for four samples, as double lanes. When
// the four samples' cells lie within eight cells of the first, one load and
// two permutes fetch them; otherwise (rate 2 or more) each pair on its own.
void loadNeighbours(const float* buffer, __m128i cells, __m256d& lower,
                    __m256d& upper) {
  const int32_t first = _mm_cvtsi128_si32(cells);
  const __m128i offsets = _mm_sub_epi32(cells, _mm_set1_epi32(first));
  if (_mm_extract_epi32(offsets, 3) < 7) {
    const __m256 window = _mm256_loadu_ps(buffer + first);
    const __m256i at = _mm256_castsi128_si256(offsets);
    const __m256i next =
        _mm256_castsi128_si256(_mm_add_epi32(offsets, _mm_set1_epi32(1)));
    lower = _mm256_cvtps_pd(
        _mm256_castps256_ps128(_mm256_permutevar8x32_ps(window, at)));
    upper = _mm256_cvtps_pd(
        _mm256_castps256_ps128(_mm256_permutevar8x32_ps(window, next)));
    return;
  }
  auto pair = [buffer](int32_t cell) {
    return _mm_castsi128_ps(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(buffer + cell)));
  };
  const __m128 ab =
      _mm_unpacklo_ps(pair(first), pair(_mm_extract_epi32(cells, 1)));
  const __m128 cd = _mm_unpacklo_ps(pair(_mm_extract_epi32(cells, 2)),
                                    pair(_mm_extract_epi32(cells, 3)));
  lower = _mm256_cvtps_pd(_mm_movelh_ps(ab, cd));
  upper = _mm256_cvtps_pd(_mm_movehl_ps(cd, ab));
}

// single(sum + ((upper − lower) × fraction + lower) × gain), in double.
__m128 added(const float* sum, __m256d lower, __m256d upper, __m256d fraction,
             __m256d gain) {
  const __m256d sample = _mm256_add_pd(
      _mm256_mul_pd(_mm256_sub_pd(upper, lower), fraction), lower);
  return _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(sum)),
                                       _mm256_mul_pd(sample, gain)));
}

void mixGrain(const float* left, const float* right, const float* position,
              const float* gain, int32_t count, float* sumLeft,
              float* sumRight) {
  for (int32_t j = 0; j < count; j += 4) {
    const __m128 p = _mm_loadu_ps(position + j);
    const __m128i cells = _mm_cvttps_epi32(p);
    const __m256d fraction =
        _mm256_sub_pd(_mm256_cvtps_pd(p), _mm256_cvtepi32_pd(cells));
    const __m256d g = _mm256_cvtps_pd(_mm_loadu_ps(gain + j));

    __m256d lower, upper;
    loadNeighbours(left, cells, lower, upper);
    _mm_storeu_ps(sumLeft + j, added(sumLeft + j, lower, upper, fraction, g));
    loadNeighbours(right, cells, lower, upper);
    _mm_storeu_ps(sumRight + j, added(sumRight + j, lower, upper, fraction, g));
  }
}

// Four sums divided by 3 in double lanes, rounded and clipped.
__m128 delivered(const float* sum) {
  const __m128 v = _mm256_cvtpd_ps(
      _mm256_div_pd(_mm256_cvtps_pd(_mm_loadu_ps(sum)), _mm256_set1_pd(3.0)));
  return _mm_min_ps(_mm_max_ps(v, _mm_set1_ps(-1.0f)), _mm_set1_ps(1.0f));
}

template <bool Accumulate>
int32_t deliver(const float* sumLeft, const float* sumRight, float* outLeft,
                float* outRight, int32_t frames) {
  int32_t j = 0;
  for (; j + 4 <= frames; j += 4) {
    __m128 left = delivered(sumLeft + j);
    __m128 right = delivered(sumRight + j);
    if (Accumulate) {
      left = _mm_add_ps(_mm_loadu_ps(outLeft + j), left);
      right = _mm_add_ps(_mm_loadu_ps(outRight + j), right);
    }
    _mm_storeu_ps(outLeft + j, left);
    _mm_storeu_ps(outRight + j, right);
  }
  return j;
}
}  // namespace

const MixKernels kAvx2Kernels = {advanceGrains, mixGrain, deliver<false>,
                                 deliver<true>};
}  // namespace tiles
