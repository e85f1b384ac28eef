// The base effect class as a host meets it: the record, the entry points,
// the base dispatcher and the host wrappers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "ProbeEffect.h"
#include "TestHost.h"
#include "opcodes.h"

namespace {

using Host = TestHost;
namespace Op = EffectOpcode;

TEST(AudioEffectRecord, ConstructorFillsTheRecord) {
  PlainEffect effect(nullptr, 1, 11);
  const AEffect* record = effect.getAeffect();
  EXPECT_EQ(record->magic, 0x56737450);
  unsigned char magicBytes[4];
  std::memcpy(magicBytes, &record->magic, sizeof magicBytes);
  EXPECT_EQ(magicBytes[0], 0x50);  // 'P' first in little-endian memory
  EXPECT_EQ(magicBytes[3], 0x56);
  EXPECT_EQ(record->numPrograms, 1);
  EXPECT_EQ(record->numParams, 11);
  EXPECT_EQ(record->numInputs, 1);
  EXPECT_EQ(record->numOutputs, 2);
  EXPECT_EQ(record->flags, 0);
  EXPECT_EQ(record->resvd1, 0);
  EXPECT_EQ(record->resvd2, 0);
  EXPECT_EQ(record->initialDelay, 0);
  EXPECT_EQ(record->realQualities, 0);
  EXPECT_EQ(record->offQualities, 0);
  EXPECT_EQ(record->ioRatio, 1.0f);
  EXPECT_EQ(record->object, static_cast<AudioEffect*>(&effect));
  EXPECT_EQ(record->user, nullptr);
  EXPECT_EQ(record->uniqueID, 0x4E6F4566);
  EXPECT_EQ(record->version, 1);
  EXPECT_NE(record->dispatcher, nullptr);
  EXPECT_NE(record->process, nullptr);
  EXPECT_NE(record->processReplacing, nullptr);
  EXPECT_NE(record->setParameter, nullptr);
  EXPECT_NE(record->getParameter, nullptr);
  for (char byte : record->future) EXPECT_EQ(byte, 0);
  EXPECT_EQ(effect.getSampleRate(), 44100.0f);
  EXPECT_EQ(effect.getBlockSize(), 1024);
  EXPECT_EQ(effect.getProgram(), 0);
}

TEST(AudioEffectRecord, SettersWriteTheRecord) {
  PlainEffect effect(nullptr, 1, 11);
  const AEffect* record = effect.getAeffect();
  effect.hasVu(true);
  effect.hasClip(true);
  EXPECT_EQ(record->flags, 6);
  effect.hasVu(false);
  EXPECT_EQ(record->flags, 2);
  effect.canMono(true);
  effect.canProcessReplacing(true);
  effect.programsAreChunks(true);
  EXPECT_EQ(record->flags, 0x3A);
  effect.hasClip(false);
  effect.programsAreChunks(false);
  EXPECT_EQ(record->flags, 0x18);

  effect.setUniqueID(fourCharCode("GmSt"));
  effect.setNumInputs(2);
  effect.setNumOutputs(4);
  effect.setInitialDelay(64);
  effect.setRealtimeQualities(3);
  effect.setOfflineQualities(5);
  EXPECT_EQ(record->uniqueID, 0x476D5374);
  EXPECT_EQ(record->numInputs, 2);
  EXPECT_EQ(record->numOutputs, 4);
  EXPECT_EQ(record->initialDelay, 64);
  EXPECT_EQ(record->realQualities, 3);
  EXPECT_EQ(record->offQualities, 5);
}

TEST(AudioEffectEntryPoints, ForwardEveryArgumentUnchanged) {
  ProbeLog log;
  EffectHandle effect(ProbeEffect::create(nullptr, log));
  float left[4] = {};
  float right[4] = {};
  float* inputs[2] = {left, right};
  float* outputs[2] = {right, left};

  effect->processReplacing(effect.effect, inputs, outputs, 4);
  EXPECT_EQ(log.calls.back(), "processReplacing");
  EXPECT_EQ(log.lastValue, 4);
  EXPECT_EQ(log.lastPointer, inputs);
  EXPECT_EQ(log.secondPointer, outputs);

  effect->process(effect.effect, inputs, outputs, 3);
  EXPECT_EQ(log.calls.back(), "process");
  EXPECT_EQ(log.lastValue, 3);

  effect->setParameter(effect.effect, 7, 0.75f);
  EXPECT_EQ(log.calls.back(), "setParameter");
  EXPECT_EQ(log.lastIndex, 7);
  EXPECT_EQ(log.lastFloat, 0.75f);

  EXPECT_EQ(effect->getParameter(effect.effect, 6), 0.75f);
  EXPECT_EQ(log.lastIndex, 6);
}

TEST(AudioEffectEntryPoints, CloseRunsCloseOnceDestroysAndAnswersOne) {
  Host host;
  ProbeLog log;
  AEffect* effect = ProbeEffect::create(&Host::callback, log);
  EXPECT_EQ(Host::dispatch(effect, Op::kClose), 1);
  EXPECT_EQ(log.count("close"), 1);
  EXPECT_TRUE(log.destroyed);
  EXPECT_TRUE(host.calls.empty());
}

TEST(AudioEffectEntryPoints, ClosingDestroysTheEditor) {
  ProbeLog log;
  AEffect* effect = ProbeEffect::create(nullptr, log);
  ProbeEffect::of(effect).attachEditor(new ProbeEditor(log));
  Host::dispatch(effect, Op::kClose);
  EXPECT_EQ(log.count("~editor"), 1);
}

TEST(AudioEffectDispatcher, LifecycleOpcodesReachTheirOperations) {
  ProbeLog log;
  EffectHandle effect(ProbeEffect::create(nullptr, log));
  ProbeEffect& probe = ProbeEffect::of(effect.effect);

  EXPECT_EQ(Host::dispatch(effect.effect, Op::kOpen), 0);
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kSuspendResume, 0, 0), 0);
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kSuspendResume, 0, 1), 0);
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kSuspendResume, 0, -3), 0);
  EXPECT_EQ(log.calls,
            (std::vector<std::string>{"open", "suspend", "resume", "resume"}));

  EXPECT_EQ(Host::dispatch(effect.effect, Op::kSetSampleRate, 0, 0, nullptr,
                           48000.0f),
            0);
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kSetBlockSize, 0, 256), 0);
  EXPECT_EQ(log.count("setSampleRate"), 1);
  EXPECT_EQ(log.count("setBlockSize"), 1);
  EXPECT_EQ(probe.getSampleRate(), 48000.0f);
  EXPECT_EQ(probe.getBlockSize(), 256);
}

