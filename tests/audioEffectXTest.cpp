// The extended effect class: the dispatcher for opcodes 25 to 76, its
// defaults, the host wrappers and the flag setters.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <type_traits>

#include "ProbeEffect.h"
#include "TestHost.h"
#include "opcodes.h"

namespace {

using Host = TestHost;
namespace Op = EffectOpcode;

TEST(AudioEffectXDefaults, EveryExtendedOpcodeAnswersItsDefault) {
  // Answers other than 0 for an effect that overrides nothing.
  const std::map<int32_t, intptr_t> nonZero = {
      {Op::kCanBeAutomated, 1},
      {Op::kGetNumCategories, 1},
      {Op::kInputConnected, 1},
      {Op::kOutputConnected, 1},
      {Op::kSetBlockSizeAndSampleRate, 1},
      {Op::kKeysRequired, 1},
      {Op::kGetVstVersion, 2300},
      {Op::kGetCurrentMidiProgram, -1},
  };
  DefaultEffectX effect(nullptr);
  AEffect* record = effect.getAeffect();
  EXPECT_EQ(record->version, 1);
  EXPECT_EQ(record->flags, 0);
  for (int32_t opcode = Op::kFirstExtended; opcode <= Op::kLastExtended;
       ++opcode) {
    const auto found = nonZero.find(opcode);
    const intptr_t expected = found == nonZero.end() ? 0 : found->second;
    EXPECT_EQ(Host::dispatch(record, opcode), expected) << "opcode " << opcode;
  }
  EXPECT_EQ(Host::dispatch(record, Op::kSetTotalSampleToProcess, 0, 4096),
            4096);
}

TEST(AudioEffectXDefaults, CategoryFollowsTheSynthFlag) {
  DefaultEffectX effect(nullptr);
  AEffect* record = effect.getAeffect();
  EXPECT_EQ(Host::dispatch(record, Op::kGetPlugCategory), 0);
  effect.isSynth(true);
  EXPECT_EQ(Host::dispatch(record, Op::kGetPlugCategory), 2);
  effect.isSynth(false);
  EXPECT_EQ(Host::dispatch(record, Op::kGetPlugCategory), 0);
}

TEST(AudioEffectXDefaults, FlagSettersTouchOnlyTheirBit) {
  DefaultEffectX effect(nullptr);
  const AEffect* record = effect.getAeffect();
  effect.canMono(true);
  effect.isSynth(true);
  effect.noTail(true);
  EXPECT_EQ(record->flags, 0x8 | 0x100 | 0x200);
  effect.wantAsyncOperation(true);
  effect.hasExternalBuffer(true);
  EXPECT_EQ(record->flags, 0x8 | 0x100 | 0x200 | 0x400 | 0x800);
  effect.isSynth(false);
  effect.noTail(false);
  effect.wantAsyncOperation(false);
  effect.hasExternalBuffer(false);
  EXPECT_EQ(record->flags, 0x8);
}

TEST(AudioEffectXDefaults, GetSpeakerArrangementClearsOnlySuppliedSlots) {
  DefaultEffectX effect(nullptr);
  AEffect* record = effect.getAeffect();
  VstSpeakerArrangement head{};
  VstSpeakerArrangement* inputs = &head;
  VstSpeakerArrangement* outputs = &head;
  EXPECT_EQ(Host::dispatch(record, Op::kGetSpeakerArrangement, 0,
                           reinterpret_cast<intptr_t>(&inputs), &outputs),
            0);
  EXPECT_EQ(inputs, nullptr);
  EXPECT_EQ(outputs, nullptr);
  outputs = &head;
  EXPECT_EQ(Host::dispatch(record, Op::kGetSpeakerArrangement, 0, 0, &outputs),
            0);
  EXPECT_EQ(outputs, nullptr);
}

TEST(AudioEffectXDefaults, BlockSizeAndRateBypassTheSetters) {
  ProbeLog log;
  EffectHandle effect(ProbeEffect::create(nullptr, log));
  ProbeEffect& probe = ProbeEffect::of(effect.effect);
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kSetBlockSizeAndSampleRate, 0,
                           512, nullptr, 96000.0f),
            1);
  EXPECT_EQ(probe.getBlockSize(), 512);
  EXPECT_EQ(probe.getSampleRate(), 96000.0f);
  EXPECT_EQ(log.count("setBlockSize"), 0);
  EXPECT_EQ(log.count("setSampleRate"), 0);
}

