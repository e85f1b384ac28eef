// The eleven parameters: one table of names, labels, fields and mappings,
// and the five operations that serve them to the host.
#include <cmath>
#include <cstring>

#include "myfx.h"

namespace {
constexpr int32_t kMinStepSamples = 42;   // shortest start interval and length
constexpr double kSixteenthSteps = 63.0;  // "bsize" 1..64
constexpr double kTransposeSpan = myfx::kTransposeSpan;  // "tp" -24..+24
constexpr double kTransposeSteps = 2 * kTransposeSpan;
constexpr double kCeilingSpan = 5.0;  // "env" 1..6

// Whole steps of v on a scale of `steps`, truncated toward zero, except that
// the single-precision value nearest a step boundary counts as that boundary:
// what getParameter reports for a setting then sets that same setting again
// (28/48 as a float is 0.58333331, and 0.58333331 x 48 truncates to 27).
double wholeSteps(double v, double steps) {
  const double k = std::trunc(v * steps);
  if (k < steps &&
      static_cast<float>((k + 1.0) / steps) == static_cast<float>(v)) {
    return k + 1.0;
  }
  return k;
}

// Set mappings: normalised value v (0..1) and loop length L to the field.
// L div 16 is taken as an integer before it is used, L / 4 is a real
// division.
double plainFrom(double v, int32_t) { return v; }
double sixteenthsFrom(double v, int32_t) {
  return wholeSteps(v, kSixteenthSteps) + 1.0;
}
double startIntervalFrom(double v, int32_t loop) {
  return wholeSteps(v, loop / 16) + kMinStepSamples;
}
double offsetFrom(double v, int32_t loop) { return wholeSteps(v, loop); }
double lengthFrom(double v, int32_t loop) {
  return wholeSteps(v, loop / 4.0) + kMinStepSamples;
}
double transposeFrom(double v, int32_t) {
  return wholeSteps(v, kTransposeSteps) - kTransposeSpan;
}
double ceilingFrom(double v, int32_t) { return v * kCeilingSpan + 1.0; }

// Get mappings: field value and current loop length back to 0..1 (above 1
// when the loop has shortened since the value was set). A loop too short to
// divide by answers 0.
double plainTo(double field, int32_t) { return field; }
double sixteenthsTo(double field, int32_t) {
  return (field - 1.0) / kSixteenthSteps;
}
double startIntervalTo(double field, int32_t loop) {
  return loop / 16 == 0 ? 0.0 : (field - kMinStepSamples) / (loop / 16);
}
double offsetTo(double field, int32_t loop) {
  return loop == 0 ? 0.0 : field / loop;
}
double lengthTo(double field, int32_t loop) {
  return loop == 0 ? 0.0 : (field - kMinStepSamples) / (loop / 4.0);
}
double transposeTo(double field, int32_t) {
  return (field + kTransposeSpan) / kTransposeSteps;
}
double ceilingTo(double field, int32_t) { return (field - 1.0) / kCeilingSpan; }

// A host may send anything; the fields only ever see 0..1 (NaN as 0).
double clampNormalised(float value) {
  if (!(value > 0.0f)) return 0.0;
  if (value > 1.0f) return 1.0;
  return value;
}

bool isParameter(int32_t index) {
  return static_cast<uint32_t>(index) <=
         static_cast<uint32_t>(Param::kCount - 1);
}
}  // namespace

// One row per parameter, by index. Exactly one of the two field pointers is
// set; it also chooses the display: whole numbers for the integer fields.
// The loop-relative rows name the pending value that carries a setting made
// before the first tempo query over to the loop that query derives.
struct ParameterTable {
  struct Row {
    const char* name;
    const char* label;
    RelaxedAtomic<int32_t> myfx::*intField;
    RelaxedAtomic<float> myfx::*floatField;
    double (*fromNormalised)(double v, int32_t loop);
    double (*toNormalised)(double field, int32_t loop);
    PendingValue myfx::*pending;
    double defaultField;  // the field's value after construction
  };
  static const Row rows[myfx::kNumParams];

  static double fieldValue(const myfx& effect, const Row& row) {
    return row.intField != nullptr ? (effect.*row.intField).load()
                                   : (effect.*row.floatField).load();
  }

  // The row's field as a normalised value against `loop`.
  static float answer(const myfx& effect, const Row& row, int32_t loop) {
    return static_cast<float>(row.toNormalised(fieldValue(effect, row), loop));
  }

  // Converts v (0..1) against `loop` and stores the row's field.
  static void store(myfx& effect, const Row& row, double v, int32_t loop) {
    storeField(effect, row, row.fromNormalised(v, loop));
  }

  static void storeField(myfx& effect, const Row& row, double field) {
    if (row.intField != nullptr) {
      (effect.*row.intField).store(static_cast<int32_t>(field));
    } else {
      (effect.*row.floatField).store(static_cast<float>(field));
    }
  }
};

// The default start interval is a fiftieth of the sample rate at
// construction, which is always the base class's initial rate.
constexpr double kDefaultStartInterval =
    static_cast<int32_t>(AudioEffect::kInitialSampleRate) / 50;

