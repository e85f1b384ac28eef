// The per-sample grain engine: per sample, the change test, the tempo
// query, capture into the two buffers, the grain-start clock, grain start and
// the mix of all sounding grains. It is the readable account of the effect.
// The processing routines run the tiled engine instead wherever it fits
// (myfx.h says when); runTiled below drives it with this engine's control
// part, so the two differ only in how the mix is computed.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engineShared.h"
#include "mixOutput.h"
#include "myfx.h"

namespace {
using engine::kAccumulatingBase;
using engine::kReplacingBase;
using engine::lowestSlot;
using engine::readCell;
using engine::single;
using engine::slotBit;
using engine::trunc32;

constexpr double kSecondsPerMinute = 60.0;
constexpr double kSixteenthsPerBeat = 4.0;
constexpr double kRandomDivisor = RandomGenerator::kMax;
constexpr double kRateAtLowestTranspose = 0.25;
constexpr float kMinRate = 0.125f;

// A NaN or infinite input sample counts as silence, so that the buffers only
// ever hold finite values.
float finiteOrSilence(float sample) {
  return std::isfinite(sample) ? sample : 0.0f;
}

constexpr uint32_t kAllSlotsSounding = 0xFFFFFFFFu;
static_assert(myfx::kGrainSlots == 32, "one bit per grain slot");
}  // namespace

void myfx::processReplacing(float** inputs, float** outputs,
                            int32_t sampleFrames) {
  if (sampleFrames > 0 && preparedRate.waiting()) adoptPreparedRate();
  if (tiled.fits(inputs, outputs, sampleFrames)) {
    runTiled<false>(inputs, outputs, sampleFrames);
  } else {
    run<false>(inputs, outputs, sampleFrames);
  }
}

void myfx::process(float** inputs, float** outputs, int32_t sampleFrames) {
  if (sampleFrames > 0 && preparedRate.waiting()) adoptPreparedRate();
  if (tiled.fits(inputs, outputs, sampleFrames)) {
    runTiled<true>(inputs, outputs, sampleFrames);
  } else {
    run<true>(inputs, outputs, sampleFrames);
  }
}

// Sample k of both inputs is read before sample k of the outputs is written,
// so inputs and outputs may be the same arrays. No state depends on where a
// block begins or ends.
template <bool Accumulate>
void myfx::run(float** inputs, float** outputs, int32_t sampleFrames) {
  const double transposeBase = Accumulate ? kAccumulatingBase : kReplacingBase;
  for (int32_t k = 0; k < sampleFrames; ++k) {
    float left = inputs[0][k];
    float right = inputs[1][k];
    const int32_t cell = control(left, right);
    if (cell >= 0) {
      recordBufferLeft[cell] = left;
      recordBufferRight[cell] = right;
    }

    if (startCounter >= loopSettings.count(kStartIntervalSlot))
      decideStart(transposeBase);

    float sumLeft = 0.0f;
    float sumRight = 0.0f;
    mix(sumLeft, sumRight);
    ++startCounter;

    mixOutput::deliver<Accumulate>(sumLeft, sumRight, outputs[0][k],
                                   outputs[1][k]);
  }
}

// The same block a tile at a time: the control part runs sample by sample as
// in `run`, a start decision falls only on a tile's first sample (a tile ends
// before the next sample whose start clock is due), and the tiled engine
// mixes and delivers the tile.
template <bool Accumulate>
void myfx::runTiled(float** inputs, float** outputs, int32_t sampleFrames) {
  const double transposeBase = Accumulate ? kAccumulatingBase : kReplacingBase;
  const int32_t tileSize = tiled.tileSize();
  for (int32_t k0 = 0; k0 < sampleFrames;) {
    tiled.beginTile();
    auto controlSample = [&](int32_t j) {
      float left = inputs[0][k0 + j];
      float right = inputs[1][k0 + j];
      const int32_t cell = control(left, right);
      if (cell >= 0) tiled.capture(*this, j, cell, left, right);
    };

    controlSample(0);
    const int32_t interval = loopSettings.count(kStartIntervalSlot);
    if (startCounter >= interval) decideStart(transposeBase);
    const int64_t untilDue = static_cast<int64_t>(interval) - startCounter;
    const int32_t frames = static_cast<int32_t>(std::max<int64_t>(
        1, std::min<int64_t>({untilDue, tileSize, sampleFrames - k0})));
    for (int32_t j = 1; j < frames; ++j) controlSample(j);
    startCounter += frames;

    tiled.mixAndDeliver<Accumulate>(*this, envelopeCeiling.load(), frames,
                                    outputs[0] + k0, outputs[1] + k0);
    k0 += frames;
  }
}

