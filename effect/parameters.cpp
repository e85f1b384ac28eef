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

// A host may send anything; the fields only ever see 0..1 (NaN as 0). A -0
// lies in 0..1 and is kept as it came.
double clampNormalised(float value) {
  if (!(value >= 0.0f)) return 0.0;
  if (value > 1.0f) return 1.0;
  return value;
}

bool isParameter(int32_t index) {
  return static_cast<uint32_t>(index) <=
         static_cast<uint32_t>(Param::kCount - 1);
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace

// One row per parameter, by index. Exactly one of the three field pointers
// is set; it also chooses the display: whole numbers for the integer fields.
// The loop-relative settings ("st rate", "pos", "len") are counts of samples
// of the loop, held in a LoopSetting.
struct ParameterTable {
  struct Row {
    const char* name;
    const char* label;
    RelaxedAtomic<int32_t> myfx::*intField;
    RelaxedAtomic<float> myfx::*floatField;
    LoopSetting myfx::*loopField;
    double (*fromNormalised)(double v, int32_t loop);
    double (*toNormalised)(double field, int32_t loop);
    double defaultField;  // the field's value after construction
  };
  static const Row rows[myfx::kNumParams];

  // A field that is not a loop setting.
  static double fieldValue(const myfx& effect, const Row& row) {
    return row.intField != nullptr ? (effect.*row.intField).load()
                                   : (effect.*row.floatField).load();
  }

  static float answer(const Row& row, double field, int32_t loop) {
    return static_cast<float>(row.toNormalised(field, loop));
  }

  static int32_t count(const Row& row, double v, int32_t loop) {
    return static_cast<int32_t>(row.fromNormalised(v, loop));
  }

  // Stores a field that is not a loop setting.
  static void storeField(myfx& effect, const Row& row, double field) {
    if (row.intField != nullptr) {
      (effect.*row.intField).store(static_cast<int32_t>(field));
    } else {
      (effect.*row.floatField).store(static_cast<float>(field));
    }
  }

  // A loop setting's word, and the loop its count is answered against: the
  // placeholder while the word is open, else the loop length in force; both
  // read between two loads of the word that found it unchanged.
  struct Snapshot {
    LoopSetting::Word word;
    int32_t loop;
  };
  static Snapshot snapshot(const myfx& effect, const Row& row) {
    const LoopSetting& setting = effect.*row.loopField;
    for (;;) {
      const LoopSetting::Word word = setting.read();
      const int32_t loop =
          word.open() ? effect.placeholderLoop() : effect.loopLength.load();
      if (setting.unchanged(word)) return {word, loop};
    }
  }
};

// The default start interval is a fiftieth of the sample rate at
// construction, which is always the base class's initial rate.
constexpr double kDefaultStartInterval =
    static_cast<int32_t>(AudioEffect::kInitialSampleRate) / 50;

const ParameterTable::Row ParameterTable::rows[myfx::kNumParams] = {
    // name, label, integer, float or loop field, set and get mappings, field
    // after construction
    {"bsize", "1/16", &myfx::bufferSixteenths, nullptr, nullptr, sixteenthsFrom,
     sixteenthsTo, 16},
    {"rec thrsh", "", nullptr, &myfx::recordThreshold, nullptr, plainFrom,
     plainTo, 0.0},
    {"st rate", "samples", nullptr, nullptr, &myfx::startInterval,
     startIntervalFrom, startIntervalTo, kDefaultStartInterval},
    {"st jitter", "", nullptr, &myfx::startJitter, nullptr, plainFrom, plainTo,
     0.0},
    {"pos", "samples", nullptr, nullptr, &myfx::grainOffset, offsetFrom,
     offsetTo, 0},
    {"pos jitter", "", nullptr, &myfx::positionJitter, nullptr, plainFrom,
     plainTo, 0.0},
    {"len", "samples", nullptr, nullptr, &myfx::lengthBase, lengthFrom,
     lengthTo, myfx::kDefaultGrainLength},
    {"len jitter", "", nullptr, &myfx::lengthJitter, nullptr, plainFrom,
     plainTo, 0.0},
    {"tp", "semitones", &myfx::transpose, nullptr, nullptr, transposeFrom,
     transposeTo, 0},
    {"p jitter", "", nullptr, &myfx::pitchJitter, nullptr, plainFrom, plainTo,
     0.0},
    {"env", "", nullptr, &myfx::envelopeCeiling, nullptr, ceilingFrom,
     ceilingTo, 1.0},
};
static_assert(sizeof ParameterTable::rows / sizeof ParameterTable::rows[0] ==
                  Param::kCount,
              "one row per parameter index");

// any thread; writes one field, read by the engine where it next uses it.
// A loop setting converts v against the loop length in force; before the
// first tempo query it keeps v pending instead, to be converted against the
// loop that query derives, unless v is what the untouched setting answers
// (a host writing back what it read changes nothing).
void myfx::setParameter(int32_t index, float value) {
  if (!isParameter(index)) return;
  const ParameterTable::Row& row = ParameterTable::rows[index];
  const double v = clampNormalised(value);
  if (row.loopField == nullptr) {
    ParameterTable::storeField(*this, row, row.fromNormalised(v, 0));
    return;
  }
  LoopSetting& setting = this->*row.loopField;
  for (;;) {
    const LoopSetting::Word word = setting.read();
    LoopSetting::Word next;
    if (!word.open()) {
      next = word.withCount(ParameterTable::count(row, v, loopLength.load()));
    } else if (!word.pending() &&
               sameBits(static_cast<float>(v),
                        ParameterTable::answer(row, word.count(),
                                               placeholderLoop()))) {
      next = word;
    } else {
      next = word.withPending(static_cast<float>(v));
    }
    if (setting.replace(word, next)) return;
  }
}

// any thread; a pending value is answered as it was set.
float myfx::getParameter(int32_t index) {
  if (!isParameter(index)) return 0.0f;
  const ParameterTable::Row& row = ParameterTable::rows[index];
  if (row.loopField == nullptr) {
    // These mappings do not depend on the loop.
    return ParameterTable::answer(row, ParameterTable::fieldValue(*this, row),
                                  0);
  }
  const ParameterTable::Snapshot now = ParameterTable::snapshot(*this, row);
  if (now.word.pending()) return now.word.value();
  return ParameterTable::answer(row, now.word.count(), now.loop);
}

// audio thread, at the first tempo query: `loop` becomes the loop length,
// and the settings made before it, meant for this loop, are converted
// against it; every loop setting's word is closed.
void myfx::adoptFirstLoop(int32_t loop) {
  tempoQueried = true;
  rewriteLoopSettings(
      [&] { loopLength.store(loop); },
      [&](int32_t index, LoopSetting::Word was) {
        const ParameterTable::Row& row = ParameterTable::rows[index];
        if (was.pending()) {
          was = was.withCount(ParameterTable::count(row, was.value(), loop));
        }
        return was.closed();
      });
}

// audio side, when the sample rate changes: "st rate", "pos" and "len" keep
// their length in time. A value still pending stays as it is, to be
// converted against the loop of the first query; otherwise the part of the
// count above the mapping's minimum (its value at 0) is scaled to the new
// rate, to the nearest whole sample.
LoopSetting::Word myfx::rescaledSetting(int32_t index, LoopSetting::Word was,
                                        int32_t oldRate,
                                        int32_t newRate) const {
  if (was.pending()) return was;
  const ParameterTable::Row& row = ParameterTable::rows[index];
  const double minimum = row.fromNormalised(0.0, loopLength.load());
  return was.withCount(static_cast<int32_t>(
      minimum + rescaled(was.count() - minimum, oldRate, newRate)));
}

// host's main thread during open/close: every parameter's field as the
// table's defaults give it.
void myfx::storeParameterDefaults() {
  for (const ParameterTable::Row& row : ParameterTable::rows) {
    if (row.loopField != nullptr) {
      (this->*row.loopField).reset(static_cast<int32_t>(row.defaultField));
    } else {
      ParameterTable::storeField(*this, row, row.defaultField);
    }
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
  if (row.loopField != nullptr) {
    const ParameterTable::Snapshot now = ParameterTable::snapshot(*this, row);
    long2string(now.word.pending()
                    ? ParameterTable::count(row, now.word.value(), now.loop)
                    : now.word.count(),
                text);
  } else if (row.intField != nullptr) {
    long2string((this->*row.intField).load(), text);
  } else {
    float2string((this->*row.floatField).load(), text);
  }
}