TEST(AudioEffectXDispatcher, RangeEdgesGoToTheRightDispatcher) {
  ProbeLog log;
  EffectHandle effect(ProbeEffect::create(nullptr, log));
  int data = 0;
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kSetChunk, 0, 8, &data), 77);
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kProcessEvents, 0, 0, &data), 5);
  EXPECT_EQ(log.lastPointer, &data);
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kBeginLoadProgram, 0, 0, &data),
            9);
  EXPECT_EQ(Host::dispatch(effect.effect, 77, 1, 1, &data, 1.0f), 0);
  EXPECT_EQ(Host::dispatch(effect.effect, -1, 1, 1, &data, 1.0f), 0);
  EXPECT_EQ(log.calls, (std::vector<std::string>{"setChunk", "processEvents",
                                                 "beginLoadProgram"}));
}

TEST(AudioEffectXDispatcher, ArgumentsReachTheirParameters) {
  ProbeLog log;
  EffectHandle effect(ProbeEffect::create(nullptr, log));
  AEffect* record = effect.effect;
  char text[16] = {};

  EXPECT_EQ(Host::dispatch(record, Op::kGetProgramNameIndexed, 3, 2, text), 1);
  EXPECT_EQ(log.lastIndex, 3);  // program
  EXPECT_EQ(log.lastValue, 2);  // category
  EXPECT_EQ(log.lastPointer, text);

  EXPECT_EQ(Host::dispatch(record, Op::kOfflineNotify, 1, 4, text), 1);
  EXPECT_EQ(log.lastValue, 4);
  EXPECT_TRUE(log.lastFlag);
  EXPECT_EQ(Host::dispatch(record, Op::kOfflineNotify, 0, 4, text), 1);
  EXPECT_FALSE(log.lastFlag);

  VstSpeakerArrangement in{}, out{};
  EXPECT_EQ(Host::dispatch(record, Op::kSetSpeakerArrangement, 0,
                           reinterpret_cast<intptr_t>(&in), &out),
            1);
  EXPECT_EQ(log.lastPointer, &in);
  EXPECT_EQ(log.secondPointer, &out);

  EXPECT_EQ(Host::dispatch(record, Op::kSetViewPosition, 10, 20), 1);
  EXPECT_EQ(log.lastIndex, 10);
  EXPECT_EQ(log.lastValue, 20);

  EXPECT_EQ(Host::dispatch(record, Op::kSetPanLaw, 0, 1, nullptr, 0.5f), 1);
  EXPECT_EQ(log.lastValue, 1);
  EXPECT_EQ(log.lastFloat, 0.5f);

  // keysRequired() answers true here, which the host hears as 0.
  EXPECT_EQ(Host::dispatch(record, Op::kKeysRequired), 0);
}

TEST(AudioEffectXDispatcher, EditorOpcodesNeedAnEditor) {
  ProbeLog log;
  EffectHandle effect(ProbeEffect::create(nullptr, log));
  for (int32_t opcode :
       {Op::kEditorKeyDown, Op::kEditorKeyUp, Op::kEditorKnobMode}) {
    EXPECT_EQ(Host::dispatch(effect.effect, opcode, 65, 1, nullptr, 1.0f), 0);
  }
  EXPECT_TRUE(log.calls.empty());

  auto* editor = new ProbeEditor(log);
  ProbeEffect::of(effect.effect).attachEditor(editor);
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kEditorKeyDown, 65, 0x1FF,
                           nullptr, 3.9f),
            21);
  EXPECT_EQ(editor->lastKey.character, 65);
  EXPECT_EQ(editor->lastKey.virtualKey, 0xFF);
  EXPECT_EQ(editor->lastKey.modifier, 3);
  EXPECT_EQ(
      Host::dispatch(effect.effect, Op::kEditorKeyUp, -2, 7, nullptr, -1.5f),
      22);
  EXPECT_EQ(editor->lastKey.character, -2);
  EXPECT_EQ(editor->lastKey.virtualKey, 7);
  EXPECT_EQ(editor->lastKey.modifier, 0xFF);  // -1 as a 16-bit integer
  EXPECT_EQ(Host::dispatch(effect.effect, Op::kEditorKnobMode, 0, 2), 23);
  EXPECT_EQ(log.lastValue, 2);
}