TEST(AudioEffectDispatcher, SetProgramOnlyWithinTheProgramCount) {
  ProbeLog log;
  EffectHandle effect(ProbeEffect::create(nullptr, log, 3));
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kSetProgram, 0, 2), 0);
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kGetProgram), 2);
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kSetProgram, 0, 3), 0);
  // A negative number is no program either; it would index before the first.
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kSetProgram, 0, -1), 0);
  EXPECT_EQ(log.count("setProgram"), 1);
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kGetProgram), 2);
}

TEST(AudioEffectDispatcher, VuIsScaledAndTruncatedSafely) {
  ProbeLog log;
  EffectHandle effect(ProbeEffect::create(nullptr, log));
  ProbeEffect& probe = ProbeEffect::of(effect.effect);
  const auto vuAnswer = [&](float vu) {
    probe.vu = vu;
    return Host::dispatch(effect.effect, Op::kGetVu);
  };
  EXPECT_EQ(vuAnswer(0.5f), 16383);
  EXPECT_EQ(vuAnswer(1.0f), 32767);
  EXPECT_EQ(vuAnswer(-0.5f), -16383);
  EXPECT_EQ(vuAnswer(1.0e9f), INT32_MAX);
  EXPECT_EQ(vuAnswer(-std::numeric_limits<float>::infinity()), INT32_MIN);
  EXPECT_EQ(vuAnswer(std::nanf("")), 0);
}

TEST(AudioEffectDispatcher, UnlistedOpcodesAnswerZero) {
  PlainEffect effect(nullptr, 1, 11);
  AEffect* record = effect.getAeffect();
  for (int32_t opcode : {16, 17, 18, 20, 21, 25, 51, 58, 77, -1, INT32_MIN}) {
    EXPECT_EQ(Host::dispatch(record, opcode, 1, 1, nullptr, 1.0f), 0) << opcode;
  }
  EXPECT_EQ(Host::dispatch(record, Op::kIdentify), 1316373862);
}

TEST(AudioEffectDispatcher, ChunksAreNotOffered) {
  PlainEffect effect(nullptr, 1, 11);
  int marker = 0;
  void* data = &marker;
  EXPECT_EQ(Host::dispatch(effect.getAeffect(), Op::kGetChunk, 0, 0, &data), 0);
  EXPECT_EQ(data, &marker);
  EXPECT_EQ(Host::dispatch(effect.getAeffect(), Op::kSetChunk, 1, 4, &marker),
            0);
}

TEST(AudioEffectDispatcher, SetChunkGetsSizeAndPresetFlag) {
  ProbeLog log;
  EffectHandle effect(ProbeEffect::create(nullptr, log));
  int data = 0;
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kSetChunk, 1, 4, &data), 77);
  EXPECT_EQ(log.lastValue, 4);
  EXPECT_EQ(log.lastPointer, &data);
  EXPECT_TRUE(log.lastFlag);
}

TEST(AudioEffectDispatcher, DefaultTextsAreEmptyAndNullBuffersIgnored) {
  PlainEffect effect(nullptr, 1, 11);
  AEffect* record = effect.getAeffect();
  for (int32_t opcode : {Op::kGetProgramName, Op::kGetParameterLabel,
                         Op::kGetParameterDisplay, Op::kGetParameterName}) {
    char text[8] = "xxxxxxx";
    EXPECT_EQ(Host::dispatch(record, opcode, 0, 0, text), 0);
    EXPECT_STREQ(text, "") << opcode;
    EXPECT_EQ(Host::dispatch(record, opcode, 0, 0, nullptr), 0);
  }
  // The name the host hands in is its own and is not written.
  char name[] = "Mine";
  EXPECT_EQ(Host::dispatch(record, Op::kSetProgramName, 0, 0, name), 0);
  EXPECT_STREQ(name, "Mine");
  EXPECT_EQ(Host::dispatch(record, Op::kSetProgramName, 0, 0, nullptr), 0);
}

