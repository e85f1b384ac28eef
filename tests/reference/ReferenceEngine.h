// A plain, independent model of the grain engine and the parameter mappings,
// used to check the effect sample for sample and bit for bit.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "parameterIndex.h"

namespace reference {

constexpr int32_t kSlots = 32;
constexpr int32_t kSampleRate = 44100;          // at construction
constexpr int32_t kCapacity = 8 * kSampleRate;  // cells per capture buffer
constexpr float kFree = -1.0f;                  // read position of a free slot
constexpr double kFallbackTempo = 120.0;        // beats per minute
constexpr double kReplacingBase = 1.059463094;  // processReplacing
constexpr double kAccumulatingBase = 1.059463094359;  // process

// Every formula runs in double precision; these mark where a result is
// rounded to single precision or cut to an integer.
inline float single(double x) { return static_cast<float>(x); }
inline int32_t trunc32(double x) { return static_cast<int32_t>(x); }

// What the host answers to one tempo query: nothing, or a tempo.
using HostTempo = std::optional<double>;

// The effect's fields that the engine and the parameters work on, with the
// values they hold right after construction.
struct EngineState {
  double tempo = kFallbackTempo;
  int32_t bufferSixteenths = 16;
  float recordThreshold = 0.0f;
  float lastInput = 0.0f;
  int32_t recordPosition = 0;
  int32_t loopLength = kSampleRate;
  int32_t recordLength = 0;  // derived on the first sample, before any use
  int32_t grainOffset = 0;
  float positionJitter = 0.0f;
  int32_t startInterval = kSampleRate / 50;
  float startJitter = 0.0f;
  int32_t startCounter = 0;
  float grainPosition[kSlots];
  float grainStart[kSlots];
  int32_t grainJitter[kSlots];
  float grainRate[kSlots];
  int32_t grainLength[kSlots];
  int32_t lengthBase = 4000;
  float lengthJitter = 0.0f;
  float grainLevel[kSlots];
  float grainLevelStep[kSlots];
  float envelopeCeiling = 1.0f;
  int32_t transpose = 0;
  float pitchJitter = 0.0f;
  float currentRate = 1.0f;

  EngineState() {
    for (int32_t i = 0; i < kSlots; ++i) {
      grainPosition[i] = kFree;
      grainStart[i] = 0.0f;
      grainJitter[i] = 0;
      grainRate[i] = 1.0f;
      grainLength[i] = 4000;
      grainLevel[i] = 1.0f;
      grainLevelStep[i] = 0.0f;
    }
  }
};

// The per-object generator: a 32-bit linear congruential state, draws of
// 15 bits.
class ReferenceRandom {
 public:
  void seed(uint32_t value) { state_ = value; }
  int32_t draw() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int32_t>((state_ >> 16) & 0x7FFFu);
  }
  // A fraction from 0 to 1, both ends included.
  float fraction() { return single(draw() / 32767.0); }

 private:
  uint32_t state_ = 0;
};

class ReferenceEngine {
 public:
  EngineState s;
  int32_t sampleRate = kSampleRate;  // the rate of every sample count
  int32_t capacity = kCapacity;      // 8 seconds at that rate
  std::vector<float> bufferLeft = std::vector<float>(kCapacity, 0.0f);
  std::vector<float> bufferRight = std::vector<float>(kCapacity, 0.0f);
  int64_t tempoQueries = 0;  // samples that asked the host, since creation

  void seed(uint32_t value) { random_.seed(value); }

  // A value with the bits of what the parameter answers now, compared
  // before any clamping, changes nothing (a host writing back what it read)
  // for "st rate", "pos" and "len". Other values are first clamped into
  // 0..1, NaN counting as 0. Until the first tempo query those three instead
  // keep the clamped value, which getParameter answers and that query
  // converts against the loop it derives.
  void setParameter(int32_t index, float value) {
    const int32_t slot = pendingSlot(index);
    if (slot >= 0) {
      const float answer = getParameter(index);
      if (std::memcmp(&answer, &value, sizeof value) == 0) return;
    }
    const double v = clampUnit(value);
    if (!queried_ && slot >= 0) {
      pending_[slot] = single(v);
      countOf(slot) = 0;  // a pending value replaces the count
      return;
    }
    store(index, v, s.loopLength);
  }