// The control part of one sample: the change test on the mono fold, the
// tempo query, the capture position and `lastInput`. Makes a NaN or infinite
// input sample silent in place and answers the capture cell the sample goes
// to, or -1 when no capture runs; the caller writes the cell.
int32_t myfx::control(float& left, float& right) {
  left = finiteOrSilence(left);
  right = finiteOrSilence(right);

  const float mono = single((double(left) + double(right)) / 2.0);
  const double change = std::fabs(double(mono) - double(lastInput));
  const bool triggered = change > double(recordThreshold.load());

  if (triggered || recordPosition == 0) deriveLoopFromTempo();
  const int32_t cell = advanceCapture(triggered);
  lastInput = mono;
  return cell;
}

// Asks the host for its tempo and derives the loop and capture lengths: the
// loop is "bsize" sixteenth notes, the capture two loops, both at
// most the buffer's capacity. The first query also converts the settings of
// "st rate", "pos" and "len" made before it against the loop it derives.
void myfx::deriveLoopFromTempo() {
  const VstTimeInfo* timeInfo = getTimeInfo(TimeFlag::kTempoValid);
  const double hostTempo =
      timeInfo != nullptr ? timeInfo->tempo : kFallbackTempo;
  // A tempo that is not a positive number means as much as no tempo at all.
  tempo =
      std::isfinite(hostTempo) && hostTempo > 0.0 ? hostTempo : kFallbackTempo;

  if (!tempoQueried) {
    // Once, and out of this per-sample path: the loop comes from the
    // "bsize" in force at the moment the first query takes effect.
    const loop::Frame adopted = adoptFirstLoop(tempo);
    derivedTempo = tempo;
    derivedSixteenths = adopted.sixteenths();
    derivedLoop = adopted.loop();
    loopLength = derivedLoop;
  } else {
    // While idle this runs on every sample; an unchanged tempo and loop
    // setting give the same loop as last time, so the arithmetic is skipped.
    const int32_t sixteenths = loopSettings.frame().sixteenths();
    if (tempo != derivedTempo || sixteenths != derivedSixteenths) {
      derivedLoop = loopFor(tempo, sixteenths, rateInUse, bufferCapacity);
      derivedTempo = tempo;
      derivedSixteenths = sixteenths;
      // Parameter calls read the loop in the frame.
      if (derivedLoop != loopLength)
        loopSettings.moveLoop(loopLength, derivedLoop);
      loopLength = derivedLoop;
    }
  }
  recordLength = std::min(2 * loopLength, bufferCapacity);
}

int32_t myfx::loopFor(double tempo, int32_t sixteenths, int32_t rate,
                      int32_t capacity) {
  const double sixteenthSeconds =
      kSecondsPerMinute / (tempo * kSixteenthsPerBeat);
  const double loopSamples = sixteenths * sixteenthSeconds * double(rate);
  // Limited before the conversion: a very slow tempo gives a product that
  // no 32-bit integer holds.
  return loopSamples > double(capacity) ? capacity : trunc32(loopSamples);
}

int32_t myfx::placeholderLoop(loop::Frame frame) {
  return loopFor(kFallbackTempo, frame.sixteenths(), frame.rate(),
                 kCaptureSeconds * frame.rate());
}

// Moves the capture on by one sample while a capture runs (a change past the
// threshold starts one) and returns to idle after `recordLength` cells;
// answers the cell this sample is written to, or -1. Every such cell lies
// inside the buffers: `recordPosition` stays below `recordLength`, which
// never exceeds the capacity.
int32_t myfx::advanceCapture(bool triggered) {
  int32_t cell = -1;
  if (triggered || recordPosition > 0) cell = recordPosition++;
  if (recordPosition >= recordLength) recordPosition = 0;
  return cell;
}

// Starts a grain in the lowest free slot, if any, then re-arms the clock with
// a randomly shortened interval: to trunc(st jitter x r x interval) -
// interval / 2, r a random fraction from 0 to 1. The next decision falls
// when the clock reaches the interval, so decisions come every
// interval + interval / 2 - trunc(st jitter x r x interval) samples: with no
// jitter every 1.5 times "st rate" (63, 67 and 72 samples for 42, 45 and 48,
// the half rounded down), and "st jitter" shortens that by up to its value
// times "st rate". This is the designed timing. The clock starts at 0 when
// the instance opens or takes a new rate, so the first decision comes
// "st rate" samples in.
void myfx::decideStart(double transposeBase) {
  if (soundingSlots != kAllSlotsSounding) {
    startGrain(lowestSlot(~soundingSlots), transposeBase);
  }
  const int32_t interval = loopSettings.count(kStartIntervalSlot);
  const float r = randomFraction();
  startCounter =
      trunc32(double(startJitter.load()) * r * interval) - interval / 2;
}

