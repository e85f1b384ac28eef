// The eleven parameters through the record: names, labels, value texts,
// the set and get mappings against the loop length, and hostile values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "TestHost.h"
#include "opcodes.h"
#include "parameterIndex.h"

namespace {

class Parameters : public ::testing::Test {
 protected:
  TestHost host;
  EffectHandle e{host.load()};

  std::string text(int32_t opcode, int32_t index) {
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    buffer[31] = '\0';
    TestHost::dispatch(e.effect, opcode, index, 0, buffer);
    return buffer;
  }
  std::string display(int32_t index) {
    return text(EffectOpcode::kGetParameterDisplay, index);
  }
  void set(int32_t index, float v) { e->setParameter(e.effect, index, v); }
  float get(int32_t index) { return e->getParameter(e.effect, index); }

  // Processes silence: the engine asks for the tempo on every idle sample
  // and re-derives the loop length.
  void processSilence(int32_t frames = 1) {
    static float in[2][64], out[2][64];
    float* inputs[] = {in[0], in[1]};
    float* outputs[] = {out[0], out[1]};
    e->processReplacing(e.effect, inputs, outputs, frames);
  }
};

TEST_F(Parameters, NamesAndLabels) {
  const char* names[] = {"bsize", "rec thrsh",  "st rate", "st jitter",
                         "pos",   "pos jitter", "len",     "len jitter",
                         "tp",    "p jitter",   "env"};
  const char* labels[] = {"1/16",    "", "samples",   "", "samples", "",
                          "samples", "", "semitones", "", ""};
  for (int32_t i = 0; i < Param::kCount; ++i) {
    EXPECT_EQ(text(EffectOpcode::kGetParameterName, i), names[i]);
    EXPECT_EQ(text(EffectOpcode::kGetParameterLabel, i), labels[i]);
  }
}

TEST_F(Parameters, ValuesAfterConstructionAndAfterFirstTempoQuery) {
  // Before any audio the loop-relative values are answered against the
  // loop of 120 bpm, so the first query at that tempo changes no answer.
  const float before[] = {float(15.0 / 63),
                          0,
                          float(840.0 / 5512),
                          0,
                          0,
                          0,
                          float(3958.0 / 22050),
                          0,
                          0.5f,
                          0,
                          0};
  for (int32_t i = 0; i < Param::kCount; ++i) EXPECT_EQ(get(i), before[i]) << i;
  processSilence();
  for (int32_t i = 0; i < Param::kCount; ++i) EXPECT_EQ(get(i), before[i]) << i;
}

TEST_F(Parameters, DisplayShowsTheEffectsOwnValues) {
  EXPECT_EQ(display(Param::kBufferSixteenths), "     16");
  EXPECT_EQ(display(Param::kStartInterval), "    882");
  EXPECT_EQ(display(Param::kLengthBase), "   4000");
  EXPECT_EQ(display(Param::kTranspose), "      0");
  EXPECT_EQ(display(Param::kEnvelopeCeiling), "1.000000");
  EXPECT_EQ(display(Param::kRecordThreshold), "0.000000");
  set(Param::kTranspose, 0.0f);
  EXPECT_EQ(display(Param::kTranspose), "    -24");
  set(Param::kRecordThreshold, 0.7f);
  EXPECT_EQ(display(Param::kRecordThreshold), "0.699999");
}

TEST_F(Parameters, QuantisedMappings) {
  // Before any processing the loop is that of 120 bpm: 88200 samples.
  set(Param::kStartInterval, 1.0f);
  EXPECT_EQ(display(Param::kStartInterval), "   5554");
  processSilence();  // 16 sixteenths at 120 bpm: 88200 samples
  set(Param::kStartInterval, 1.0f);
  EXPECT_EQ(display(Param::kStartInterval), "   5554");
  set(Param::kLengthBase, 1.0f);
  EXPECT_EQ(display(Param::kLengthBase), "  22092");
  set(Param::kGrainOffset, 0.5f);
  EXPECT_EQ(display(Param::kGrainOffset), "  44100");

  set(Param::kBufferSixteenths, 0.0f);
  EXPECT_EQ(display(Param::kBufferSixteenths), "      1");
  set(Param::kBufferSixteenths, 0.5f);
  EXPECT_EQ(display(Param::kBufferSixteenths), "     32");
  EXPECT_EQ(get(Param::kBufferSixteenths), static_cast<float>(31.0 / 63));
  set(Param::kBufferSixteenths, 1.0f);
  EXPECT_EQ(display(Param::kBufferSixteenths), "     64");

  set(Param::kTranspose, 0.5f);
  EXPECT_EQ(display(Param::kTranspose), "      0");
  set(Param::kTranspose, 1.0f);
  EXPECT_EQ(display(Param::kTranspose), "     24");
  EXPECT_EQ(get(Param::kTranspose), 1.0f);

  set(Param::kEnvelopeCeiling, 1.0f);
  EXPECT_EQ(display(Param::kEnvelopeCeiling), "6.000000");
  EXPECT_EQ(get(Param::kEnvelopeCeiling), 1.0f);
  set(Param::kEnvelopeCeiling, 0.0f);
  EXPECT_EQ(display(Param::kEnvelopeCeiling), "1.000000");
}

TEST_F(Parameters, PlainValuesRoundTrip) {
  for (int32_t index :
       {Param::kRecordThreshold, Param::kStartJitter, Param::kPositionJitter,
        Param::kLengthJitter, Param::kPitchJitter}) {
    for (float v : {0.0f, 0.1f, 0.333f, 0.9999f, 1.0f}) {
      set(index, v);
      EXPECT_EQ(get(index), v);
    }
  }
  set(Param::kEnvelopeCeiling, 0.3f);
  EXPECT_FLOAT_EQ(get(Param::kEnvelopeCeiling), 0.3f);
}

// A host saves what getParameter reports and restores it with setParameter:
// every whole-step setting must come back as it was, although the reported
// float may lie a hair below the step boundary.
TEST_F(Parameters, ReportedValuesRestoreTheSameSetting) {
  processSilence();  // L = 88200
  // Step k of a scale of n steps is reported as the float nearest k / n.
  auto restores = [&](int32_t index, int32_t steps, int32_t offset) {
    for (int32_t k = 0; k <= steps; ++k) {
      set(index, static_cast<float>(static_cast<double>(k) / steps));
      ASSERT_EQ(std::stoi(display(index)), k + offset) << index << " " << k;
      set(index, get(index));
      ASSERT_EQ(std::stoi(display(index)), k + offset) << index << " " << k;
    }
  };
  restores(Param::kTranspose, 48, -24);
  restores(Param::kBufferSixteenths, 63, 1);
  restores(Param::kStartInterval, 88200 / 16, 42);
  restores(Param::kGrainOffset, 88200, 0);
  for (int32_t k = 0; k <= 22050; ++k) {
    set(Param::kLengthBase, static_cast<float>(k / (88200 / 4.0)));
    ASSERT_EQ(std::stoi(display(Param::kLengthBase)), k + 42) << k;
  }
}

TEST_F(Parameters, LoopRelativeValuesKeepTheirSampleCounts) {
  processSilence();  // L = 88200
  set(Param::kGrainOffset, 1.0f);
  EXPECT_EQ(display(Param::kGrainOffset), "  88200");
  set(Param::kBufferSixteenths, static_cast<float>(7.0 / 63));  // 8 sixteenths
  EXPECT_EQ(get(Param::kGrainOffset),
            1.0f);   // not re-derived until the engine asks
  processSilence();  // L = 44100
  EXPECT_EQ(get(Param::kGrainOffset), 2.0f);
  EXPECT_EQ(display(Param::kGrainOffset), "  88200");
}

// A restore in index order, before any audio: the value is shown against
// the loop that the restored "bsize" gives at 120 bpm, and converted against
// the loop of the first sample.
TEST_F(Parameters, RestoreInIndexOrderIsConvertedAtTheFirstSample) {
  set(Param::kBufferSixteenths, 1.0f);  // 64 sixteenths
  set(Param::kStartInterval, 1.0f);     // against L = 352800
  EXPECT_EQ(display(Param::kStartInterval), "  22092");
  EXPECT_EQ(get(Param::kStartInterval), 1.0f);
  processSilence();  // L = 352800, the whole capture
  EXPECT_EQ(display(Param::kStartInterval), "  22092");
  EXPECT_EQ(get(Param::kStartInterval), 1.0f);
}

TEST_F(Parameters, HostileValuesAreClamped) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  set(Param::kBufferSixteenths, -3.0f);
  EXPECT_EQ(display(Param::kBufferSixteenths), "      1");
  set(Param::kBufferSixteenths, 1e30f);
  EXPECT_EQ(display(Param::kBufferSixteenths), "     64");
  set(Param::kBufferSixteenths, nan);
  EXPECT_EQ(display(Param::kBufferSixteenths), "      1");
  set(Param::kTranspose, inf);
  EXPECT_EQ(display(Param::kTranspose), "     24");
  set(Param::kTranspose, -inf);
  EXPECT_EQ(display(Param::kTranspose), "    -24");
  set(Param::kEnvelopeCeiling, 7.0f);
  EXPECT_EQ(display(Param::kEnvelopeCeiling), "6.000000");
  set(Param::kEnvelopeCeiling, nan);
  EXPECT_EQ(display(Param::kEnvelopeCeiling), "1.000000");
  set(Param::kRecordThreshold, nan);
  EXPECT_EQ(get(Param::kRecordThreshold), 0.0f);
  set(Param::kStartJitter, 2.0f);
  EXPECT_EQ(get(Param::kStartJitter), 1.0f);
  set(Param::kGrainOffset, -1.0f);
  EXPECT_EQ(display(Param::kGrainOffset), "      0");
}

