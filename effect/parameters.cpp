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

// One row per parameter, by index. `store` says where its field lives; the
// integer fields show as whole numbers. The loop-relative settings ("st
// rate", "pos", "len") are counts of samples of the loop, each in a slot of
// the loop settings; "bsize" lives in their frame (LoopSettings.h).
struct ParameterTable {
  enum class Store { kInteger, kFloat, kLoopCount, kSixteenths };
  struct Row {
    const char* name;
    const char* label;
    Store store;
    RelaxedAtomic<int32_t> myfx::*intField;  // kInteger
    RelaxedAtomic<float> myfx::*floatField;  // kFloat
    int loopSlot;                            // kLoopCount
    double (*fromNormalised)(double v, int32_t loop);
    double (*toNormalised)(double field, int32_t loop);
    double defaultField;  // the field's value after construction
  };
  static const Row rows[myfx::kNumParams];
  // The parameter of each loop settings slot.
  static constexpr int32_t kLoopParams[loop::Settings::kCount] = {
      Param::kStartInterval, Param::kGrainOffset, Param::kLengthBase};

  // A field that is not a loop count.
  static double fieldValue(const myfx& effect, const Row& row) {
    switch (row.store) {
      case Store::kInteger:
        return (effect.*row.intField).load();
      case Store::kFloat:
        return (effect.*row.floatField).load();
      default:
        return effect.loopSettings.frame().sixteenths();
    }
  }
  // Stores a field that is not a loop count.
  static void storeField(myfx& effect, const Row& row, double field) {
    switch (row.store) {
      case Store::kInteger:
        (effect.*row.intField).store(static_cast<int32_t>(field));
        break;
      case Store::kFloat:
        (effect.*row.floatField).store(static_cast<float>(field));
        break;
      default:
        effect.loopSettings.setSixteenths(
            static_cast<int32_t>(field),
            [&effect](loop::Frame marked) { effect.completeAdoption(marked); });
    }
  }

  static int32_t count(const Row& row, double v, int32_t loop) {
    return static_cast<int32_t>(row.fromNormalised(v, loop));
  }
  // The loop a count is answered against: the placeholder until the first
  // tempo query, then the loop length in force.
  static int32_t loopOf(loop::Frame frame) {
    return frame.open() ? myfx::placeholderLoop(frame) : frame.loop();
  }
  // What getParameter answers for a loop setting; a pending value as set.
  static float answer(const Row& row, const loop::Settings::Snapshot& now) {
    if (now.word.isPending()) return now.word.value();
    return static_cast<float>(
        row.toNormalised(now.word.count(), loopOf(now.frame)));
  }
};

// The default start interval is a fiftieth of the sample rate at
// construction, which is always the base class's initial rate.
constexpr double kDefaultStartInterval =
    static_cast<int32_t>(AudioEffect::kInitialSampleRate) / 50;

using Store = ParameterTable::Store;
const ParameterTable::Row ParameterTable::rows[myfx::kNumParams] = {
    // name, label, where the field lives (integer, float, loop slot), set
    // and get mappings, field after construction
    {"bsize", "1/16", Store::kSixteenths, nullptr, nullptr, 0, sixteenthsFrom,
     sixteenthsTo, 16},
    {"rec thrsh", "", Store::kFloat, nullptr, &myfx::recordThreshold, 0,
     plainFrom, plainTo, 0.0},
    {"st rate", "samples", Store::kLoopCount, nullptr, nullptr,
     myfx::kStartIntervalSlot, startIntervalFrom, startIntervalTo,
     kDefaultStartInterval},
    {"st jitter", "", Store::kFloat, nullptr, &myfx::startJitter, 0, plainFrom,
     plainTo, 0.0},
    {"pos", "samples", Store::kLoopCount, nullptr, nullptr,
     myfx::kGrainOffsetSlot, offsetFrom, offsetTo, 0},
    {"pos jitter", "", Store::kFloat, nullptr, &myfx::positionJitter, 0,
     plainFrom, plainTo, 0.0},
    {"len", "samples", Store::kLoopCount, nullptr, nullptr,
     myfx::kLengthBaseSlot, lengthFrom, lengthTo, myfx::kDefaultGrainLength},
    {"len jitter", "", Store::kFloat, nullptr, &myfx::lengthJitter, 0,
     plainFrom, plainTo, 0.0},
    {"tp", "semitones", Store::kInteger, &myfx::transpose, nullptr, 0,
     transposeFrom, transposeTo, 0},
    {"p jitter", "", Store::kFloat, nullptr, &myfx::pitchJitter, 0, plainFrom,
     plainTo, 0.0},
    {"env", "", Store::kFloat, nullptr, &myfx::envelopeCeiling, 0, ceilingFrom,
     ceilingTo, 1.0},
};
static_assert(sizeof ParameterTable::rows / sizeof ParameterTable::rows[0] ==
                  Param::kCount,
              "one row per parameter index");

