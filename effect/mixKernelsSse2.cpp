// The tiled engine's kernels with SSE2 alone: every x86 build, the 32-bit
// and the Windows ones included. Each lane computes what the per-sample
// engine computes for one grain or one sample, in the same precision.
#include <emmintrin.h>

#include "kernelLoops.h"
#include "mixKernels.h"
#include "mixOutput.h"

namespace tiles {
namespace {
constexpr int32_t kLanes = 4;

// Lanes of `yes` where the mask is set, of `no` elsewhere.
__m128 select(__m128 mask, __m128 yes, __m128 no) {
  return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
}

// Two single lanes widened to double: lanes 0 and 1, or 2 and 3.
__m128d lowPair(__m128 v) { return _mm_cvtps_pd(v); }
__m128d highPair(__m128 v) {
  return _mm_cvtps_pd(
      _mm_castsi128_ps(_mm_shuffle_epi32(_mm_castps_si128(v), 0xEE)));
}
__m128 narrow(__m128d low, __m128d high) {
  return _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
}
// A four-lane mask from two double-lane masks.
__m128 joinMasks(__m128d low, __m128d high) {
  return _mm_shuffle_ps(_mm_castpd_ps(low), _mm_castpd_ps(high),
                        _MM_SHUFFLE(2, 0, 2, 0));
}

// The grain recurrence stated in mixKernels.h, `kLanes` grains at a time;
// SingleRise: rise is a float in every lane, and the level's add is single.
template <bool SingleRise>
void advance(GrainLanes& lanes, float ceilingValue, int32_t frames,
             float* positionOut, float* gainOut) {
  const __m128 ceiling = _mm_set1_ps(ceilingValue);
  const __m128d ceilingWide = _mm_set1_pd(ceilingValue);
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 zero = _mm_setzero_ps();
  const __m128 signBit = _mm_set1_ps(-0.0f);
  const __m128 allLanes = _mm_castsi128_ps(_mm_set1_epi32(-1));

  __m128 level = _mm_loadu_ps(lanes.level);
  __m128 step = _mm_loadu_ps(lanes.levelStep);
  __m128 position = _mm_loadu_ps(lanes.position);
  const __m128 rate = _mm_loadu_ps(lanes.rate);
  const __m128 end = _mm_loadu_ps(lanes.end);
  // step × ceiling: exact in double; it only changes sign at the peak.
  __m128d riseLow = _mm_mul_pd(lowPair(step), ceilingWide);
  __m128d riseHigh = _mm_mul_pd(highPair(step), ceilingWide);
  __m128 riseSingle = narrow(riseLow, riseHigh);
  __m128 live = allLanes;
  __m128i sounding = _mm_setzero_si128();

  // Four samples, of which the first `inTile` belong to the tile: past the
  // tile's end nothing moves and nothing sounds.
  auto group = [&](int32_t j0, int32_t inTile) {
    __m128 positions[4];
    __m128 gains[4];
    for (int32_t k = 0; k < 4; ++k) {
      const __m128 active = k < inTile ? live : zero;

      const __m128 raised = SingleRise
                                ? _mm_add_ps(level, riseSingle)
                                : narrow(_mm_add_pd(lowPair(level), riseLow),
                                         _mm_add_pd(highPair(level), riseHigh));
      // Above the ceiling: the peak, from where the level falls. The minimum
      // with the ceiling first keeps a NaN as the comparison does.
      const __m128 peak = _mm_and_ps(active, _mm_cmpgt_ps(raised, ceiling));
      level = select(active, _mm_min_ps(ceiling, raised), level);
      const __m128 flip = _mm_and_ps(peak, signBit);
      step = _mm_xor_ps(step, flip);
      if (SingleRise) {
        riseSingle = _mm_xor_ps(riseSingle, flip);
      } else {
        riseLow = _mm_xor_pd(riseLow, lowPair(flip));
        riseHigh = _mm_xor_pd(riseHigh, highPair(flip));
      }

      // The level limited to 0..1; a NaN level gives 1, as in the engine.
      const __m128 gain =
          _mm_andnot_ps(_mm_cmplt_ps(level, zero),
                        select(_mm_cmplt_ps(level, one), level, one));
      gains[k] = _mm_and_ps(active, gain);
      positions[k] = position;
      sounding = _mm_sub_epi32(sounding, _mm_castps_si128(active));

      // An ended grain keeps the position after its last; it is read only
      // with gain 0.
      const __m128 next = _mm_add_ps(position, rate);
      position = select(active, next, position);
      const __m128 ended = _mm_and_ps(active, _mm_cmpge_ps(next, end));
      live = _mm_andnot_ps(ended, live);
    }
    _MM_TRANSPOSE4_PS(positions[0], positions[1], positions[2], positions[3]);
    _MM_TRANSPOSE4_PS(gains[0], gains[1], gains[2], gains[3]);
    for (int32_t lane = 0; lane < kLanes; ++lane) {
      _mm_storeu_ps(positionOut + lane * kMaxTile + j0, positions[lane]);
      _mm_storeu_ps(gainOut + lane * kMaxTile + j0, gains[lane]);
    }
  };
  int32_t j0 = 0;
  for (; j0 + 4 <= frames; j0 += 4) group(j0, 4);
  if (j0 < frames) group(j0, frames - j0);

  _mm_storeu_ps(lanes.level, level);
  _mm_storeu_ps(lanes.levelStep, step);
  _mm_storeu_ps(lanes.position, position);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes.soundingSamples), sounding);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes.ended),
                   _mm_castps_si128(_mm_andnot_ps(live, allLanes)));
}