TEST_F(Parameters, ZeroLoopAnswersZeroInsteadOfDividing) {
  host.tempo = 1e300;  // a sixteenth lasts no time at all: loop of 0 samples
  processSilence();
  EXPECT_EQ(get(Param::kStartInterval), 0.0f);
  EXPECT_EQ(get(Param::kGrainOffset), 0.0f);
  EXPECT_EQ(get(Param::kLengthBase), 0.0f);
  set(Param::kStartInterval, 1.0f);
  EXPECT_EQ(display(Param::kStartInterval), "     42");
  processSilence(64);  // and the engine carries on
}

TEST_F(Parameters, IndexesOutsideTheTableChangeNothing) {
  for (int32_t index : {int32_t{Param::kCount}, -1, 1000,
                        std::numeric_limits<int32_t>::min()}) {
    set(index, 1.0f);
    EXPECT_EQ(get(index), 0.0f);
    for (int32_t opcode :
         {EffectOpcode::kGetParameterName, EffectOpcode::kGetParameterLabel,
          EffectOpcode::kGetParameterDisplay}) {
      EXPECT_EQ(text(opcode, index), std::string(31, '#'));
    }
  }
  const float after[] = {float(15.0 / 63),
                         0,
                         float(840.0 / 5512),
                         0,
                         0,
                         0,
                         float(3958.0 / 22050),
                         0,
                         0.5f,
                         0,
                         0};
  for (int32_t i = 0; i < Param::kCount; ++i) EXPECT_EQ(get(i), after[i]) << i;
}

TEST_F(Parameters, TextOpcodesAnswerZeroAndIgnoreNullBuffers) {
  for (int32_t opcode :
       {EffectOpcode::kGetParameterName, EffectOpcode::kGetParameterLabel,
        EffectOpcode::kGetParameterDisplay}) {
    EXPECT_EQ(TestHost::dispatch(e.effect, opcode, 0), 0);
  }
}

TEST_F(Parameters, EveryParameterIsAutomatableAndHasNoTextInput) {
  char word[] = "0.5";
  for (int32_t i = 0; i < Param::kCount; ++i) {
    EXPECT_EQ(TestHost::dispatch(e.effect, EffectOpcode::kCanBeAutomated, i),
              1);
    EXPECT_EQ(TestHost::dispatch(e.effect, EffectOpcode::kString2Parameter, i,
                                 0, word),
              0);
  }
}

}  // namespace