// Options beyond the 16-bit range wrap as an integer conversion would; NaN
// and infinities give no modifier.
TEST(AudioEffectXDispatcher, KeyModifierOfAnyOptionIsDefined) {
  ProbeLog log;
  EffectHandle effect(ProbeEffect::create(nullptr, log));
  auto* editor = new ProbeEditor(log);
  ProbeEffect::of(effect.effect).attachEditor(editor);
  const auto modifierOf = [&](float opt) {
    Host::dispatch(effect.effect, Op::kEditorKeyDown, 0, 0, nullptr, opt);
    return static_cast<int>(editor->lastKey.modifier);
  };
  EXPECT_EQ(modifierOf(70000.7f), 70000 % 256);
  EXPECT_EQ(modifierOf(-300.0f), 256 - 300 % 256);
  EXPECT_EQ(modifierOf(1.0e30f), 0);
  EXPECT_EQ(modifierOf(std::nanf("")), 0);
  EXPECT_EQ(modifierOf(std::numeric_limits<float>::infinity()), 0);
}

// One row per host wrapper: what the host must receive, and what the wrapper
// makes of an answer of 7 and of a missing callback.
struct WrapperCase {
  const char* name;
  std::function<intptr_t(AudioEffectX&)> call;
  int32_t opcode;
  int32_t index;
  intptr_t value;
  const void* ptr;
  float opt;
  intptr_t withSeven;
  intptr_t withoutHost;
};

// Any wrapper's result as a number to compare.
template <typename T>
intptr_t asNumber(T result) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<intptr_t>(result);
  } else {
    return static_cast<intptr_t>(result);
  }
}

// Distinct addresses the wrappers pass through without reading.
char passedThrough[8];
template <typename T>
T* fake(int n) {
  return reinterpret_cast<T*>(&passedThrough[n]);
}

#define WRAPPER(call) #call, [=](AudioEffectX & e) { return asNumber(e.call); }
#define VOID_WRAPPER(call) \
#call, [=](AudioEffectX & e) { return e.call, intptr_t{0}; }

