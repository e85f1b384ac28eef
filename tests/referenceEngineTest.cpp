// Checks the reference model itself against hand-worked values, so that a
// disagreement with the effect points at the effect or at the model's reading.
#include <gtest/gtest.h>

#include <memory>

#include "parameterIndex.h"
#include "reference/ReferenceEngine.h"
#include "reference/RoundingPoints.h"
#include "reference/StateDiff.h"
#include "reference/WorkedExamples.h"

namespace reference {
namespace {

struct ModelSubject {
  ReferenceEngine engine;
  void replacing(const float* l, const float* r, float* ol, float* orr,
                 int32_t frames, HostTempo tempo) {
    engine.run(false, l, r, ol, orr, frames, tempo);
  }
  void accumulating(const float* l, const float* r, float* ol, float* orr,
                    int32_t frames, HostTempo tempo) {
    engine.run(true, l, r, ol, orr, frames, tempo);
  }
  void seed(uint32_t value) { engine.seed(value); }
  void setParameter(int32_t index, float v) { engine.setParameter(index, v); }
  float getParameter(int32_t index) { return engine.getParameter(index); }
  const EngineState& state() const { return engine.s; }
};

TEST(ReferenceModel, WorkedExamples) { checkWorkedExamples<ModelSubject>(); }

TEST(ReferenceModel, RoundingPoints) {
  checkRoundingPoints([] { return std::make_unique<ModelSubject>(); });
  ModelSubject model;
  checkExactChangeTest(model);
}

TEST(ReferenceModel, GeneratorIsTheLinearCongruence) {
  ReferenceRandom random;
  random.seed(1);
  EXPECT_EQ(random.draw(), 41);  // (214013 + 2531011) >> 16
  EXPECT_EQ(random.draw(), 18467);
  random.seed(0);
  EXPECT_EQ(random.draw(), 38);  // 2531011 >> 16
  random.seed(0xFFFFFFFFu);      // the sum wraps modulo 2^32
  EXPECT_EQ(random.draw(), ((0xFFFFFFFFu * 214013u + 2531011u) >> 16) & 0x7FFF);
}

// The values the host reads right after construction and after the first
// tempo query at 120 beats per minute: both against the loop of 88200.
TEST(ReferenceModel, ParameterValuesAfterConstruction) {
  ModelSubject model;
  const float before[11] = {15 / 63.0f,      0, 840 / 5512.0f, 0, 0, 0,
                            3958 / 22050.0f, 0, 0.5f,          0, 0};
  for (int32_t i = 0; i < Param::kCount; ++i)
    EXPECT_EQ(model.getParameter(i), before[i]);
  runReplacing(model, Signal(1, 0.0f, 0.0f), 120.0);
  EXPECT_EQ(model.getParameter(Param::kStartInterval), 840 / 5512.0f);
  EXPECT_EQ(model.getParameter(Param::kLengthBase), 3958 / 22050.0f);
  EXPECT_EQ(model.getParameter(-1), 0.0f);
  EXPECT_EQ(model.getParameter(Param::kCount), 0.0f);
}

TEST(ReferenceModel, ParameterMappings) {
  ModelSubject model;
  const EngineState& s = model.state();
  // Before any processing the value waits for the loop of the first query.
  model.setParameter(Param::kStartInterval, 1.0f);
  EXPECT_EQ(model.getParameter(Param::kStartInterval), 1.0f);
  runReplacing(model, Signal(1, 0.0f, 0.0f), 120.0);
  EXPECT_EQ(s.startInterval, 5554);

  const std::pair<float, int32_t> bsize[] = {{0.0f, 1}, {0.5f, 32}, {1.0f, 64}};
  for (auto [v, stored] : bsize) {
    model.setParameter(Param::kBufferSixteenths, v);
    EXPECT_EQ(s.bufferSixteenths, stored);
  }
  model.setParameter(Param::kBufferSixteenths, 0.5f);
  EXPECT_EQ(model.getParameter(Param::kBufferSixteenths), 31 / 63.0f);

  const std::pair<float, int32_t> tp[] = {{0.0f, -24}, {0.5f, 0}, {1.0f, 24}};
  for (auto [v, stored] : tp) {
    model.setParameter(Param::kTranspose, v);
    EXPECT_EQ(s.transpose, stored);
  }
  // The product is exact and truncated: one float below the reported value
  // of +7 semitones, 31/48, stores +6 although a product in single
  // precision would round up to 31. The reported value itself, which also
  // lies below 31/48, restores +7.
  model.setParameter(Param::kTranspose, std::nextafter(31 / 48.0f, 0.0f));
  EXPECT_EQ(s.transpose, 6);
  model.setParameter(Param::kTranspose, 31 / 48.0f);
  EXPECT_EQ(s.transpose, 7);
  model.setParameter(Param::kEnvelopeCeiling, 1.0f);
  EXPECT_EQ(s.envelopeCeiling, 6.0f);
  EXPECT_EQ(model.getParameter(Param::kEnvelopeCeiling), 1.0f);
  model.setParameter(Param::kEnvelopeCeiling, 0.0f);
  EXPECT_EQ(s.envelopeCeiling, 1.0f);

  model.setParameter(Param::kStartInterval, 1.0f);
  EXPECT_EQ(s.startInterval, 5554);
  model.setParameter(Param::kLengthBase, 1.0f);
  EXPECT_EQ(s.lengthBase, 22092);
  model.setParameter(Param::kGrainOffset, 0.5f);
  EXPECT_EQ(s.grainOffset, 44100);
  model.setParameter(Param::kGrainOffset, 1.0f);
  EXPECT_EQ(s.grainOffset, 88200);

  // Halving the loop doubles what "pos" reports; the stored count stays.
  model.setParameter(Param::kBufferSixteenths, 7 / 63.0f);
  EXPECT_EQ(s.bufferSixteenths, 8);
  EXPECT_EQ(model.getParameter(Param::kGrainOffset),
            1.0f);  // not re-derived yet
  runReplacing(model, Signal(1, 0.0f, 0.0f), 120.0);
  EXPECT_EQ(s.loopLength, 44100);
  EXPECT_EQ(model.getParameter(Param::kGrainOffset), 2.0f);
  EXPECT_EQ(s.grainOffset, 88200);
}

// A host that saves what getParameter reports and restores it gets every
// step of every quantised parameter back.
TEST(ReferenceModel, ReportedValuesRestoreTheirStep) {
  ModelSubject model;
  const EngineState& s = model.state();
  runReplacing(model, Signal(1, 0.0f, 0.0f), 120.0);
  struct Quantised {
    int32_t index;
    const int32_t* field;
    int32_t steps;
  };
  const Quantised quantised[] = {
      {Param::kBufferSixteenths, &s.bufferSixteenths, 63},
      {Param::kStartInterval, &s.startInterval, 5512},
      {Param::kGrainOffset, &s.grainOffset, 88200},
      {Param::kLengthBase, &s.lengthBase, 22050},
      {Param::kTranspose, &s.transpose, 48}};
  for (const Quantised& q : quantised) {
    for (int32_t k = 0; k <= q.steps; ++k) {
      model.setParameter(q.index, (k + 0.5f) / q.steps);
      const int32_t stored = *q.field;
      model.setParameter(q.index, model.getParameter(q.index));
      ASSERT_EQ(*q.field, stored) << "parameter " << q.index << " step " << k;
    }
  }
}

TEST(ReferenceModel, HostValuesAreClamped) {
  ModelSubject model;
  const EngineState& s = model.state();
  model.setParameter(Param::kBufferSixteenths, 7.0f);
  EXPECT_EQ(s.bufferSixteenths, 64);
  model.setParameter(Param::kBufferSixteenths, std::nanf(""));
  EXPECT_EQ(s.bufferSixteenths, 1);
  model.setParameter(Param::kTranspose, -INFINITY);
  EXPECT_EQ(s.transpose, -24);
  model.setParameter(Param::kEnvelopeCeiling, INFINITY);
  EXPECT_EQ(s.envelopeCeiling, 6.0f);
  model.setParameter(Param::kRecordThreshold, -0.5f);
  EXPECT_EQ(s.recordThreshold, 0.0f);
  const EngineState before = s;
  model.setParameter(Param::kCount, 0.5f);
  model.setParameter(-1, 0.5f);
  EXPECT_EQ(StateDiff::first(before, s), "");
}

// Bad tempi count as 120; a tempo so fast that the loop is shorter than 16
// samples makes the loop-relative parameters report 0 instead of dividing.
TEST(ReferenceModel, TempoFallbackAndTinyLoops) {
  for (HostTempo bad : {HostTempo(), HostTempo(0.0), HostTempo(-90.0),
                        HostTempo(NAN), HostTempo(INFINITY)}) {
    ModelSubject model;
    runReplacing(model, Signal(1, 0.0f, 0.0f), bad);
    EXPECT_EQ(model.state().tempo, 120.0);
    EXPECT_EQ(model.state().loopLength, 88200);
  }
  ModelSubject model;
  runReplacing(model, Signal(1, 0.0f, 0.0f), 120.0);
  model.setParameter(Param::kGrainOffset, 0.25f);  // 22050 of the loop of 88200
  runReplacing(model, Signal(1, 0.0f, 0.0f), 1e300);
  EXPECT_EQ(model.state().loopLength, 0);
  EXPECT_EQ(model.state().recordLength, 0);
  EXPECT_EQ(model.getParameter(Param::kStartInterval), 0.0f);
  EXPECT_EQ(model.getParameter(Param::kGrainOffset), 0.0f);
  EXPECT_EQ(model.getParameter(Param::kLengthBase), 0.0f);
  runReplacing(model, Signal(1, 0.0f, 0.0f), 1e6);  // 10.584 samples
  EXPECT_EQ(model.state().loopLength, 10);
  EXPECT_EQ(model.getParameter(Param::kStartInterval), 0.0f);
  EXPECT_EQ(model.getParameter(Param::kGrainOffset), 2205.0f);
}

// Non-finite input is silence: it neither triggers nor lands in the buffer.
TEST(ReferenceModel, NonFiniteInputIsSilence) {
  ModelSubject model;
  Signal in(3, NAN, INFINITY);
  in.left[1] = 0.25f;
  in.right[1] = 0.25f;
  runReplacing(model, in, 120.0);
  EXPECT_EQ(model.engine.tempoQueries, 3);
  EXPECT_EQ(model.engine.bufferLeft[0], 0.25f);  // only index 1 triggered
  EXPECT_EQ(model.engine.bufferLeft[1], 0.0f);
  EXPECT_EQ(model.state().recordPosition, 2);
  EXPECT_EQ(model.state().lastInput, 0.0f);
}

}  // namespace
}  // namespace reference
