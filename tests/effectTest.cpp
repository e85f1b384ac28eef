// The effect as a host first meets it: creation through the entry point,
// the record it hands over, its identity and its program name.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "RandomGenerator.h"
#include "TestHost.h"
#include "myfxProbe.h"
#include "opcodes.h"
#include "parameterIndex.h"
#include "seedExtension.h"

namespace {

std::string text(AEffect* e, int32_t opcode, int32_t index = 0) {
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  buffer[63] = '\0';
  TestHost::dispatch(e, opcode, index, 0, buffer);
  return buffer;
}

TEST(Effect, HostAnsweringVersionZeroGetsNothing) {
  TestHost host;
  host.versionAnswer = 0;
  EXPECT_EQ(host.load(), nullptr);
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0].opcode, HostOpcode::kVersion);
  EXPECT_EQ(host.calls[0].effect, nullptr);
}

TEST(Effect, NullCallbackCountsAsVersionOne) {
  AEffect* e = createEffectInstance(nullptr);
  ASSERT_NE(e, nullptr);
  // With no host there is no time information: the engine still runs.
  float in[2][16] = {}, out[2][16];
  float* inputs[] = {in[0], in[1]};
  float* outputs[] = {out[0], out[1]};
  in[0][0] = 1.0f;
  e->processReplacing(e, inputs, outputs, 16);
  EXPECT_EQ(e->dispatcher(e, EffectOpcode::kClose, 0, 0, nullptr, 0.0f), 1);
}

TEST(Effect, RecordAfterCreation) {
  TestHost host;
  EffectHandle e(host.load());
  ASSERT_NE(e.effect, nullptr);
  EXPECT_EQ(e->magic, 0x56737450);
  EXPECT_EQ(e->uniqueID, 0x476D5374);
  EXPECT_EQ(e->numInputs, 2);
  EXPECT_EQ(e->numOutputs, 2);
  EXPECT_EQ(e->numPrograms, 1);
  EXPECT_EQ(e->numParams, Param::kCount);
  EXPECT_EQ(e->flags, 24);
  EXPECT_EQ(e->version, 1);
  EXPECT_EQ(e->ioRatio, 1.0f);
  EXPECT_EQ(e->initialDelay, 0);
  for (char byte : e->future) EXPECT_EQ(byte, 0);
  // Creation asks the host for its version and nothing else.
  EXPECT_EQ(host.calls.size(), 1u);
}

TEST(Effect, Identity) {
  TestHost host;
  EffectHandle e(host.load());
  EXPECT_EQ(text(e.effect, EffectOpcode::kGetEffectName), "korvane");
  EXPECT_EQ(text(e.effect, EffectOpcode::kGetProductString), "korvane");
  EXPECT_EQ(text(e.effect, EffectOpcode::kGetVendorString), "zvk");
  char name[16];
  EXPECT_EQ(
      TestHost::dispatch(e.effect, EffectOpcode::kGetEffectName, 0, 0, name),
      1);
  EXPECT_EQ(TestHost::dispatch(e.effect, EffectOpcode::kGetVendorVersion),
            1000);
  EXPECT_EQ(TestHost::dispatch(e.effect, EffectOpcode::kGetPlugCategory), 1);
  EXPECT_EQ(TestHost::dispatch(e.effect, EffectOpcode::kGetVstVersion), 2300);
}

TEST(Effect, CanDoAnswersOnlyTimeInfo) {
  TestHost host;
  EffectHandle e(host.load());
  auto canDo = [&](const char* word) {
    return TestHost::dispatch(e.effect, EffectOpcode::kCanDo, 0, 0,
                              const_cast<char*>(word));
  };
  EXPECT_EQ(canDo("receiveVstTimeInfo"), 1);
  EXPECT_EQ(canDo("ReceiveVstTimeInfo"), -1);
  EXPECT_EQ(canDo("receiveVstEvents"), -1);
  EXPECT_EQ(canDo("bypass"), -1);
  EXPECT_EQ(canDo(""), -1);
  EXPECT_EQ(TestHost::dispatch(e.effect, EffectOpcode::kCanDo), -1);
}

