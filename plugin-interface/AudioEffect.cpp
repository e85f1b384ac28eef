// The base effect class: the record's entry points, the base dispatcher
// (kOpen to kSetChunk), the default operations and the host wrappers.
#include "AudioEffect.h"

#include <cmath>
#include <cstring>

#include "opcodes.h"

namespace {

constexpr int32_t kInitialBlockSize = 1024;
constexpr int32_t kRecordVersion = 1;
constexpr int32_t kInitialInputs = 1;
constexpr int32_t kInitialOutputs = 2;
// The VU level travels to the host as a fraction of this full scale.
constexpr double kVuFullScale = 32767.0;

AudioEffect* effectOf(AEffect* effect) {
  return static_cast<AudioEffect*>(effect->object);
}

// A level of unknown range to an integer without undefined conversion:
// truncated toward zero, clamped to the int32 range, NaN as 0.
int32_t vuToInteger(double level) {
  if (std::isnan(level)) return 0;
  const double scaled = std::trunc(level * kVuFullScale);
  if (scaled >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  if (scaled <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  return static_cast<int32_t>(scaled);
}

// Any host thread. kClose ends the object's life: the dispatcher runs
// close(), then the object is destroyed here and the record with it.
intptr_t dispatchEffectClass(AEffect* effect, int32_t opcode, int32_t index,
                             intptr_t value, void* ptr, float opt) {
  AudioEffect* object = effectOf(effect);
  if (opcode == EffectOpcode::kClose) {
    object->dispatcher(opcode, index, value, ptr, opt);
    delete object;
    return 1;
  }
  return object->dispatcher(opcode, index, value, ptr, opt);
}

// Any host thread.
float getParameterClass(AEffect* effect, int32_t index) {
  return effectOf(effect)->getParameter(index);
}

// Any host thread; the host is not told (that is setParameterAutomated).
void setParameterClass(AEffect* effect, int32_t index, float value) {
  effectOf(effect)->setParameter(index, value);
}

// Audio thread.
void processClass(AEffect* effect, float** inputs, float** outputs,
                  int32_t sampleFrames) {
  effectOf(effect)->process(inputs, outputs, sampleFrames);
}

// Audio thread.
void processClassReplacing(AEffect* effect, float** inputs, float** outputs,
                           int32_t sampleFrames) {
  effectOf(effect)->processReplacing(inputs, outputs, sampleFrames);
}

// Texts the host hands in for the effect to fill; a null buffer is ignored.
void clearText(char* text) {
  if (text != nullptr) text[0] = '\0';
}

}  // namespace

AudioEffect::AudioEffect(HostCallback callback, int32_t programCount,
                         int32_t parameterCount)
    : sampleRate(kInitialSampleRate),
      editor(nullptr),
      hostCallback(callback),
      numPrograms(programCount),
      numParams(parameterCount),
      currentProgram(0),
      blockSize(kInitialBlockSize) {
  std::memset(&effectRecord, 0, sizeof effectRecord);
  effectRecord.magic = kEffectMagic;
  effectRecord.dispatcher = dispatchEffectClass;
  effectRecord.process = processClass;
  effectRecord.setParameter = setParameterClass;
  effectRecord.getParameter = getParameterClass;
  effectRecord.numPrograms = programCount;
  effectRecord.numParams = parameterCount;
  effectRecord.numInputs = kInitialInputs;
  effectRecord.numOutputs = kInitialOutputs;
  effectRecord.ioRatio = 1.0f;
  effectRecord.object = this;
  effectRecord.uniqueID = kNoEffectId;
  effectRecord.version = kRecordVersion;
  effectRecord.processReplacing = processClassReplacing;
}

AudioEffect::~AudioEffect() { delete editor; }

// Any host thread. kOpen to kSetChunk; every other opcode answers 0.
intptr_t AudioEffect::dispatcher(int32_t opcode, int32_t index, intptr_t value,
                                 void* ptr, float opt) {
  using namespace EffectOpcode;
  char* text = static_cast<char*>(ptr);
  switch (opcode) {
    case kOpen:
      open();
      return 0;
    case kClose:
      close();
      return 0;
    case kSetProgram:
      // Negative numbers are refused along with those past the end: neither
      // names a program, and an effect may index its programs with it.
      if (value >= 0 && value < numPrograms) {
        setProgram(static_cast<int32_t>(value));
      }
      return 0;
    case kGetProgram:
      return getProgram();
    case kSetProgramName:
      setProgramName(text);
      return 0;
    case kGetProgramName:
      getProgramName(text);
      return 0;
    case kGetParameterLabel:
      getParameterLabel(index, text);
      return 0;
    case kGetParameterDisplay:
      getParameterDisplay(index, text);
      return 0;
    case kGetParameterName:
      getParameterName(index, text);
      return 0;
    case kGetVu:
      return vuToInteger(getVu());
    case kSetSampleRate:
      setSampleRate(opt);
      return 0;
    case kSetBlockSize:
      setBlockSize(static_cast<int32_t>(value));
      return 0;
    case kSuspendResume:
      if (value == 0) {
        suspend();
      } else {
        resume();
      }
      return 0;
    case kEditorGetRect:
      return editor != nullptr ? editor->getRect(ptr) : 0;
    case kEditorOpen:
      return editor != nullptr ? editor->open(ptr) : 0;
    case kEditorClose:
      if (editor != nullptr) editor->close();
      return 0;
    case kEditorIdle:
      if (editor != nullptr) editor->idle();
      return 0;
    case kIdentify:
      return kNoEffectVersion;
    case kGetChunk:
      return getChunk(static_cast<void**>(ptr), index != 0);
    case kSetChunk:
      return setChunk(ptr, static_cast<int32_t>(value), index != 0);
    default:
      // 16 to 18, 20, 21, everything from 25 up and every negative opcode.
      return 0;
  }
}

void AudioEffect::setParameter(int32_t /*index*/, float /*value*/) {}
float AudioEffect::getParameter(int32_t /*index*/) { return 0.0f; }

void AudioEffect::setParameterAutomated(int32_t index, float value) {
  setParameter(index, value);
  callHost(HostOpcode::kAutomate, index, 0, nullptr, value, 0);
}

void AudioEffect::processReplacing(float** /*inputs*/, float** /*outputs*/,
                                   int32_t /*sampleFrames*/) {}

void AudioEffect::open() {}
void AudioEffect::close() {}
int32_t AudioEffect::getProgram() { return currentProgram; }
void AudioEffect::setProgram(int32_t program) { currentProgram = program; }

// The base class keeps no program names. The host's text is its own input and
// is left as it is.
void AudioEffect::setProgramName(char* /*name*/) {}
void AudioEffect::getProgramName(char* name) { clearText(name); }
void AudioEffect::getParameterLabel(int32_t /*index*/, char* label) {
  clearText(label);
}
void AudioEffect::getParameterDisplay(int32_t /*index*/, char* text) {
  clearText(text);
}
void AudioEffect::getParameterName(int32_t /*index*/, char* text) {
  clearText(text);
}

float AudioEffect::getVu() { return 0.0f; }
int32_t AudioEffect::getChunk(void** /*data*/, bool /*isPreset*/) { return 0; }
int32_t AudioEffect::setChunk(void* /*data*/, int32_t /*byteSize*/,
                              bool /*isPreset*/) {
  return 0;
}
void AudioEffect::setSampleRate(float rate) { sampleRate.store(rate); }
void AudioEffect::setBlockSize(int32_t size) { blockSize.store(size); }
void AudioEffect::suspend() {}
void AudioEffect::resume() {}

void AudioEffect::setUniqueID(int32_t id) { effectRecord.uniqueID = id; }
void AudioEffect::setNumInputs(int32_t count) {
  effectRecord.numInputs = count;
}
void AudioEffect::setNumOutputs(int32_t count) {
  effectRecord.numOutputs = count;
}
void AudioEffect::hasVu(bool state) { setFlag(EffectFlag::kHasVu, state); }
void AudioEffect::hasClip(bool state) { setFlag(EffectFlag::kHasClip, state); }
void AudioEffect::canMono(bool state) { setFlag(EffectFlag::kCanMono, state); }
void AudioEffect::canProcessReplacing(bool state) {
  setFlag(EffectFlag::kCanReplacing, state);
}
void AudioEffect::programsAreChunks(bool state) {
  setFlag(EffectFlag::kProgramChunks, state);
}
void AudioEffect::setRealtimeQualities(int32_t qualities) {
  effectRecord.realQualities = qualities;
}
void AudioEffect::setOfflineQualities(int32_t qualities) {
  effectRecord.offQualities = qualities;
}
void AudioEffect::setInitialDelay(int32_t samples) {
  effectRecord.initialDelay = samples;
}

float AudioEffect::getSampleRate() { return sampleRate.load(); }
int32_t AudioEffect::getBlockSize() { return blockSize.load(); }

int32_t AudioEffect::getMasterVersion() {
  const auto version = static_cast<int32_t>(
      callHost(HostOpcode::kVersion, 0, 0, nullptr, 0.0f, 1));
  return version == 0 ? 1 : version;
}

int32_t AudioEffect::getCurrentUniqueId() {
  return static_cast<int32_t>(
      callHost(HostOpcode::kCurrentId, 0, 0, nullptr, 0.0f, 0));
}

void AudioEffect::masterIdle() {
  callHost(HostOpcode::kIdle, 0, 0, nullptr, 0.0f, 0);
}

// The host answers 0 for a connected pin; value 0 asks about an input.
bool AudioEffect::isInputConnected(int32_t input) {
  return callHost(HostOpcode::kPinConnected, input, 0, nullptr, 0.0f, 0) == 0;
}

// Value 1 asks about an output.
bool AudioEffect::isOutputConnected(int32_t output) {
  return callHost(HostOpcode::kPinConnected, output, 1, nullptr, 0.0f, 0) == 0;
}

intptr_t AudioEffect::callHost(int32_t opcode, int32_t index, intptr_t value,
                               void* ptr, float opt, intptr_t fallback) {
  if (hostCallback == nullptr) return fallback;
  return hostCallback(&effectRecord, opcode, index, value, ptr, opt);
}

void AudioEffect::setFlag(int32_t bit, bool state) {
  if (state) {
    effectRecord.flags |= bit;
  } else {
    effectRecord.flags &= ~bit;
  }
}