  // The host sets `hostRate`: a rate from 8000 to 384000 Hz, truncated,
  // other than the one in use, waits to be adopted; anything else leaves no
  // rate waiting.
  void setRate(float hostRate) {
    prepared_.reset();
    if (!(hostRate >= 8000.0f && hostRate < 384001.0f)) return;
    if (trunc32(hostRate) != sampleRate) prepared_ = trunc32(hostRate);
  }
  // A resume, or a processing call with a sample, adopts the waiting rate:
  // new cleared buffers of 8 seconds, the loop and the settings of "st
  // rate", "pos" and "len" scaled to the same time (the part above 42 for
  // the two lengths; a pending value stays as it is), and the engine as
  // construction leaves it, random generator and other settings kept.
  void resume() {
    if (!prepared_) return;
    const int32_t r = *prepared_;
    prepared_.reset();
    auto scaled = [&](int32_t count) {
      return trunc32(std::round(double(count) * double(r) / sampleRate));
    };
    s.loopLength = scaled(s.loopLength);
    if (!pending_[0]) s.startInterval = 42 + scaled(s.startInterval - 42);
    if (!pending_[1]) s.grainOffset = scaled(s.grainOffset);
    if (!pending_[2]) s.lengthBase = 42 + scaled(s.lengthBase - 42);
    sampleRate = r;
    capacity = 8 * r;
    bufferLeft.assign(capacity, 0.0f);
    bufferRight.assign(capacity, 0.0f);
    const EngineState fresh;
    s.lastInput = fresh.lastInput;
    s.recordPosition = fresh.recordPosition;
    s.recordLength = fresh.recordLength;
    s.startCounter = fresh.startCounter;
    s.currentRate = fresh.currentRate;
    for (int32_t i = 0; i < kSlots; ++i) {
      s.grainPosition[i] = fresh.grainPosition[i];
      s.grainStart[i] = fresh.grainStart[i];
      s.grainJitter[i] = fresh.grainJitter[i];
      s.grainRate[i] = fresh.grainRate[i];
      s.grainLength[i] = fresh.grainLength[i];
      s.grainLevel[i] = fresh.grainLevel[i];
      s.grainLevelStep[i] = fresh.grainLevelStep[i];
    }
  }

  // The field of parameter `index` set from v against loop length L.
  // clang-format off
  void store(int32_t index, double v, int32_t L) {
    switch (index) {
      case Param::kBufferSixteenths: s.bufferSixteenths = step(v, 63.0) + 1; break;
      case Param::kRecordThreshold: s.recordThreshold = single(v); break;
      case Param::kStartInterval: s.startInterval = step(v, double(L / 16)) + 42; break;
      case Param::kStartJitter: s.startJitter = single(v); break;
      case Param::kGrainOffset: s.grainOffset = step(v, double(L)); break;
      case Param::kPositionJitter: s.positionJitter = single(v); break;
      case Param::kLengthBase: s.lengthBase = step(v, double(L) / 4.0) + 42; break;
      case Param::kLengthJitter: s.lengthJitter = single(v); break;
      case Param::kTranspose: s.transpose = step(v, 48.0) - 24; break;
      case Param::kPitchJitter: s.pitchJitter = single(v); break;
      case Param::kEnvelopeCeiling: s.envelopeCeiling = single(v * 5.0 + 1.0); break;
      default: break;  // no such parameter
    }
  }
  // clang-format on

  // The step of a quantised mapping with `steps` steps per unit: the exact
  // product truncated, except that the value getParameter reports for step
  // k, single(k / steps), restores k even where it lies just below
  // k / steps. Otherwise a host that saves the reported value and restores
  // it would lose a step.
  static int32_t step(double v, double steps) {
    const int32_t k = trunc32(steps * v);
    if (steps > 0.0 && single((k + 1) / steps) == single(v)) return k + 1;
    return k;
  }