TEST(Effect, ProgramName) {
  TestHost host;
  EffectHandle e(host.load());
  EXPECT_EQ(text(e.effect, EffectOpcode::kGetProgramName), "Default");
  char x[] = "x";
  TestHost::dispatch(e.effect, EffectOpcode::kSetProgramName, 0, 0, x);
  EXPECT_EQ(text(e.effect, EffectOpcode::kGetProgramName), "x");

  // The name field holds 31 characters and a terminator.
  std::string longName(100, 'n');
  TestHost::dispatch(e.effect, EffectOpcode::kSetProgramName, 0, 0,
                     longName.data());
  EXPECT_EQ(text(e.effect, EffectOpcode::kGetProgramName),
            std::string(31, 'n'));

  // Null text pointers are ignored, not written through.
  TestHost::dispatch(e.effect, EffectOpcode::kSetProgramName);
  TestHost::dispatch(e.effect, EffectOpcode::kGetProgramName);
  TestHost::dispatch(e.effect, EffectOpcode::kGetEffectName);
  EXPECT_EQ(text(e.effect, EffectOpcode::kGetProgramName),
            std::string(31, 'n'));
}

TEST(Effect, InstancesAreIndependent) {
  TestHost host;
  EffectHandle a(host.load());
  EffectHandle b(host.load());
  EXPECT_NE(a.effect, b.effect);
  a->setParameter(a.effect, Param::kTranspose, 1.0f);
  EXPECT_EQ(a->getParameter(a.effect, Param::kTranspose), 1.0f);
  EXPECT_EQ(b->getParameter(b.effect, Param::kTranspose), 0.5f);
}

using seedExtension::kIndex;
using seedExtension::kOpcode;

// Renders a click train with every random spread at its widest.
std::vector<float> renderSpread(const EffectHandle& e) {
  constexpr int32_t kFrames = 20000;
  for (int32_t spread : {3, 5, 7, 9}) e->setParameter(e.effect, spread, 1.0f);
  std::vector<float> left(kFrames), right(kFrames), outLeft(kFrames),
      outRight(kFrames);
  for (int32_t k = 0; k < kFrames; k += 700) left[k] = right[k] = 0.9f;
  float* in[] = {left.data(), right.data()};
  float* out[] = {outLeft.data(), outRight.data()};
  e->processReplacing(e.effect, in, out, kFrames);
  return outLeft;
}

TEST(Effect, SeedCallReseedsAsConstructionDoes) {
  TestHost host;
  EffectHandle called(host.load());
  EffectHandle seeded(host.load());
  EffectHandle other(host.load());
  // The seed is the value's low 32 bits.
  const intptr_t value = sizeof(intptr_t) > 4
                             ? static_cast<intptr_t>(0x1234567800000000LL | 99)
                             : 99;
  EXPECT_EQ(TestHost::dispatch(called.effect, kOpcode, kIndex, value), 1);
  EXPECT_EQ(TestHost::dispatch(seeded.effect, kOpcode, kIndex, 99), 1);
  EXPECT_EQ(TestHost::dispatch(other.effect, kOpcode, kIndex, 100), 1);
  // The generator starts where construction with seed 99 would start it.
  RandomGenerator drawn = myfxProbe::random(called.object());
  RandomGenerator constructed;
  constructed.seed(99);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(drawn.next(), constructed.next());
  const std::vector<float> reference = renderSpread(seeded);
  EXPECT_EQ(renderSpread(called), reference);
  EXPECT_NE(renderSpread(other), reference);
}

TEST(Effect, OtherVendorCallsAnswerNothing) {
  TestHost host;
  EffectHandle e(host.load());
  EXPECT_EQ(TestHost::dispatch(e.effect, kOpcode, 0, 99), 0);
  EXPECT_EQ(TestHost::dispatch(e.effect, kOpcode, kIndex + 1, 99), 0);
  EXPECT_EQ(TestHost::dispatch(e.effect, kOpcode, -kIndex, 99), 0);
}

}  // namespace