const ParameterTable::Row ParameterTable::rows[myfx::kNumParams] = {
    // name, label, integer or float field, set and get mappings, pending
    // value (loop-relative parameters only), field after construction
    {"bsize", "1/16", &myfx::bufferSixteenths, nullptr, sixteenthsFrom,
     sixteenthsTo, nullptr, 16},
    {"rec thrsh", "", nullptr, &myfx::recordThreshold, plainFrom, plainTo,
     nullptr, 0.0},
    {"st rate", "samples", &myfx::startInterval, nullptr, startIntervalFrom,
     startIntervalTo, &myfx::pendingStartInterval, kDefaultStartInterval},
    {"st jitter", "", nullptr, &myfx::startJitter, plainFrom, plainTo, nullptr,
     0.0},
    {"pos", "samples", &myfx::grainOffset, nullptr, offsetFrom, offsetTo,
     &myfx::pendingOffset, 0},
    {"pos jitter", "", nullptr, &myfx::positionJitter, plainFrom, plainTo,
     nullptr, 0.0},
    {"len", "samples", &myfx::lengthBase, nullptr, lengthFrom, lengthTo,
     &myfx::pendingLength, myfx::kDefaultGrainLength},
    {"len jitter", "", nullptr, &myfx::lengthJitter, plainFrom, plainTo,
     nullptr, 0.0},
    {"tp", "semitones", &myfx::transpose, nullptr, transposeFrom, transposeTo,
     nullptr, 0},
    {"p jitter", "", nullptr, &myfx::pitchJitter, plainFrom, plainTo, nullptr,
     0.0},
    {"env", "", nullptr, &myfx::envelopeCeiling, ceilingFrom, ceilingTo,
     nullptr, 1.0},
};
static_assert(sizeof ParameterTable::rows / sizeof ParameterTable::rows[0] ==
                  Param::kCount,
              "one row per parameter index");

// any thread; writes one 32-bit field, read by the engine where it next uses
// it. The loop-relative mappings use the loop length in force now; before
// the first tempo query their value is kept pending instead, to be converted
// against the loop that query derives (PendingValue.h).
void myfx::setParameter(int32_t index, float value) {
  if (!isParameter(index)) return;
  const ParameterTable::Row& row = ParameterTable::rows[index];
  const double v = clampNormalised(value);
  const auto store = [this, &row, v] {
    ParameterTable::store(*this, row, v, loopLength.load());
  };
  if (row.pending != nullptr) {
    (this->*row.pending)
        .set(
            static_cast<float>(v),
            [this, &row] {
              return ParameterTable::answer(*this, row, placeholderLoop());
            },
            store);
  } else {
    store();
  }
}

// any thread; a pending value is answered as it was set.
float myfx::getParameter(int32_t index) {
  if (!isParameter(index)) return 0.0f;
  const ParameterTable::Row& row = ParameterTable::rows[index];
  const auto fieldAnswer = [this, &row](bool beforeFirstQuery) {
    return ParameterTable::answer(
        *this, row, beforeFirstQuery ? placeholderLoop() : loopLength.load());
  };
  if (row.pending != nullptr) return (this->*row.pending).answer(fieldAnswer);
  return fieldAnswer(false);
}

// audio thread, at the first tempo query, right after the loop length is
// derived: every pending value is converted against the new loop with its
// own mapping and then dropped.
void myfx::adoptPendingValues() {
  const int32_t loop = loopLength.load();
  for (const ParameterTable::Row& row : ParameterTable::rows) {
    if (row.pending == nullptr) continue;
    (this->*row.pending).adopt([this, &row, loop](float v) {
      ParameterTable::store(*this, row, v, loop);
    });
  }
}

// host's main thread, audio stopped, when the sample rate changes: "st
// rate", "pos" and "len" keep their length in time. A value still pending
// stays as it is, to be converted against the loop of the first query;
// otherwise the part of the field above the mapping's minimum (its value at
// 0) is scaled to the new rate, to the nearest whole sample.
void myfx::rescaleLoopRelativeFields(int32_t oldRate, int32_t newRate) {
  const int32_t loop = loopLength.load();
  for (const ParameterTable::Row& row : ParameterTable::rows) {
    float pending;
    if (row.pending == nullptr || (this->*row.pending).read(pending)) continue;
    const double minimum = row.fromNormalised(0.0, loop);
    const double above = ParameterTable::fieldValue(*this, row) - minimum;
    ParameterTable::storeField(*this, row,
                               minimum + rescaled(above, oldRate, newRate));
  }
}

// host's main thread during open/close: every parameter's field as the
// table's defaults give it.
void myfx::storeParameterDefaults() {
  for (const ParameterTable::Row& row : ParameterTable::rows) {
    ParameterTable::storeField(*this, row, row.defaultField);
  }
}

// any thread; a null buffer or an unknown index leaves everything as it was
void myfx::getParameterName(int32_t index, char* text) {
  if (isParameter(index) && text != nullptr) {
    std::strcpy(text, ParameterTable::rows[index].name);
  }
}

void myfx::getParameterLabel(int32_t index, char* label) {
  if (isParameter(index) && label != nullptr) {
    std::strcpy(label, ParameterTable::rows[index].label);
  }
}

// Shows the effect's own value and unit, not the normalised value. A value
// pending before the first tempo query shows as the count it gives against
// the placeholder loop, as a set at that moment would have stored it.
void myfx::getParameterDisplay(int32_t index, char* text) {
  if (!isParameter(index) || text == nullptr) return;
  const ParameterTable::Row& row = ParameterTable::rows[index];
  float pending;
  if (row.pending != nullptr && (this->*row.pending).read(pending)) {
    long2string(
        static_cast<int32_t>(row.fromNormalised(pending, placeholderLoop())),
        text);
  } else if (row.intField != nullptr) {
    long2string((this->*row.intField).load(), text);
  } else {
    float2string((this->*row.floatField).load(), text);
  }
}