TEST(AudioEffectDispatcher, EditorOpcodesNeedAnEditor) {
  ProbeLog log;
  EffectHandle effect(ProbeEffect::create(nullptr, log));
  int rect = 0;
  for (int32_t opcode : {Op::kEditorGetRect, Op::kEditorOpen, Op::kEditorClose,
                         Op::kEditorIdle}) {
    EXPECT_EQ(Host::dispatch(effect.effect, opcode, 0, 0, &rect), 0);
  }
  EXPECT_TRUE(log.calls.empty());

  ProbeEffect::of(effect.effect).attachEditor(new ProbeEditor(log));
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kEditorGetRect, 0, 0, &rect), 11);
  EXPECT_EQ(log.lastPointer, &rect);
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kEditorOpen, 0, 0, &rect), 12);
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kEditorClose), 0);
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kEditorIdle), 0);
  EXPECT_EQ(log.calls, (std::vector<std::string>{"getRect", "editorOpen",
                                                 "editorClose", "editorIdle"}));
}

TEST(AudioEffectHost, MasterVersionTreatsZeroAsOne) {
  Host host;
  PlainEffect effect(&Host::callback, 1, 11);
  EXPECT_EQ(effect.getMasterVersion(), 2400);
  host.versionAnswer = 0;
  EXPECT_EQ(effect.getMasterVersion(), 1);
  ASSERT_EQ(host.calls.size(), 2u);
  const HostCall& call = host.calls[0];
  EXPECT_EQ(call.effect, effect.getAeffect());
  EXPECT_EQ(call.opcode, 1);
  EXPECT_EQ(call.ptr, nullptr);
}

TEST(AudioEffectHost, PinQueriesAskWithValueZeroOrOne) {
  Host host;
  PlainEffect effect(&Host::callback, 1, 11);
  EXPECT_TRUE(effect.isInputConnected(0));
  host.defaultAnswer = 1;
  EXPECT_FALSE(effect.isInputConnected(0));
  EXPECT_FALSE(effect.isOutputConnected(3));
  ASSERT_EQ(host.calls.size(), 3u);
  EXPECT_EQ(host.calls[1].opcode, 4);
  EXPECT_EQ(host.calls[1].value, 0);
  EXPECT_EQ(host.calls[2].opcode, 4);
  EXPECT_EQ(host.calls[2].index, 3);
  EXPECT_EQ(host.calls[2].value, 1);
}

TEST(AudioEffectHost, UniqueIdAndIdlePassThrough) {
  Host host;
  PlainEffect effect(&Host::callback, 1, 11);
  host.defaultAnswer = 0x12345;
  EXPECT_EQ(effect.getCurrentUniqueId(), 0x12345);
  effect.masterIdle();
  ASSERT_EQ(host.calls.size(), 2u);
  EXPECT_EQ(host.calls[0].opcode, 2);
  EXPECT_EQ(host.calls[1].opcode, 3);
}

TEST(AudioEffectHost, AutomationSetsTheParameterThenTellsTheHost) {
  Host host;
  ProbeLog log;
  EffectHandle effect(ProbeEffect::create(&Host::callback, log));
  ProbeEffect::of(effect.effect).setParameterAutomated(2, 0.25f);
  EXPECT_EQ(log.calls, std::vector<std::string>{"setParameter"});
  EXPECT_EQ(log.lastIndex, 2);
  EXPECT_EQ(log.lastFloat, 0.25f);
  ASSERT_EQ(host.calls.size(), 1u);
  const HostCall& call = host.calls[0];
  EXPECT_EQ(call.effect, effect.effect);
  EXPECT_EQ(call.opcode, 0);
  EXPECT_EQ(call.index, 2);
  EXPECT_EQ(call.value, 0);
  EXPECT_EQ(call.ptr, nullptr);
  EXPECT_EQ(call.opt, 0.25f);
}

TEST(AudioEffectHost, WithoutCallbackEveryWrapperFallsBack) {
  ProbeLog log;
  EffectHandle effect(ProbeEffect::create(nullptr, log));
  ProbeEffect& probe = ProbeEffect::of(effect.effect);
  EXPECT_EQ(probe.getMasterVersion(), 1);
  EXPECT_EQ(probe.getCurrentUniqueId(), 0);
  EXPECT_TRUE(probe.isInputConnected(0));
  EXPECT_TRUE(probe.isOutputConnected(3));
  probe.masterIdle();
  probe.setParameterAutomated(1, 0.5f);
  EXPECT_EQ(log.count("setParameter"), 1);
}

}  // namespace
