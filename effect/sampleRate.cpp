// Following the host's sample rate: the capture buffers, the loop and the
// loop-relative settings move to the rate a host sets, at its next resume.
#include <cmath>
#include <new>

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

// host's main thread, audio stopped; allocates only when the rate changed.
// Hosts set the rate (opcode 10 or 43) before a resume; a rate set while
// resumed waits for the next one, since processing may be running.
void myfx::resume() {
  const float hostRate = getSampleRate();
  // Tested as a float first: a NaN or a huge rate has no integer value.
  if (!(hostRate >= kLowestRate && hostRate < kHighestRate + 1.0f)) return;
  const int32_t rate = static_cast<int32_t>(hostRate);
  if (rate == sampleRateHz.load()) return;
  adoptSampleRate(rate);
}

// Two new capture buffers of kCaptureSeconds at `rate`; only when both are
// there do they replace the old ones. The engine starts again as
// construction leaves it, the loop and the settings of "st rate", "pos" and
// "len" keep their length in time, and the random generator and the other
// settings are untouched.
void myfx::adoptSampleRate(int32_t rate) {
  const int32_t capacity = kCaptureSeconds * rate;
  float* left = new (std::nothrow) float[capacity]();
  float* right = new (std::nothrow) float[capacity]();
  if (left == nullptr || right == nullptr) {
    delete[] left;
    delete[] right;
    return;
  }
  delete[] recordBufferLeft;
  delete[] recordBufferRight;
  recordBufferLeft = left;
  recordBufferRight = right;

  const int32_t oldRate = sampleRateHz.load();
  sampleRateHz.store(rate);
  bufferCapacity = capacity;
  loopLength.store(
      static_cast<int32_t>(rescaled(loopLength.load(), oldRate, rate)));
  rescaleLoopRelativeFields(oldRate, rate);
  resetRunningState();
}

// host's main thread during open/close, and when the rate changes: no
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
