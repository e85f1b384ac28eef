// The korvane effect: a granular effect that captures its stereo input into
// tempo-synced buffers and plays up to 32 overlapping grains from them.
#pragma once

#include <cstdint>

#include "PendingValue.h"
#include "RandomGenerator.h"
#include "RelaxedAtomic.h"
#include "audioeffectx.h"
#include "parameterIndex.h"

namespace tiles {
struct TileScratch;
}

class myfx : public AudioEffectX {
 public:
  static constexpr int32_t kNumPrograms = 1;
  static constexpr int32_t kNumParams = Param::kCount;
  static constexpr int32_t kGrainSlots = 32;
  static constexpr int32_t kCaptureSeconds = 8;
  static constexpr int32_t kProgramNameBytes = 32;
  // A grain's length in samples after construction, in every slot and as
  // the "len" setting.
  static constexpr int32_t kDefaultGrainLength = 4000;
  // Transposition in semitones below and above 0 ("tp").
  static constexpr int32_t kTransposeSpan = 24;
  // The tempo when the host gives none, or none that is a positive number.
  static constexpr double kFallbackTempo = 120.0;

  // host's main thread during open/close (in `main`)
  explicit myfx(HostCallback callback);
  // host's main thread during open/close (opcode 1)
  ~myfx() override;

  // host's main thread during open/close: false when a capture buffer could
  // not be allocated; `main` then hands the host nothing.
  bool isReady() const {
    return recordBufferLeft != nullptr && recordBufferRight != nullptr;
  }

  // any thread; writes one 32-bit field, and before the first processed
  // sample also keeps the value of "st rate", "pos" or "len" pending
  void setParameter(int32_t index, float value) override;
  // any thread; reads the field and the loop length, or the value set before
  // the first processed sample for "st rate", "pos" and "len"
  float getParameter(int32_t index) override;

  // audio thread; adds the grains to what the outputs hold
  void process(float** inputs, float** outputs, int32_t sampleFrames) override;
  // audio thread; writes the grains over the outputs
  void processReplacing(float** inputs, float** outputs,
                        int32_t sampleFrames) override;

  // any thread; keeps at most 31 characters of a host's text
  void setProgramName(char* name) override;
  // any thread
  void getProgramName(char* name) override;
  // any thread; a unit label, empty for the plain fractions
  void getParameterLabel(int32_t index, char* label) override;
  // any thread; the field in the effect's own unit, not the normalised value
  void getParameterDisplay(int32_t index, char* text) override;
  // any thread
  void getParameterName(int32_t index, char* text) override;

  // any thread
  int32_t getPlugCategory() override;
  // any thread
  bool getEffectName(char* name) override;
  // any thread
  bool getVendorString(char* text) override;
  // any thread
  bool getProductString(char* text) override;
  // any thread
  int32_t getVendorVersion() override;
  // any thread; 1 for the one capability korvane has, -1 for any other
  int32_t canDo(char* text) override;
  // host's main thread, audio stopped; allocates only when the rate changed:
  // a host rate (opcodes 10 and 43) from 8000 to 384000 Hz other than the
  // one in use becomes the rate of every sample count, with new capture
  // buffers, and the engine starts again. Anything else changes nothing.
  void resume() override;

  // host's main thread during open/close, before processing starts:
  // korvane's seed call (seedExtension.h) reseeds the random generator as
  // construction does and answers 1; any other vendor call answers 0.
  intptr_t vendorSpecific(int32_t index, intptr_t value, void* ptr,
                          float opt) override;

  // For tests: makes the random draws repeatable. Hosts cannot reach it.
  void seedRandom(uint32_t seed) { random.seed(seed); }

 private:
  friend struct ParameterTable;
  friend struct myfxProbe;  // tests read the engine's state through it

