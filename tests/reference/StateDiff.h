// Field-by-field, bit-for-bit comparison of two engine states, naming the
// first field that differs.
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>
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

// Every field of the record, in the order the diff checks them: the fields
// of one value, then those with a value per grain slot.
template <typename T>
struct Field {
  const char* name;
  T EngineState::*member;
};
template <typename T>
struct SlotField {
  const char* name;
  T (EngineState::*member)[kSlots];
};
inline const auto kFields = std::make_tuple(
    Field<double>{"tempo", &EngineState::tempo},
    Field<int32_t>{"bufferSixteenths", &EngineState::bufferSixteenths},
    Field<float>{"recordThreshold", &EngineState::recordThreshold},
    Field<float>{"lastInput", &EngineState::lastInput},
    Field<int32_t>{"recordPosition", &EngineState::recordPosition},
    Field<int32_t>{"loopLength", &EngineState::loopLength},
    Field<int32_t>{"recordLength", &EngineState::recordLength},
    Field<int32_t>{"grainOffset", &EngineState::grainOffset},
    Field<float>{"positionJitter", &EngineState::positionJitter},
    Field<int32_t>{"startInterval", &EngineState::startInterval},
    Field<float>{"startJitter", &EngineState::startJitter},
    Field<int32_t>{"startCounter", &EngineState::startCounter},
    Field<int32_t>{"lengthBase", &EngineState::lengthBase},
    Field<float>{"lengthJitter", &EngineState::lengthJitter},
    Field<float>{"envelopeCeiling", &EngineState::envelopeCeiling},
    Field<int32_t>{"transpose", &EngineState::transpose},
    Field<float>{"pitchJitter", &EngineState::pitchJitter},
    Field<float>{"currentRate", &EngineState::currentRate},
    SlotField<float>{"grainPosition", &EngineState::grainPosition},
    SlotField<float>{"grainStart", &EngineState::grainStart},
    SlotField<int32_t>{"grainJitter", &EngineState::grainJitter},
    SlotField<float>{"grainRate", &EngineState::grainRate},
    SlotField<int32_t>{"grainLength", &EngineState::grainLength},
    SlotField<float>{"grainLevel", &EngineState::grainLevel},
    SlotField<float>{"grainLevelStep", &EngineState::grainLevelStep});

class StateDiff {
 public:
  // Empty when every field has the same bits; otherwise the first field
  // that differs with both values.
  static std::string first(const EngineState& expected,
                           const EngineState& actual) {
    StateDiff diff;
    std::apply(
        [&](const auto&... field) {
          (diff.check(field, expected, actual), ...);
        },
        kFields);
    return diff.text_;
  }

 private:
  template <typename T>
  void check(const Field<T>& f, const EngineState& e, const EngineState& a) {
    field(f.name, -1, e.*f.member, a.*f.member);
  }
  template <typename T>
  void check(const SlotField<T>& f, const EngineState& e,
             const EngineState& a) {
    for (int32_t i = 0; i < kSlots; ++i) {
      field(f.name, i, (e.*f.member)[i], (a.*f.member)[i]);
    }
  }

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