std::vector<WrapperCase> wrapperCases() {
  auto* events = fake<VstEvents>(0);
  auto* files = fake<VstAudioFile>(1);
  auto* task = fake<VstOfflineTask>(2);
  auto* window = fake<VstWindow>(3);
  auto* selector = fake<VstFileSelect>(4);
  auto* text = fake<char>(5);
  auto* other = fake<void>(6);
  // clang-format off
  return {
    {VOID_WRAPPER(wantEvents(5)), 6, 0, 5, nullptr, 0.0f, 0, 0},
    {WRAPPER(sendVstEventsToHost(events)), 8, 0, 0, events, 0.0f, 0, 0},
    {WRAPPER(tempoAt(99)), 10, 0, 99, nullptr, 0.0f, 7, 0},
    {WRAPPER(getNumAutomatableParameters()), 11, 0, 0, nullptr, 0.0f, 7, 0},
    {WRAPPER(getParameterQuantization()), 12, 0, 0, nullptr, 0.0f, 7, 0},
    {WRAPPER(ioChanged()), 13, 0, 0, nullptr, 0.0f, 1, 0},
    {WRAPPER(needIdle()), 14, 0, 0, nullptr, 0.0f, 1, 0},
    {WRAPPER(sizeWindow(640, 480)), 15, 640, 480, nullptr, 0.0f, 1, 0},
    {WRAPPER(updateSampleRate()), 16, 0, 0, nullptr, 0.0f, 7, 44100},
    {WRAPPER(updateBlockSize()), 17, 0, 0, nullptr, 0.0f, 7, 1024},
    {WRAPPER(getInputLatency()), 18, 0, 0, nullptr, 0.0f, 7, 0},
    {WRAPPER(getOutputLatency()), 19, 0, 0, nullptr, 0.0f, 7, 0},
    {WRAPPER(getPreviousPlug(3)), 20, 0, 0, nullptr, 0.0f, 7, 0},
    {WRAPPER(getNextPlug(3)), 21, 0, 0, nullptr, 0.0f, 7, 0},
    {WRAPPER(willProcessReplacing()), 22, 0, 0, nullptr, 0.0f, 7, 0},
    {WRAPPER(getCurrentProcessLevel()), 23, 0, 0, nullptr, 0.0f, 7, 0},
    {WRAPPER(getAutomationState()), 24, 0, 0, nullptr, 0.0f, 7, 0},
    {WRAPPER(offlineStart(files, 3, 2)), 25, 2, 3, files, 0.0f, 1, 0},
    {WRAPPER(offlineRead(task, 4, true)), 26, 1, 4, task, 0.0f, 1, 0},
    {WRAPPER(offlineRead(task, 4, false)), 26, 0, 4, task, 0.0f, 1, 0},
    {WRAPPER(offlineWrite(task, 4)), 27, 0, 4, task, 0.0f, 1, 0},
    {WRAPPER(offlineGetCurrentPass()), 28, 0, 0, nullptr, 0.0f, 1, 0},
    {WRAPPER(offlineGetCurrentMetaPass()), 29, 0, 0, nullptr, 0.0f, 1, 0},
    {VOID_WRAPPER(setOutputSamplerate(22050.0f)), 30, 0, 0, nullptr, 22050.0f, 0, 0},
    {WRAPPER(getOutputSpeakerArrangement()), 31, 0, 0, nullptr, 0.0f, 7, 0},
    {WRAPPER(getHostVendorString(text)), 32, 0, 0, text, 0.0f, 1, 0},
    {WRAPPER(getHostProductString(text)), 33, 0, 0, text, 0.0f, 1, 0},
    {WRAPPER(getHostVendorVersion()), 34, 0, 0, nullptr, 0.0f, 7, 0},
    {WRAPPER(hostVendorSpecific(1, 2, other, 3.5f)), 35, 1, 2, other, 3.5f, 7, 0},
    {WRAPPER(canHostDo(text)), 37, 0, 0, text, 0.0f, 1, 0},
    {WRAPPER(getHostLanguage()), 38, 0, 0, nullptr, 0.0f, 7, 0},
    {WRAPPER(openWindow(window)), 39, 0, 0, window, 0.0f, 7, 0},
    {WRAPPER(closeWindow(window)), 40, 0, 0, window, 0.0f, 1, 0},
    {WRAPPER(getDirectory()), 41, 0, 0, nullptr, 0.0f, 7, 0},
    {WRAPPER(updateDisplay()), 42, 0, 0, nullptr, 0.0f, 1, 0},
    {WRAPPER(beginEdit(4)), 43, 4, 0, nullptr, 0.0f, 1, 0},
    {WRAPPER(endEdit(4)), 44, 4, 0, nullptr, 0.0f, 1, 0},
    {WRAPPER(openFileSelector(selector)), 45, 0, 0, selector, 0.0f, 1, 0},
    {WRAPPER(closeFileSelector(selector)), 46, 0, 0, selector, 0.0f, 1, 0},
    {WRAPPER(getChunkFile(other)), 48, 0, 0, other, 0.0f, 1, 0},
    {WRAPPER(getInputSpeakerArrangement()), 49, 0, 0, nullptr, 0.0f, 7, 0},
  };
  // clang-format on
}

#undef WRAPPER
#undef VOID_WRAPPER

TEST(AudioEffectXHost, EveryWrapperPassesItsArgumentsAndReadsTheAnswer) {
  for (const WrapperCase& row : wrapperCases()) {
    SCOPED_TRACE(row.name);
    Host host;
    host.defaultAnswer = 7;
    DefaultEffectX effect(&Host::callback);
    EXPECT_EQ(row.call(effect), row.withSeven);
    ASSERT_EQ(host.calls.size(), 1u);
    const HostCall& call = host.calls[0];
    EXPECT_EQ(call.effect, effect.getAeffect());
    EXPECT_EQ(call.opcode, row.opcode);
    EXPECT_EQ(call.index, row.index);
    EXPECT_EQ(call.value, row.value);
    EXPECT_EQ(call.ptr, row.ptr);
    EXPECT_EQ(call.opt, row.opt);
  }
}

