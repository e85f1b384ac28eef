// The tiled engine's kernels with AVX2: eight grains' recurrences side by
// side, four double lanes per vector in the mix, and an eight-cell window with
// lane permutes in place of separate cell loads. This file alone is built with
// -mavx2 (never with FMA, which would fuse the multiply and add); it defines
// nothing but the kernel table and functions of its own, so no AVX2 code can
// stand in for a function that other files share. The effect calls it only
// after the processor has said it has AVX2.
#include <immintrin.h>

#include "kernelLoops.h"
#include "mixKernels.h"
#include "mixOutput.h"

namespace tiles {
namespace {
constexpr int32_t kLanes = 8;

__m256 select(__m256 mask, __m256 yes, __m256 no) {
  return _mm256_blendv_ps(no, yes, mask);
}
__m256d lowHalf(__m256 v) { return _mm256_cvtps_pd(_mm256_castps256_ps128(v)); }
__m256d highHalf(__m256 v) {
  return _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1));
}
__m256 narrow(__m256d low, __m256d high) {
  return _mm256_set_m128(_mm256_cvtpd_ps(high), _mm256_cvtpd_ps(low));
}

// The grain recurrence stated in mixKernels.h, `kLanes` grains at a time;
// SingleRise: rise is a float in every lane, and the level's add is single.
template <bool SingleRise>
void advance(GrainLanes& lanes, float ceilingValue, int32_t frames,
             float* positionOut, float* gainOut) {
  const __m256 ceiling = _mm256_set1_ps(ceilingValue);
  const __m256d ceilingWide = _mm256_set1_pd(ceilingValue);
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256 zero = _mm256_setzero_ps();
  const __m256 signBit = _mm256_set1_ps(-0.0f);
  const __m256 allLanes = _mm256_castsi256_ps(_mm256_set1_epi32(-1));

  __m256 level = _mm256_loadu_ps(lanes.level);
  __m256 step = _mm256_loadu_ps(lanes.levelStep);
  __m256 position = _mm256_loadu_ps(lanes.position);
  const __m256 rate = _mm256_loadu_ps(lanes.rate);
  const __m256 end = _mm256_loadu_ps(lanes.end);
  // step × ceiling: exact in double; it only changes sign at the peak.
  __m256d riseLow = _mm256_mul_pd(lowHalf(step), ceilingWide);
  __m256d riseHigh = _mm256_mul_pd(highHalf(step), ceilingWide);
  __m256 riseSingle = narrow(riseLow, riseHigh);
  __m256 live = allLanes;
  __m256i sounding = _mm256_setzero_si256();

  // Four samples, of which the first `inTile` belong to the tile: past the
  // tile's end nothing moves and nothing sounds.
  auto group = [&](int32_t j0, int32_t inTile) {
    __m256 positions[4];
    __m256 gains[4];
    for (int32_t k = 0; k < 4; ++k) {
      const __m256 active = k < inTile ? live : zero;

      const __m256 raised =
          SingleRise ? _mm256_add_ps(level, riseSingle)
                     : narrow(_mm256_add_pd(lowHalf(level), riseLow),
                              _mm256_add_pd(highHalf(level), riseHigh));
      // Above the ceiling: the peak, from where the level falls. The minimum
      // with the ceiling first keeps a NaN as the comparison does.
      const __m256 peak =
          _mm256_and_ps(active, _mm256_cmp_ps(raised, ceiling, _CMP_GT_OQ));
      level = select(active, _mm256_min_ps(ceiling, raised), level);
      const __m256 flip = _mm256_and_ps(peak, signBit);
      step = _mm256_xor_ps(step, flip);
      if (SingleRise) {
        riseSingle = _mm256_xor_ps(riseSingle, flip);
      } else {
        riseLow = _mm256_xor_pd(riseLow, lowHalf(flip));
        riseHigh = _mm256_xor_pd(riseHigh, highHalf(flip));
      }

      // The level limited to 0..1; a NaN level gives 1, as in the engine.
      const __m256 gain = _mm256_andnot_ps(
          _mm256_cmp_ps(level, zero, _CMP_LT_OQ),
          select(_mm256_cmp_ps(level, one, _CMP_LT_OQ), level, one));
      gains[k] = _mm256_and_ps(active, gain);
      positions[k] = position;
      sounding = _mm256_sub_epi32(sounding, _mm256_castps_si256(active));

      // An ended grain keeps the position after its last; it is read only
      // with gain 0.
      const __m256 next = _mm256_add_ps(position, rate);
      position = select(active, next, position);
      const __m256 ended =
          _mm256_and_ps(active, _mm256_cmp_ps(next, end, _CMP_GE_OQ));
      live = _mm256_andnot_ps(ended, live);
    }
    // Lanes 0..3 from the low halves, 4..7 from the high halves.
    for (int32_t half = 0; half < 2; ++half) {
      __m128 p[4], g[4];
      for (int32_t k = 0; k < 4; ++k) {
        p[k] = half == 0 ? _mm256_castps256_ps128(positions[k])
                         : _mm256_extractf128_ps(positions[k], 1);
        g[k] = half == 0 ? _mm256_castps256_ps128(gains[k])
                         : _mm256_extractf128_ps(gains[k], 1);
      }
      _MM_TRANSPOSE4_PS(p[0], p[1], p[2], p[3]);
      _MM_TRANSPOSE4_PS(g[0], g[1], g[2], g[3]);
      for (int32_t lane = 0; lane < 4; ++lane) {
        const int32_t at = (half * 4 + lane) * kMaxTile + j0;
        _mm_storeu_ps(positionOut + at, p[lane]);
        _mm_storeu_ps(gainOut + at, g[lane]);
      }
    }
  };
  int32_t j0 = 0;
  for (; j0 + 4 <= frames; j0 += 4) group(j0, 4);
  if (j0 < frames) group(j0, frames - j0);

  _mm256_storeu_ps(lanes.level, level);
  _mm256_storeu_ps(lanes.levelStep, step);
  _mm256_storeu_ps(lanes.position, position);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes.soundingSamples),
                      sounding);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes.ended),
                      _mm256_castps_si256(_mm256_andnot_ps(live, allLanes)));
}