  // Bad indexes and loops too short to divide by answer 0. Before the first
  // tempo query the loop is the one that query derives at 120 bpm.
  // clang-format off
  float getParameter(int32_t index) const {
    if (pendingSlot(index) >= 0 && pending_[pendingSlot(index)]) {
      return *pending_[pendingSlot(index)];
    }
    const int32_t L = queried_ ? s.loopLength : loopAt(kFallbackTempo);
    switch (index) {
      case Param::kBufferSixteenths: return single(double(s.bufferSixteenths - 1) / 63.0);
      case Param::kRecordThreshold: return s.recordThreshold;
      case Param::kStartInterval:
        return L / 16 == 0 ? 0.0f
                           : single(double(s.startInterval - 42) / (L / 16));
      case Param::kStartJitter: return s.startJitter;
      case Param::kGrainOffset: return L == 0 ? 0.0f : single(double(s.grainOffset) / L);
      case Param::kPositionJitter: return s.positionJitter;
      case Param::kLengthBase:
        return L == 0 ? 0.0f
                      : single(double(s.lengthBase - 42) / (double(L) / 4.0));
      case Param::kLengthJitter: return s.lengthJitter;
      case Param::kTranspose: return single(double(s.transpose + 24) / 48.0);
      case Param::kPitchJitter: return s.pitchJitter;
      case Param::kEnvelopeCeiling: return single((double(s.envelopeCeiling) - 1.0) / 5.0);
      default: return 0.0f;
    }
  }
  // clang-format on

  // processReplacing (accumulate false) or process (accumulate true). Every
  // tempo query of the block gets the same host answer.
  void run(bool accumulate, const float* inLeft, const float* inRight,
           float* outLeft, float* outRight, int32_t frames, HostTempo host) {
    if (frames > 0) resume();
    const double base = accumulate ? kAccumulatingBase : kReplacingBase;
    for (int32_t k = 0; k < frames; ++k) {
      float left = 0.0f;
      float right = 0.0f;
      sample(inLeft[k], inRight[k], base, host, left, right);
      if (accumulate) {
        outLeft[k] = single(double(outLeft[k]) + left);
        outRight[k] = single(double(outRight[k]) + right);
      } else {
        outLeft[k] = left;
        outRight[k] = right;
      }
    }
  }

 private:
  int32_t& countOf(int32_t slot) {
    return slot == 0   ? s.startInterval
           : slot == 1 ? s.grainOffset
                       : s.lengthBase;
  }
  // Where "st rate" (2), "pos" (4) and "len" (6) keep a pending value.
  static int32_t pendingSlot(int32_t index) {
    return index == Param::kStartInterval ? 0
           : index == Param::kGrainOffset ? 1
           : index == Param::kLengthBase  ? 2
                                          : -1;
  }

  static double clampUnit(float value) {
    if (!(value >= 0.0f)) return 0.0;  // negative or NaN; -0 stays
    if (value > 1.0f) return 1.0;
    return value;
  }

  // One sample of the engine; the result before delivery.
  void sample(float inLeft, float inRight, double base, HostTempo host,
              float& outLeft, float& outRight) {
    // 1. Non-finite input counts as silence.
    const float L = std::isfinite(inLeft) ? inLeft : 0.0f;
    const float R = std::isfinite(inRight) ? inRight : 0.0f;
    // 2. Change test.
    const float m = single((double(L) + double(R)) / 2.0);
    const double d = std::fabs(double(m) - double(s.lastInput));
    const bool triggered = d > double(s.recordThreshold);
    // 3. Tempo query.
    if (triggered || s.recordPosition == 0) deriveLengths(host);
    // 4. Capture.
    if (triggered || s.recordPosition > 0) {
      bufferLeft[s.recordPosition] = L;
      bufferRight[s.recordPosition] = R;
      s.recordPosition = s.recordPosition + 1;
    }
    // 5. Wrap.
    if (s.recordPosition >= s.recordLength) s.recordPosition = 0;
    // 6.
    s.lastInput = m;
    // 7. Start decision.
    if (s.startCounter >= s.startInterval) decide(base);
    // 8. Mix.
    float sumLeft = 0.0f;
    float sumRight = 0.0f;
    for (int32_t i = 0; i < kSlots; ++i) {
      if (s.grainPosition[i] != kFree) mixGrain(i, sumLeft, sumRight);
    }
    // 9.
    s.startCounter = s.startCounter + 1;
    // 10. Divide and clip.
    outLeft = clipUnit(single(double(sumLeft) / 3.0));
    outRight = clipUnit(single(double(sumRight) / 3.0));
  }

  static float clipUnit(float x) {
    if (x > 1.0f) return 1.0f;
    if (x < -1.0f) return -1.0f;
    return x;
  }