void advanceGrains(GrainLanes& lanes, float ceiling, int32_t frames,
                   float* positionOut, float* gainOut) {
  const __m128 step = _mm_loadu_ps(lanes.levelStep);
  const __m128d wide = _mm_set1_pd(ceiling);
  const __m128d riseLow = _mm_mul_pd(lowPair(step), wide);
  const __m128d riseHigh = _mm_mul_pd(highPair(step), wide);
  const __m128 single = narrow(riseLow, riseHigh);
  const __m128 exact = joinMasks(_mm_cmpeq_pd(lowPair(single), riseLow),
                                 _mm_cmpeq_pd(highPair(single), riseHigh));
  if (_mm_movemask_ps(exact) == 0xF) {
    advance<true>(lanes, ceiling, frames, positionOut, gainOut);
  } else {
    advance<false>(lanes, ceiling, frames, positionOut, gainOut);
  }
}

// Cells n and n + 1 of one buffer for four samples, as double lanes: the
// lower and upper cells of samples 0 and 1, then of samples 2 and 3.
struct Neighbours {
  __m128d lowerLow, upperLow, lowerHigh, upperHigh;
};
Neighbours neighbours(const float* buffer, const uint32_t* cells) {
  auto pair = [buffer](uint32_t cell) {
    return _mm_castsi128_ps(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(buffer + cell)));
  };
  const __m128 ab = _mm_unpacklo_ps(pair(cells[0]), pair(cells[1]));
  const __m128 cd = _mm_unpacklo_ps(pair(cells[2]), pair(cells[3]));
  return {lowPair(ab), highPair(ab), lowPair(cd), highPair(cd)};
}

// single(sum + ((upper − lower) × fraction + lower) × gain), in double.
__m128d added(__m128d sum, __m128d lower, __m128d upper, __m128d fraction,
              __m128d gain) {
  const __m128d sample =
      _mm_add_pd(_mm_mul_pd(_mm_sub_pd(upper, lower), fraction), lower);
  return _mm_add_pd(sum, _mm_mul_pd(sample, gain));
}

// Four samples of one grain from sample j on, added to the sums; only the
// lanes that `keep` marks are stored, so a sum the grain does not reach keeps
// its bits (its sign of zero too).
template <bool Partial>
void mixGroup(const float* left, const float* right, const float* position,
              const float* gain, int32_t j, __m128 keep, float* sumLeft,
              float* sumRight) {
  const __m128 p = _mm_loadu_ps(position + j);
  const __m128i cellVector = _mm_cvttps_epi32(p);
  // Through memory: four plain loads beat four lane extractions.
  uint32_t cells[4];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(cells), cellVector);
  const __m128d fractionLow =
      _mm_sub_pd(lowPair(p), _mm_cvtepi32_pd(cellVector));
  const __m128d fractionHigh = _mm_sub_pd(
      highPair(p), _mm_cvtepi32_pd(_mm_shuffle_epi32(cellVector, 0xEE)));
  const __m128 g = _mm_loadu_ps(gain + j);
  const __m128d gainLow = lowPair(g);
  const __m128d gainHigh = highPair(g);

  for (int32_t channel = 0; channel < 2; ++channel) {
    const Neighbours n = neighbours(channel == 0 ? left : right, cells);
    float* sums = (channel == 0 ? sumLeft : sumRight) + j;
    const __m128 sum = _mm_loadu_ps(sums);
    __m128 result = narrow(
        added(lowPair(sum), n.lowerLow, n.upperLow, fractionLow, gainLow),
        added(highPair(sum), n.lowerHigh, n.upperHigh, fractionHigh, gainHigh));
    if (Partial) result = select(keep, result, sum);
    _mm_storeu_ps(sums, result);
  }
}

// Four sums divided by the mix divisor in double lanes (no single-precision
// divide, so no slow path on denormal sums), rounded and clipped.
__m128 delivered(const float* sum) {
  const __m128d divisor = _mm_set1_pd(mixOutput::kMixDivisor);
  const __m128 s = _mm_loadu_ps(sum);
  const __m128 v =
      narrow(_mm_div_pd(lowPair(s), divisor), _mm_div_pd(highPair(s), divisor));
  return _mm_min_ps(_mm_max_ps(v, _mm_set1_ps(-1.0f)), _mm_set1_ps(1.0f));
}
}  // namespace

const MixKernels kSse2Kernels = {
    kLanes, advanceGrains, mixGroups<mixGroup<false>, mixGroup<true>>,
    deliverGroups<false, delivered>, deliverGroups<true, delivered>};
}  // namespace tiles