// Draws position, length and pitch spread, in this order, and sets the slot
// sounding with a rising envelope. The pitch spread adds
// (2 x r3 - 0.5) x 2 x "p jitter" to the playback rate of the transposition
// (1 at "tp" 0): with pj for "p jitter", from -pj to +3pj around that rate,
// +pj on average, so the spread leans upward by design.
void myfx::startGrain(int32_t slot, double transposeBase) {
  const int32_t loop = loopLength;

  // Position: up to a quarter loop past "pos".
  const float r1 = randomFraction();
  const float p = single(double(positionJitter.load()) * r1);
  grainJitter[slot] = trunc32((loop / 4) * double(p));

  // Length: up to a sixteenth of the loop more than "len".
  const float r2 = randomFraction();
  const float q = single(double(lengthJitter.load()) * r2);
  grainLength[slot] =
      trunc32((loop / 16) * double(q)) + loopSettings.count(kLengthBaseSlot);

  // Rate: the transposition's, spread by "p jitter", never below kMinRate.
  const float r3 = randomFraction();
  currentRate =
      single(kRateAtLowestTranspose *
             std::pow(transposeBase, transpose.load() + kTransposeSpan));
  currentRate = single(double(currentRate) +
                       (2.0 * r3 - 0.5) * (2.0 * double(pitchJitter.load())));
  if (currentRate < kMinRate) currentRate = kMinRate;
  grainRate[slot] = currentRate;

  // The envelope rises from 0 to its peak over half the grain.
  grainLevel[slot] = 0.0f;
  grainLevelStep[slot] =
      single(double(currentRate) * (1.0 / (double(grainLength[slot]) / 2.0)));
  grainPosition[slot] =
      single(grainJitter[slot] + loopSettings.count(kGrainOffsetSlot));
  grainStart[slot] = grainPosition[slot];
  soundingSlots |= slotBit(slot);
}

// Advances every sounding grain's envelope and read position and adds its
// interpolated sample to the channel sums, in slot order (the sums are
// rounded after each grain, so the order is part of the result).
void myfx::mix(float& sumLeftOut, float& sumRightOut) {
  const float ceiling = envelopeCeiling.load();
  const float* const left = recordBufferLeft;
  const float* const right = recordBufferRight;
  const int32_t capacity = bufferCapacity;
  float sumLeft = 0.0f;
  float sumRight = 0.0f;
  for (uint32_t pending = soundingSlots; pending != 0; pending &= pending - 1) {
    const int32_t i = lowestSlot(pending);

    float level = single(double(grainLevel[i]) +
                         double(grainLevelStep[i]) * double(ceiling));
    if (level > ceiling) {  // the peak: from here on it falls
      level = ceiling;
      grainLevelStep[i] = -grainLevelStep[i];
    }
    grainLevel[i] = level;
    // The level limited to 0..1.
    const double gain = level < 0.0f ? 0.0 : level < 1.0f ? level : 1.0;

    // Read positions stay far inside the 32-bit range: start cells and
    // lengths derive from loop lengths no larger than the buffers.
    const float position = grainPosition[i];
    const int32_t cell = trunc32(position);
    const double fraction = double(position) - cell;
    double left0, left1, right0, right1;
    if (static_cast<uint32_t>(cell) < static_cast<uint32_t>(capacity - 1)) {
      left0 = left[cell];
      left1 = left[cell + 1];
      right0 = right[cell];
      right1 = right[cell + 1];
    } else {
      left0 = readCell(left, capacity, cell);
      left1 = readCell(left, capacity, cell + 1);
      right0 = readCell(right, capacity, cell);
      right1 = readCell(right, capacity, cell + 1);
    }
    sumLeft = engine::addInterpolated(sumLeft, left0, left1, fraction, gain);
    sumRight =
        engine::addInterpolated(sumRight, right0, right1, fraction, gain);

    const float next = single(double(position) + double(grainRate[i]));
    if (double(next) >= double(grainStart[i]) + double(grainLength[i])) {
      freeSlot(i);  // the grain has ended
    } else {
      grainPosition[i] = next;
    }
  }
  sumLeftOut = sumLeft;
  sumRightOut = sumRight;
}

// A random fraction from 0 to 1, both included.
float myfx::randomFraction() {
  return single(double(random.next()) / kRandomDivisor);
}