  int32_t loopAt(double bpm) const {
    double samples =
        double(s.bufferSixteenths) * (60.0 / (bpm * 4.0)) * double(sampleRate);
    if (samples > capacity) samples = capacity;
    return trunc32(samples);
  }

  void deriveLengths(HostTempo host) {
    ++tempoQueries;
    double bpm = kFallbackTempo;
    if (host && std::isfinite(*host) && *host > 0.0) bpm = *host;
    s.tempo = bpm;
    s.loopLength = loopAt(bpm);
    s.recordLength = 2 * s.loopLength;
    if (s.recordLength > capacity) s.recordLength = capacity;
    if (!queried_) {
      queried_ = true;
      for (int32_t index : {2, 4, 6}) {
        if (pending_[pendingSlot(index)]) {
          store(index, *pending_[pendingSlot(index)], s.loopLength);
        }
        pending_[pendingSlot(index)].reset();
      }
    }
  }

  void decide(double base) {
    for (int32_t i = 0; i < kSlots; ++i) {
      if (s.grainPosition[i] == kFree) {
        startGrain(i, base);
        break;
      }
    }
    const float r = random_.fraction();
    s.startCounter =
        trunc32(double(s.startJitter) * double(r) * double(s.startInterval)) -
        s.startInterval / 2;
  }

  void startGrain(int32_t i, double base) {
    const float r1 = random_.fraction();
    const float p = single(double(s.positionJitter) * double(r1));
    s.grainJitter[i] = trunc32(double(s.loopLength / 4) * double(p));

    const float r2 = random_.fraction();
    const float q = single(double(s.lengthJitter) * double(r2));
    s.grainLength[i] =
        trunc32(double(s.loopLength / 16) * double(q)) + s.lengthBase;

    const float r3 = random_.fraction();
    s.currentRate = single(0.25 * std::pow(base, double(s.transpose + 24)));
    s.currentRate =
        single(double(s.currentRate) +
               (2.0 * double(r3) - 0.5) * (2.0 * double(s.pitchJitter)));
    if (s.currentRate < 0.125f) s.currentRate = 0.125f;
    s.grainRate[i] = s.currentRate;

    s.grainLevel[i] = 0.0f;
    s.grainLevelStep[i] = single(double(s.currentRate) *
                                 (1.0 / (double(s.grainLength[i]) / 2.0)));
    s.grainPosition[i] = single(double(s.grainJitter[i] + s.grainOffset));
    s.grainStart[i] = s.grainPosition[i];
  }

  // Cells outside the buffer read as silence.
  double cell(const std::vector<float>& buffer, int32_t n) const {
    return n < 0 || n >= capacity ? 0.0 : double(buffer[n]);
  }

  void mixGrain(int32_t i, float& sumLeft, float& sumRight) {
    s.grainLevel[i] =
        single(double(s.grainLevel[i]) +
               double(s.grainLevelStep[i]) * double(s.envelopeCeiling));
    if (s.grainLevel[i] > s.envelopeCeiling) {
      s.grainLevel[i] = s.envelopeCeiling;
      s.grainLevelStep[i] = -s.grainLevelStep[i];
    }
    float g = 1.0f;
    if (s.grainLevel[i] < 1.0f) g = s.grainLevel[i];
    if (s.grainLevel[i] < 0.0f) g = 0.0f;

    const int32_t n = trunc32(s.grainPosition[i]);
    const double f = double(s.grainPosition[i]) - double(n);
    const double left = (cell(bufferLeft, n + 1) - cell(bufferLeft, n)) * f +
                        cell(bufferLeft, n);
    const double right = (cell(bufferRight, n + 1) - cell(bufferRight, n)) * f +
                         cell(bufferRight, n);
    sumLeft = single(double(sumLeft) + left * double(g));
    sumRight = single(double(sumRight) + right * double(g));

    s.grainPosition[i] =
        single(double(s.grainPosition[i]) + double(s.grainRate[i]));
    if (double(s.grainPosition[i]) >=
        double(s.grainStart[i]) + double(s.grainLength[i])) {
      s.grainPosition[i] = kFree;
    }
  }

  ReferenceRandom random_;
  bool queried_ = false;  // the first tempo query has been made
  std::optional<float> pending_[3];
  std::optional<int32_t> prepared_;  // a rate set, not yet adopted
};

}  // namespace reference
