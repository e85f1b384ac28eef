// The korvane effect: a granular effect that captures its stereo input into
// tempo-synced buffers and plays up to 32 overlapping grains from them.
//
// Two engines compute the grains, with the same bits. The per-sample engine
// (grainEngine.cpp) runs the whole algorithm one sample at a time; it is the
// readable account of what korvane does, and the fallback. The tiled engine
// (tiles::TiledEngine, tiledEngine.cpp) keeps the per-sample engine's
// control part (change test, tempo query, capture, start clock) and runs the
// mix a tile of up to 64 samples at a time with SSE2 or AVX2 kernels
// (mixKernels.h). process and processReplacing run the tiled engine
// whenever the block's arrays suit it (TiledEngine::fits), which is always
// but for a host that overlaps its arrays in part. Tests prove the two equal
// (tests/tiledEngineTest.cpp) and compare the per-sample engine with an
// independent reference model (tests/engineReferenceTest.cpp).
#pragma once

#include <cstdint>

#include "PendingValue.h"
#include "RandomGenerator.h"
#include "RelaxedAtomic.h"
#include "audioeffectx.h"
#include "engineShared.h"
#include "parameterIndex.h"
#include "tiledEngine.h"

// The engine state both engines take is the private base engine::State, so
// that the per-sample engine reads it as its own fields.
class myfx : public AudioEffectX, private engine::State {
 public:
  static constexpr int32_t kNumPrograms = 1;
  static constexpr int32_t kNumParams = Param::kCount;
  static constexpr int32_t kGrainSlots = engine::kGrainSlots;
  static constexpr int32_t kCaptureSeconds = 8;
  static constexpr int32_t kProgramNameBytes = 32;
  // A grain's length in samples after construction, in every slot and as
  // the "len" setting.
  static constexpr int32_t kDefaultGrainLength = 4000;
  // Transposition in semitones below and above 0 ("tp").
  static constexpr int32_t kTransposeSpan = 24;
  // The tempo when the host gives none, or none that is a positive number.
  static constexpr double kFallbackTempo = 120.0;

  // ---- host's main thread during open/close
  // In `main`.
  explicit myfx(HostCallback callback);
  // Opcode 1.
  ~myfx() override;
  // False when a capture buffer could not be allocated; `main` then hands
  // the host nothing.
  bool isReady() const {
    return recordBufferLeft != nullptr && recordBufferRight != nullptr;
  }
  // Audio stopped; allocates only when the rate changed: a host rate
  // (opcodes 10 and 43) from 8000 to 384000 Hz other than the one in use
  // becomes the rate of every sample count, with new capture buffers, and
  // the engine starts again. Anything else changes nothing.
  void resume() override;
  // Before processing starts: korvane's seed call (seedExtension.h) reseeds
  // the random generator as construction does and answers 1; any other
  // vendor call answers 0.
  intptr_t vendorSpecific(int32_t index, intptr_t value, void* ptr,
                          float opt) override;

  // ---- audio thread
  // Adds the grains to what the outputs hold.
  void process(float** inputs, float** outputs, int32_t sampleFrames) override;
  // Writes the grains over the outputs.
  void processReplacing(float** inputs, float** outputs,
                        int32_t sampleFrames) override;

  // ---- any thread
  // Writes one 32-bit field, and before the first processed sample also
  // keeps the value of "st rate", "pos" or "len" pending.
  void setParameter(int32_t index, float value) override;
  // Reads the field and the loop length, or the value set before the first
  // processed sample for "st rate", "pos" and "len".
  float getParameter(int32_t index) override;
  // Keeps at most 31 characters of a host's text.
  void setProgramName(char* name) override;
  void getProgramName(char* name) override;
  // A unit label, empty for the plain fractions.
  void getParameterLabel(int32_t index, char* label) override;
  // The field in the effect's own unit, not the normalised value.
  void getParameterDisplay(int32_t index, char* text) override;
  void getParameterName(int32_t index, char* text) override;
  int32_t getPlugCategory() override;
  bool getEffectName(char* name) override;
  bool getVendorString(char* text) override;
  bool getProductString(char* text) override;
  int32_t getVendorVersion() override;
  // 1 for the one capability korvane has, -1 for any other.
  int32_t canDo(char* text) override;

 private:
  friend struct ParameterTable;
  friend struct myfxProbe;  // tests read the engine's state through it

  // The per-sample engine (grainEngine.cpp), and the loop that drives the
  // tiled engine with its control part.
  template <bool Accumulate>
  void run(float** inputs, float** outputs, int32_t sampleFrames);
  template <bool Accumulate>
  void runTiled(float** inputs, float** outputs, int32_t sampleFrames);
  int32_t control(float& left, float& right);
  void deriveLoopFromTempo();
  int32_t advanceCapture(bool triggered);
  void decideStart(double transposeBase);
  void startGrain(int32_t slot, double transposeBase);
  void mix(float& sumLeft, float& sumRight);
  float randomFraction();

  // Parameters and the sample rate (parameters.cpp, sampleRate.cpp).
  void storeParameterDefaults();
  void adoptPendingValues();
  void adoptSampleRate(int32_t rate);
  void rescaleLoopRelativeFields(int32_t oldRate, int32_t newRate);
  void resetRunningState();
  static double rescaled(double count, int32_t from, int32_t to);
  // The loop length from construction until the first tempo query.
  int32_t placeholderLoop() const { return sampleRateHz.load(); }

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
  // and a resume at a new rate), like the capture buffers of the engine
  // state; parameter calls read the rate for the placeholder loop.
  RelaxedAtomic<int32_t> sampleRateHz;
  // The main thread seeds it (the seed call), the audio thread draws from it.
  RandomGenerator random;

  // Written by the audio thread, like the grain slots of the engine state.
  // Parameter calls read the loop length.
  RelaxedAtomic<int32_t> loopLength;
  double tempo;
  float lastInput;
  int32_t recordPosition;
  int32_t recordLength;
  // Set at the first tempo query, which adopts the pending values.
  bool tempoQueried;
  int32_t startCounter;
  float currentRate;
  // The inputs and result of the last loop derivation (deriveLoopFromTempo).
  double derivedTempo;
  int32_t derivedSixteenths;
  int32_t derivedLoop;
  // The tiled engine and its working memory.
  tiles::TiledEngine tiled;
};

// Builds one effect instance for a host; null when the host answers version 0
// or memory is short. Nothing is thrown out of it.
AEffect* createEffectInstance(HostCallback callback);