  // The grain engine, one sample at a time (grainEngine.cpp).
  template <bool Accumulate>
  void run(float** inputs, float** outputs, int32_t sampleFrames);
  int32_t control(float& left, float& right);
  void deriveLoopFromTempo();
  void adoptPendingValues();
  void adoptSampleRate(int32_t rate);
  void rescaleLoopRelativeFields(int32_t oldRate, int32_t newRate);
  void resetRunningState();
  static double rescaled(double count, int32_t from, int32_t to);
  // The loop length from construction until the first tempo query.
  int32_t placeholderLoop() const { return sampleRateHz.load(); }
  void storeParameterDefaults();
  int32_t advanceCapture(bool triggered);
  void decideStart(double transposeBase);
  void startGrain(int32_t slot, double transposeBase);
  void mix(float& sumLeft, float& sumRight);
  void freeSlot(int32_t slot);
  float randomFraction();

  // The same engine a tile of samples at a time, with vector kernels
  // (tiledEngine.cpp); it gives the same bits as `run`.
  template <bool Accumulate>
  void runTiled(float** inputs, float** outputs, int32_t sampleFrames);
  bool tiledPathFits(float* const* inputs, float* const* outputs,
                     int32_t sampleFrames) const;
  void mixTile(int32_t frames, float* sumLeft, float* sumRight);
  void mixLanes(uint32_t slots, int32_t frames, float ceiling, float* sumLeft,
                float* sumRight);

  // Written by parameter calls from any host thread, read by the audio
  // thread where it next uses them (RelaxedAtomic.h says why that is safe).
  RelaxedAtomic<int32_t> bufferSixteenths;
  RelaxedAtomic<float> recordThreshold;
  RelaxedAtomic<int32_t> startInterval;
  RelaxedAtomic<float> startJitter;
  RelaxedAtomic<int32_t> grainOffset;
  RelaxedAtomic<float> positionJitter;
  RelaxedAtomic<int32_t> lengthBase;
  RelaxedAtomic<float> lengthJitter;
  RelaxedAtomic<int32_t> transpose;
  RelaxedAtomic<float> pitchJitter;
  RelaxedAtomic<float> envelopeCeiling;
  // Until the first tempo query "st rate", "pos" and "len" keep their
  // settings here (PendingValue.h); that query converts them.
  PendingValue pendingStartInterval;
  PendingValue pendingOffset;
  PendingValue pendingLength;
  char programName[kProgramNameBytes];

  // Written by the host's main thread while audio is stopped (construction
  // and a resume at a new rate); parameter calls read the rate for the
  // placeholder loop.
  RelaxedAtomic<int32_t> sampleRateHz;
  float* recordBufferLeft;
  float* recordBufferRight;
  int32_t bufferCapacity;
  // The main thread seeds it (the seed call), the audio thread draws from it.
  RandomGenerator random;
  // The tiled engine's working memory; null when it could not be allocated,
  // and then the per-sample engine runs alone.
  tiles::TileScratch* tileScratch;

  // Written by the audio thread. Parameter calls read the loop length.
  RelaxedAtomic<int32_t> loopLength;
  double tempo;
  float lastInput;
  int32_t recordPosition;
  int32_t recordLength;
  // Set at the first tempo query, which adopts the pending values.
  bool tempoQueried;
  int32_t startCounter;
  float grainPosition[kGrainSlots];
  float grainStart[kGrainSlots];
  int32_t grainJitter[kGrainSlots];
  float grainRate[kGrainSlots];
  int32_t grainLength[kGrainSlots];
  float grainLevel[kGrainSlots];
  float grainLevelStep[kGrainSlots];
  float currentRate;
  // Bit i is set while slot i sounds (its grainPosition is not -1): lets the
  // mix and the free-slot search visit only the slots that matter.
  uint32_t soundingSlots;
  // The inputs and result of the last loop derivation (deriveLoopFromTempo).
  double derivedTempo;
  int32_t derivedSixteenths;
  int32_t derivedLoop;
};

// Builds one effect instance for a host; null when the host answers version 0
// or memory is short. Nothing is thrown out of it.
AEffect* createEffectInstance(HostCallback callback);
