// Read access for tests to the effect's private engine state. The effect
// befriends this struct, so it is defined here once for the whole test binary.
#pragma once

#include <cstdint>

#include "myfx.h"

struct myfxProbe {
  static double tempo(const myfx& f) { return f.tempo; }
  static int32_t bufferSixteenths(const myfx& f) {
    return f.bufferSixteenths.load();
  }
  static int32_t sampleRateHz(const myfx& f) { return f.sampleRateHz.load(); }
  static float recordThreshold(const myfx& f) {
    return f.recordThreshold.load();
  }
  static float lastInput(const myfx& f) { return f.lastInput; }
  static const float* recordBufferLeft(const myfx& f) {
    return f.recordBufferLeft;
  }
  static const float* recordBufferRight(const myfx& f) {
    return f.recordBufferRight;
  }
  static int32_t bufferCapacity(const myfx& f) { return f.bufferCapacity; }
  static int32_t recordPosition(const myfx& f) { return f.recordPosition; }
  static int32_t loopLength(const myfx& f) { return f.loopLength.load(); }
  static int32_t recordLength(const myfx& f) { return f.recordLength; }
  static int32_t grainOffset(const myfx& f) { return f.grainOffset.load(); }
  static float positionJitter(const myfx& f) { return f.positionJitter.load(); }
  static int32_t startInterval(const myfx& f) { return f.startInterval.load(); }
  static float startJitter(const myfx& f) { return f.startJitter.load(); }
  static int32_t startCounter(const myfx& f) { return f.startCounter; }
  static const float* grainPosition(const myfx& f) { return f.grainPosition; }
  static const float* grainStart(const myfx& f) { return f.grainStart; }
  static const int32_t* grainJitter(const myfx& f) { return f.grainJitter; }
  static const float* grainRate(const myfx& f) { return f.grainRate; }
  static const int32_t* grainLength(const myfx& f) { return f.grainLength; }
  static int32_t lengthBase(const myfx& f) { return f.lengthBase.load(); }
  static float lengthJitter(const myfx& f) { return f.lengthJitter.load(); }
  static const float* grainLevel(const myfx& f) { return f.grainLevel; }
  static const float* grainLevelStep(const myfx& f) { return f.grainLevelStep; }
  static float envelopeCeiling(const myfx& f) {
    return f.envelopeCeiling.load();
  }
  static int32_t transpose(const myfx& f) { return f.transpose.load(); }
  static float pitchJitter(const myfx& f) { return f.pitchJitter.load(); }
  static float currentRate(const myfx& f) { return f.currentRate; }
  static uint32_t soundingSlots(const myfx& f) { return f.soundingSlots; }
  // The tiled engine: tests choose the kernel family and the tile size, or
  // switch the tiled path off to run the per-sample engine alone.
  static tiles::TiledEngine& tiled(myfx& f) { return f.tiled; }
  // The per-sample engine alone, as processReplacing runs it where the tiled
  // engine does not fit; for the benchmarks, whose build has no probes.
  static void runPerSample(myfx& f, float** inputs, float** outputs,
                           int32_t frames) {
    f.run<false>(inputs, outputs, frames);
  }
  // A copy of the random generator, to see its next draws.
  static RandomGenerator random(const myfx& f) { return f.random; }
};