void advanceGrains(GrainLanes& lanes, float ceiling, int32_t frames,
                   float* positionOut, float* gainOut) {
  const __m256 step = _mm256_loadu_ps(lanes.levelStep);
  const __m256d wide = _mm256_set1_pd(ceiling);
  const __m256d riseLow = _mm256_mul_pd(lowHalf(step), wide);
  const __m256d riseHigh = _mm256_mul_pd(highHalf(step), wide);
  const __m256 single = narrow(riseLow, riseHigh);
  const int exactLow =
      _mm256_movemask_pd(_mm256_cmp_pd(lowHalf(single), riseLow, _CMP_EQ_OQ));
  const int exactHigh =
      _mm256_movemask_pd(_mm256_cmp_pd(highHalf(single), riseHigh, _CMP_EQ_OQ));
  if (exactLow == 0xF && exactHigh == 0xF) {
    advance<true>(lanes, ceiling, frames, positionOut, gainOut);
  } else {
    advance<false>(lanes, ceiling, frames, positionOut, gainOut);
  }
}

// Cells n and n + 1 of one buffer for four samples, as double lanes, from
// the eight cells from `first` on: one load and two lane permutes.
void windowNeighbours(const float* buffer, int32_t first, __m128i offsets,
                      __m256d& lower, __m256d& upper) {
  const __m256 window = _mm256_loadu_ps(buffer + first);
  const __m256i at = _mm256_castsi128_si256(offsets);
  const __m256i next =
      _mm256_castsi128_si256(_mm_add_epi32(offsets, _mm_set1_epi32(1)));
  lower = _mm256_cvtps_pd(
      _mm256_castps256_ps128(_mm256_permutevar8x32_ps(window, at)));
  upper = _mm256_cvtps_pd(
      _mm256_castps256_ps128(_mm256_permutevar8x32_ps(window, next)));
}

// The same with a load of two cells per sample, when the four samples'
// cells spread wider than the window (rate 2 or more).
void pairNeighbours(const float* buffer, __m128i cells, __m256d& lower,
                    __m256d& upper) {
  auto pair = [buffer](int32_t cell) {
    return _mm_castsi128_ps(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(buffer + cell)));
  };
  const __m128 ab = _mm_unpacklo_ps(pair(_mm_cvtsi128_si32(cells)),
                                    pair(_mm_extract_epi32(cells, 1)));
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

// Four samples of one grain from sample j on, added to the sums; only the
// lanes that `keep` marks are stored, so a sum the grain does not reach keeps
// its bits (its sign of zero too).
template <bool Partial>
void mixGroup(const float* left, const float* right, const float* position,
              const float* gain, int32_t j, __m128 keep, float* sumLeft,
              float* sumRight) {
  const __m128 p = _mm_loadu_ps(position + j);
  const __m128i cells = _mm_cvttps_epi32(p);
  const __m256d fraction =
      _mm256_sub_pd(_mm256_cvtps_pd(p), _mm256_cvtepi32_pd(cells));
  const __m256d g = _mm256_cvtps_pd(_mm_loadu_ps(gain + j));

  const int32_t first = _mm_cvtsi128_si32(cells);
  const __m128i offsets = _mm_sub_epi32(cells, _mm_set1_epi32(first));
  __m256d lowerLeft, upperLeft, lowerRight, upperRight;
  if (_mm_extract_epi32(offsets, 3) < kWindowReach) {
    windowNeighbours(left, first, offsets, lowerLeft, upperLeft);
    windowNeighbours(right, first, offsets, lowerRight, upperRight);
  } else {
    pairNeighbours(left, cells, lowerLeft, upperLeft);
    pairNeighbours(right, cells, lowerRight, upperRight);
  }
  __m128 resultLeft = added(sumLeft + j, lowerLeft, upperLeft, fraction, g);
  __m128 resultRight = added(sumRight + j, lowerRight, upperRight, fraction, g);
  if (Partial) {
    resultLeft = _mm_blendv_ps(_mm_loadu_ps(sumLeft + j), resultLeft, keep);
    resultRight = _mm_blendv_ps(_mm_loadu_ps(sumRight + j), resultRight, keep);
  }
  _mm_storeu_ps(sumLeft + j, resultLeft);
  _mm_storeu_ps(sumRight + j, resultRight);
}

// Four sums divided by the mix divisor in double lanes, rounded and clipped.
__m128 delivered(const float* sum) {
  const __m128 v =
      _mm256_cvtpd_ps(_mm256_div_pd(_mm256_cvtps_pd(_mm_loadu_ps(sum)),
                                    _mm256_set1_pd(mixOutput::kMixDivisor)));
  return _mm_min_ps(_mm_max_ps(v, _mm_set1_ps(-1.0f)), _mm_set1_ps(1.0f));
}
}  // namespace

const MixKernels kAvx2Kernels = {
    kLanes, advanceGrains, mixGroups<mixGroup<false>, mixGroup<true>>,
    deliverGroups<false, delivered>, deliverGroups<true, delivered>};
}  // namespace tiles
