// Following the host's sample rate: a rate is prepared where the host sets
// it (capture buffers allocated on that thread) and adopted where it takes
// effect, at the next resume or the start of the next processing call.
#include <cmath>
#include <utility>

#include "engineShared.h"
#include "myfx.h"

namespace {
// Rates outside this range (0, negative, NaN, absurd) change nothing.
constexpr int32_t kLowestRate = 8000;
constexpr int32_t kHighestRate = 384000;
}  // namespace

// A count of samples at `from` Hz as the same time at `to` Hz, to the
// nearest whole sample (halves away from zero), in double precision.
double myfx::rescaled(double count, int32_t from, int32_t to) {
  return std::round(count * static_cast<double>(to) / from);
}

void myfx::setSampleRate(float rate) {
  AudioEffectX::setSampleRate(rate);
  prepareRate(rate);
}

void myfx::setBlockSizeAndSampleRate(int32_t size, float rate) {
  AudioEffectX::setBlockSizeAndSampleRate(size, rate);
  prepareRate(rate);
}

// The rate set last decides: one from 8000 to 384000 Hz (truncated) other
// than the rate in use gets its buffers now; anything else leaves nothing
// prepared. A failed allocation prepares nothing either. The rate in use
// needs no buffers, unless an adoption took a prepared pair before this call
// withdrew it: then the rate read may no longer be the one in use, so the
// rate is prepared with buffers after all, and the adoption of a pair for the
// rate in use only retires it.
void myfx::prepareRate(float hostRate) {
  // Tested as a float first: a NaN or a huge rate has no integer value.
  if (!(hostRate >= kLowestRate && hostRate < kHighestRate + 1.0f)) {
    preparedRate.prepare(nullptr);
    return;
  }
  const int32_t rate = static_cast<int32_t>(hostRate);
  if (rate == loopSettings.frame().rate() && preparedRate.withdraw() &&
      rate == loopSettings.frame().rate()) {
    return;
  }
  preparedRate.prepare(CaptureBuffers::allocate(rate, kCaptureSeconds * rate));
}

void myfx::resume() { adoptPreparedRate(); }

void myfx::suspend() { preparedRate.freeRetired(); }

// The prepared buffers replace the ones in use (which wait to be freed on a
// host thread); the engine starts again as construction leaves it, the loop
// and the settings of "st rate", "pos" and "len" keep their length in time,
// and the random generator and the other settings are untouched. A pair
// prepared for the rate already in use is only retired.
void myfx::adoptPreparedRate() {
  CaptureBuffers* prepared = preparedRate.take();
  if (prepared == nullptr) return;
  const int32_t rate = prepared->rate;
  if (rate != rateInUse) {
    loopSettings.adoption.kind.store(loop::Adoption::kNewRate,
                                     std::memory_order_relaxed);
    loopSettings.adoption.rate.store(rate, std::memory_order_relaxed);
    const loop::Frame adopted = completeAdoption(loopSettings.mark());
    std::swap(recordBufferLeft, prepared->left);
    std::swap(recordBufferRight, prepared->right);
    bufferCapacity = prepared->capacity;
    rateInUse = rate;
    loopLength = adopted.loop();
    resetRunningState();
  }
  preparedRate.retire(prepared);
  preparedRate.endTake();
}

// At construction, and where a new rate is adopted (a resume or the start of
// a processing call): no
// capture under way, every grain slot free with its first values, the start
// clock at 0, and the next tempo query derives the loop afresh.
void myfx::resetRunningState() {
  recordPosition = 0;
  recordLength = 0;  // derived on the next processed sample, before any use
  lastInput = 0.0f;
  for (int32_t i = 0; i < kGrainSlots; ++i) {
    grainPosition[i] = engine::kFreeSlot;
    grainStart[i] = 0.0f;
    grainJitter[i] = 0;
    grainRate[i] = 1.0f;
    grainLength[i] = kDefaultGrainLength;
    grainLevelStep[i] = 0.0f;
    grainLevel[i] = 1.0f;
  }
  soundingSlots = 0;
  startCounter = 0;
  currentRate = 1.0f;
  derivedTempo = 0.0;  // no tempo: the next query derives the loop
  derivedSixteenths = 0;
  derivedLoop = 0;
}