// any thread; writes one field, read by the engine where it next uses it.
// A value with the bits of what getParameter answers now, compared before
// any clamping, changes nothing (a host writing back what it read). Else a
// loop setting converts v against the loop length in force; before the
// first tempo query it keeps v pending instead, to be converted against the
// loop that query derives.
void myfx::setParameter(int32_t index, float value) {
  if (!isParameter(index)) return;
  const ParameterTable::Row& row = ParameterTable::rows[index];
  if (row.store != Store::kLoopCount) {
    ParameterTable::storeField(*this, row,
                               row.fromNormalised(clampNormalised(value), 0));
    return;
  }
  for (;;) {
    const loop::Settings::Snapshot now = snapshot(row.loopSlot);
    if (sameBits(value, ParameterTable::answer(row, now))) return;
    const double v = clampNormalised(value);
    const uint32_t serial = now.frame.serial();
    const loop::Word next =
        now.frame.open()
            ? loop::Word::pending(static_cast<float>(v), serial)
            : loop::Word::count(ParameterTable::count(row, v, now.frame.loop()),
                                serial);
    if (loopSettings.replace(row.loopSlot, now, next)) return;
  }
}

// any thread; a pending value is answered as it was set.
float myfx::getParameter(int32_t index) {
  if (!isParameter(index)) return 0.0f;
  const ParameterTable::Row& row = ParameterTable::rows[index];
  if (row.store != Store::kLoopCount) {
    // These mappings do not depend on the loop.
    return static_cast<float>(
        row.toNormalised(ParameterTable::fieldValue(*this, row), 0));
  }
  return ParameterTable::answer(row, snapshot(row.loopSlot));
}

// audio thread, at the first tempo query: the settings made before it, meant
// for the loop it derives, are converted against that loop.
loop::Frame myfx::adoptFirstLoop(double tempo) {
  tempoQueried = true;
  loopSettings.adoption.kind.store(loop::Adoption::kFirstQuery,
                                   std::memory_order_relaxed);
  loopSettings.adoption.setTempo(tempo);
  return completeAdoption(loopSettings.mark());
}

loop::Frame myfx::completeAdoption(loop::Frame marked) {
  const loop::Frame next = adoptedFrame(marked);
  for (int slot = 0; slot < loop::Settings::kCount; ++slot) {
    loopSettings.convert(slot, marked, [&](loop::Word was) {
      return convertedWord(slot, was, marked, next);
    });
  }
  loopSettings.finish(marked, next);
  return next;
}

// The frame an adoption leaves: after the first query, closed, with the loop
// it derives from the "bsize" and rate it marked; after a new rate, that
// rate and the loop scaled to it.
loop::Frame myfx::adoptedFrame(loop::Frame marked) const {
  const loop::Adoption& adoption = loopSettings.adoption;
  if (adoption.kind.load(std::memory_order_relaxed) ==
      loop::Adoption::kFirstQuery) {
    const int32_t rate = marked.rate();
    return marked.next().closed().withLoop(loopFor(
        adoption.tempo(), marked.sixteenths(), rate, kCaptureSeconds * rate));
  }
  const int32_t rate = adoption.rate.load(std::memory_order_relaxed);
  return marked.next().withRate(rate).withLoop(
      static_cast<int32_t>(rescaled(marked.loop(), marked.rate(), rate)));
}

// A word as an adoption leaves it. The first query converts a pending value
// against its loop. A new rate keeps "st rate", "pos" and "len" at their
// length in time: a value still pending stays as it is, to be converted
// against the loop of the first query; otherwise the part of the count above
// the mapping's minimum (its value at 0) is scaled to the new rate, to the
// nearest whole sample.
loop::Word myfx::convertedWord(int slot, loop::Word was, loop::Frame marked,
                               loop::Frame next) const {
  const ParameterTable::Row& row =
      ParameterTable::rows[ParameterTable::kLoopParams[slot]];
  const uint32_t serial = next.serial();
  if (loopSettings.adoption.kind.load(std::memory_order_relaxed) ==
      loop::Adoption::kFirstQuery) {
    return loop::Word::count(
        was.isPending() ? ParameterTable::count(row, was.value(), next.loop())
                        : was.count(),
        serial);
  }
  if (was.isPending()) return loop::Word::pending(was.value(), serial);
  const double minimum = row.fromNormalised(0.0, marked.loop());
  return loop::Word::count(
      static_cast<int32_t>(minimum + rescaled(was.count() - minimum,
                                              marked.rate(), next.rate())),
      serial);
}

// host's main thread during open/close: every parameter's field as the
// table's defaults give it, with the loop length and rate in use.
void myfx::storeParameterDefaults() {
  int32_t counts[loop::Settings::kCount];
  for (int slot = 0; slot < loop::Settings::kCount; ++slot) {
    counts[slot] = static_cast<int32_t>(
        ParameterTable::rows[ParameterTable::kLoopParams[slot]].defaultField);
  }
  const int32_t sixteenths = static_cast<int32_t>(
      ParameterTable::rows[Param::kBufferSixteenths].defaultField);
  loopSettings.reset(loop::Frame::make(loopLength, rateInUse, sixteenths, true),
                     counts);
  for (const ParameterTable::Row& row : ParameterTable::rows) {
    if (row.store == Store::kInteger || row.store == Store::kFloat) {
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
  if (row.store == Store::kLoopCount) {
    const loop::Settings::Snapshot now = snapshot(row.loopSlot);
    long2string(now.word.isPending()
                    ? ParameterTable::count(row, now.word.value(),
                                            ParameterTable::loopOf(now.frame))
                    : now.word.count(),
                text);
  } else if (row.store == Store::kFloat) {
    float2string((this->*row.floatField).load(), text);
  } else {
    long2string(static_cast<int32_t>(ParameterTable::fieldValue(*this, row)),
                text);
  }
}
