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

#include <atomic>
#include <cstdint>

#include "LoopSettings.h"
#include "PreparedRate.h"
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
  // `close`: frees the capture buffers, prepared and retired ones too.
  ~myfx() override;
  // False when a capture buffer could not be allocated; `main` then hands
  // the host nothing.
  bool isReady() const {
    return recordBufferLeft != nullptr && recordBufferRight != nullptr;
  }
  // `setSampleRate` and `setBlockSizeAndSampleRate`, on whatever thread the
  // host sets the rate, while suspended or resumed: a rate from 8000 to
  // 384000 Hz other than the one in use is prepared (its capture buffers
  // allocated here); anything else leaves nothing prepared. The rate is
  // adopted at the next resume or processing call, whichever comes first.
  void setSampleRate(float rate) override;
  void setBlockSizeAndSampleRate(int32_t size, float rate) override;
  // The rate in use: the last one adopted (at construction, 44100 Hz).
  int32_t adoptedRate() const { return loopSettings.frame().rate(); }
  // `mainsChanged` off; frees the buffers an adoption replaced.
  void suspend() override;
  // `mainsChanged` on, on the host's main or audio thread: adopts a
  // prepared rate. Allocates and frees nothing.
  void resume() override;
  // `vendorSpecific`, before processing starts: korvane's seed call
  // (seedExtension.h) reseeds the random generator as construction does and
  // answers 1; any other vendor call answers 0.
  intptr_t vendorSpecific(int32_t index, intptr_t value, void* ptr,
                          float opt) override;

  // ---- audio thread
  // Both first adopt a prepared rate, when the block has a sample.
  // Adds the grains to what the outputs hold.
  void process(float** inputs, float** outputs, int32_t sampleFrames) override;
  // Writes the grains over the outputs.
  void processReplacing(float** inputs, float** outputs,
                        int32_t sampleFrames) override;

  // ---- any thread
  // Writes one field; before the first processed sample "st rate", "pos"
  // and "len" keep the value pending instead (LoopSettings.h). A value with
  // the bits of what getParameter answers changes nothing. Never waits for
  // another thread: an adoption found under way is completed here.
  void setParameter(int32_t index, float value) override;
  // The field against the loop length, or a value still pending as set.
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
  // audio thread, at the first tempo query: converts the values set before
  // it; answers the frame it leaves, with the loop it derived.
  loop::Frame adoptFirstLoop(double tempo);
  void prepareRate(float hostRate);
  void adoptPreparedRate();
  // any thread: completes the adoption that marked `marked` (LoopSettings.h)
  // and answers the frame it leaves.
  loop::Frame completeAdoption(loop::Frame marked);
  loop::Frame adoptedFrame(loop::Frame marked) const;
  loop::Word convertedWord(int slot, loop::Word was, loop::Frame marked,
                           loop::Frame next) const;
  // any thread: a loop setting's word and frame, an adoption under way
  // completed first.
  loop::Settings::Snapshot snapshot(int slot) {
    return loopSettings.snapshot(
        slot, [this](loop::Frame marked) { completeAdoption(marked); });
  }
  void resetRunningState();
  static double rescaled(double count, int32_t from, int32_t to);
  // The loop `deriveLoopFromTempo` derives, limited to `capacity`.
  static int32_t loopFor(double tempo, int32_t sixteenths, int32_t rate,
                         int32_t capacity);
  // Until the first tempo query: the loop that query derives at 120 bpm
  // (or with no tempo), with the "bsize" and rate of `frame`.
  static int32_t placeholderLoop(loop::Frame frame);

  // Written by parameter calls from any host thread, read by the audio
  // thread where it next uses them (RelaxedAtomic.h says why that is safe).
  // "bsize", the loop and the rate in its frame, and the counts of "st
  // rate", "pos" and "len", in the slots below.
  loop::Settings loopSettings;
  static constexpr int kStartIntervalSlot = 0;
  static constexpr int kGrainOffsetSlot = 1;
  static constexpr int kLengthBaseSlot = 2;
  RelaxedAtomic<float> recordThreshold;
  RelaxedAtomic<float> startJitter;
  RelaxedAtomic<float> positionJitter;
  RelaxedAtomic<float> lengthJitter;
  RelaxedAtomic<int32_t> transpose;
  RelaxedAtomic<float> pitchJitter;
  RelaxedAtomic<float> envelopeCeiling;
  char programName[kProgramNameBytes];

  // The rate in use: written where a rate is adopted (construction, a
  // resume, the start of a processing call), like the capture buffers of
  // the engine state. Parameter calls read the frame's copy.
  int32_t rateInUse;
  // A rate set by the host, with its buffers, until it is adopted.
  PreparedRate preparedRate;
  // The main thread seeds it (the seed call), the audio thread draws from it.
  RandomGenerator random;

  // Written by the audio thread, like the grain slots of the engine state.
  // The loop length the engine uses; parameter calls read the frame's copy.
  int32_t loopLength;
  double tempo;
  float lastInput;
  int32_t recordPosition;
  int32_t recordLength;
  // Set at the first tempo query, which converts the pending values.
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