TEST(AudioEffectXHost, EveryWrapperFallsBackWithoutACallback) {
  for (const WrapperCase& row : wrapperCases()) {
    DefaultEffectX effect(nullptr);
    EXPECT_EQ(row.call(effect), row.withoutHost) << row.name;
  }
}

TEST(AudioEffectXHost, TimeInfoIsTheHostsRecordOrNull) {
  Host host;
  DefaultEffectX effect(&Host::callback);
  host.tempo = 98.5;
  const VstTimeInfo* info = effect.getTimeInfo(TimeFlag::kTempoValid);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->tempo, 98.5);
  EXPECT_EQ(host.calls.back().opcode, 7);
  EXPECT_EQ(host.calls.back().value, 0x400);
  host.tempo.reset();
  EXPECT_EQ(effect.getTimeInfo(TimeFlag::kTempoValid), nullptr);
  DefaultEffectX alone(nullptr);
  EXPECT_EQ(alone.getTimeInfo(TimeFlag::kTempoValid), nullptr);
}

TEST(AudioEffectXHost, EventsCountAsSentOnlyForAnswerOne) {
  Host host;
  DefaultEffectX effect(&Host::callback);
  host.defaultAnswer = 1;
  EXPECT_TRUE(effect.sendVstEventsToHost(nullptr));
  host.defaultAnswer = 2;
  EXPECT_FALSE(effect.sendVstEventsToHost(nullptr));
}

TEST(AudioEffectXHost, RateAndBlockSizeChangeOnlyForPositiveAnswers) {
  Host host;
  DefaultEffectX effect(&Host::callback);
  host.defaultAnswer = 48000;
  EXPECT_EQ(effect.updateSampleRate(), 48000.0f);
  EXPECT_EQ(effect.getSampleRate(), 48000.0f);
  host.defaultAnswer = 256;
  EXPECT_EQ(effect.updateBlockSize(), 256);
  for (intptr_t answer : {intptr_t{0}, intptr_t{-1}}) {
    host.defaultAnswer = answer;
    EXPECT_EQ(effect.updateSampleRate(), 48000.0f);
    EXPECT_EQ(effect.updateBlockSize(), 256);
  }
  EXPECT_EQ(effect.getBlockSize(), 256);
}

TEST(AudioEffectXHost, NullPointersNeverReachTheHost) {
  Host host;
  host.defaultAnswer = 1;
  DefaultEffectX effect(&Host::callback);
  EXPECT_FALSE(effect.openFileSelector(nullptr));
  EXPECT_FALSE(effect.closeFileSelector(nullptr));
  EXPECT_FALSE(effect.getChunkFile(nullptr));
  // The host would read or write these texts.
  EXPECT_FALSE(effect.canHostDo(nullptr));
  EXPECT_FALSE(effect.getHostVendorString(nullptr));
  EXPECT_FALSE(effect.getHostProductString(nullptr));
  EXPECT_TRUE(host.calls.empty());
}

TEST(AudioEffectXCapabilities, WordTablesHoldTheirWords) {
  EXPECT_STREQ(hostCanDos[0], "sendVstEvents");
  EXPECT_STREQ(hostCanDos[6], "reportConnectionChanges");
  EXPECT_STREQ(hostCanDos[kHostCanDoCount - 1], "startStopProcess");
  EXPECT_STREQ(plugCanDos[5], "receiveVstTimeInfo");
  EXPECT_STREQ(plugCanDos[13], "1in1out");
  EXPECT_STREQ(plugCanDos[kPlugCanDoCount - 1], "bypass");
  for (const char* word : hostCanDos) ASSERT_NE(word, nullptr);
  for (const char* word : plugCanDos) ASSERT_NE(word, nullptr);
}

}  // namespace
