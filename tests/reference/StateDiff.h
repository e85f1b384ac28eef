// Field-by-field, bit-for-bit comparison of two engine states, naming the
// first field that differs.
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "ReferenceEngine.h"

namespace reference {

template <typename T>
bool sameBits(T a, T b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

inline bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() &&
         std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

class StateDiff {
 public:
  // Empty when every field has the same bits; otherwise the first field
  // that differs with both values.
  static std::string first(const EngineState& expected,
                           const EngineState& actual) {
    StateDiff diff;
    const EngineState& e = expected;
    const EngineState& a = actual;
    diff.field("tempo", -1, e.tempo, a.tempo);
    diff.field("bufferSixteenths", -1, e.bufferSixteenths, a.bufferSixteenths);
    diff.field("recordThreshold", -1, e.recordThreshold, a.recordThreshold);
    diff.field("lastInput", -1, e.lastInput, a.lastInput);
    diff.field("recordPosition", -1, e.recordPosition, a.recordPosition);
    diff.field("loopLength", -1, e.loopLength, a.loopLength);
    diff.field("recordLength", -1, e.recordLength, a.recordLength);
    diff.field("grainOffset", -1, e.grainOffset, a.grainOffset);
    diff.field("positionJitter", -1, e.positionJitter, a.positionJitter);
    diff.field("startInterval", -1, e.startInterval, a.startInterval);
    diff.field("startJitter", -1, e.startJitter, a.startJitter);
    diff.field("startCounter", -1, e.startCounter, a.startCounter);
    for (int32_t i = 0; i < kSlots; ++i) {
      diff.field("grainPosition", i, e.grainPosition[i], a.grainPosition[i]);
      diff.field("grainStart", i, e.grainStart[i], a.grainStart[i]);
      diff.field("grainJitter", i, e.grainJitter[i], a.grainJitter[i]);
      diff.field("grainRate", i, e.grainRate[i], a.grainRate[i]);
      diff.field("grainLength", i, e.grainLength[i], a.grainLength[i]);
      diff.field("grainLevel", i, e.grainLevel[i], a.grainLevel[i]);
      diff.field("grainLevelStep", i, e.grainLevelStep[i], a.grainLevelStep[i]);
    }
    diff.field("lengthBase", -1, e.lengthBase, a.lengthBase);
    diff.field("lengthJitter", -1, e.lengthJitter, a.lengthJitter);
    diff.field("envelopeCeiling", -1, e.envelopeCeiling, a.envelopeCeiling);
    diff.field("transpose", -1, e.transpose, a.transpose);
    diff.field("pitchJitter", -1, e.pitchJitter, a.pitchJitter);
    diff.field("currentRate", -1, e.currentRate, a.currentRate);
    return diff.text_;
  }

 private:
  template <typename T>
  void field(const char* name, int32_t slot, T expected, T actual) {
    if (!text_.empty() || sameBits(expected, actual)) return;
    std::ostringstream out;
    out.precision(17);
    out << name;
    if (slot >= 0) out << '[' << slot << ']';
    out << ": model " << expected << ", effect " << actual;
    text_ = out.str();
  }

  std::string text_;
};

}  // namespace reference
