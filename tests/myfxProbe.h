// Read access for tests to the effect's private engine state. The effect
// befriends this struct, so it is defined here once for the whole test binary.
#pragma once

#include <cstdint>

#include "RandomGenerator.h"
#include "myfx.h"
#include "reference/ReferenceEngine.h"
#include "tiledEngine.h"

struct myfxProbe {
  // The engine's fields, in the reference model's state record, so that the
  // two compare field by field (reference/StateDiff.h).
  static reference::EngineState state(const myfx& f) {
    reference::EngineState s;
    s.tempo = f.tempo;
    s.bufferSixteenths = f.loopSettings.frame().sixteenths();
    s.recordThreshold = f.recordThreshold.load();
    s.lastInput = f.lastInput;
    s.recordPosition = f.recordPosition;
    s.loopLength = f.loopLength;
    s.recordLength = f.recordLength;
    s.grainOffset = count(f, myfx::kGrainOffsetSlot);
    s.positionJitter = f.positionJitter.load();
    s.startInterval = count(f, myfx::kStartIntervalSlot);
    s.startJitter = f.startJitter.load();
    s.startCounter = f.startCounter;
    for (int32_t i = 0; i < myfx::kGrainSlots; ++i) {
      s.grainPosition[i] = f.grainPosition[i];
      s.grainStart[i] = f.grainStart[i];
      s.grainJitter[i] = f.grainJitter[i];
      s.grainRate[i] = f.grainRate[i];
      s.grainLength[i] = f.grainLength[i];
      s.grainLevel[i] = f.grainLevel[i];
      s.grainLevelStep[i] = f.grainLevelStep[i];
    }
    s.lengthBase = count(f, myfx::kLengthBaseSlot);
    s.lengthJitter = f.lengthJitter.load();
    s.envelopeCeiling = f.envelopeCeiling.load();
    s.transpose = f.transpose.load();
    s.pitchJitter = f.pitchJitter.load();
    s.currentRate = f.currentRate;
    return s;
  }

  // A loop setting's count; 0 while a value is pending in its place.
  static int32_t count(const myfx& f, int slot) {
    const loop::Word word(f.loopSettings.words_[slot].load());
    return word.isPending() ? 0 : word.count();
  }

  // What the model's record has no field for.
  static int32_t sampleRateHz(const myfx& f) {
    return f.loopSettings.frame().rate();
  }
  // The loop length alone: safe to read while the audio thread runs.
  static int32_t loopLength(const myfx& f) {
    return f.loopSettings.frame().loop();
  }
  static const float* recordBufferLeft(const myfx& f) {
    return f.recordBufferLeft;
  }
  static const float* recordBufferRight(const myfx& f) {
    return f.recordBufferRight;
  }
  static int32_t bufferCapacity(const myfx& f) { return f.bufferCapacity; }
  static uint32_t soundingSlots(const myfx& f) { return f.soundingSlots; }
  // A copy of the random generator, to see its next draws.
  static RandomGenerator random(const myfx& f) { return f.random; }

  // The tiled engine: tests choose the kernel family and the tile size, or
  // switch the tiled path off to run the per-sample engine alone.
  static tiles::TiledEngine& tiled(myfx& f) { return f.tiled; }
  // The per-sample engine alone, as processReplacing runs it where the tiled
  // engine does not fit; for the benchmarks, whose build has no probes.
  static void runPerSample(myfx& f, float** inputs, float** outputs,
                           int32_t frames) {
    f.run<false>(inputs, outputs, frames);
  }
};
