// The extended effect class: the extended dispatcher opcodes
// (EffectOpcode::kProcessEvents to kBeginLoadProgram), the default answers of
// the operations they reach, and the host wrappers of the host callback's
// opcodes from HostOpcode::kWantEvents to kGetInputSpeakerArrangement.
#include "audioeffectx.h"

#include <cmath>

#include "opcodes.h"

namespace {

// Plug-in categories reported by the default getPlugCategory().
constexpr int32_t kCategoryUnknown = 0;
constexpr int32_t kCategorySynth = 2;
// The interface version this layer speaks, reported through kGetVstVersion.
constexpr int32_t kInterfaceVersion = 2300;
// The default of getCurrentMidiProgram(): no MIDI program.
constexpr int32_t kNoMidiProgram = -1;

// A bool answer as the dispatcher hands it to the host.
intptr_t answer(bool state) { return state ? 1 : 0; }

intptr_t addressAnswer(const void* pointer) {
  return reinterpret_cast<intptr_t>(pointer);
}

// The key record of kEditorKeyDown and kEditorKeyUp. The modifier is the
// option truncated toward zero to a 16-bit integer, of which the low 8 bits
// count; taking the truncated value modulo 256 gives those bits for any
// finite option without an out-of-range conversion, and a NaN or infinite
// option gives 0.
EditorKeyCode keyCodeOf(int32_t index, intptr_t value, float opt) {
  constexpr double kModifierRange = 256.0;
  EditorKeyCode key{};
  key.character = index;
  key.virtualKey = static_cast<uint8_t>(value & 0xFF);
  if (std::isfinite(opt)) {
    double modifier =
        std::fmod(std::trunc(static_cast<double>(opt)), kModifierRange);
    if (modifier < 0.0) modifier += kModifierRange;
    key.modifier = static_cast<uint8_t>(modifier);
  }
  return key;
}

}  // namespace

AudioEffectX::AudioEffectX(HostCallback callback, int32_t programCount,
                           int32_t parameterCount)
    : AudioEffect(callback, programCount, parameterCount) {}

AudioEffectX::~AudioEffectX() = default;

// Any host thread. kProcessEvents to kBeginLoadProgram are answered here,
// one operation each; every other opcode goes to the base dispatcher
// unchanged.
intptr_t AudioEffectX::dispatcher(int32_t opcode, int32_t index, intptr_t value,
                                  void* ptr, float opt) {
  using namespace EffectOpcode;
  char* text = static_cast<char*>(ptr);
  const auto number = static_cast<int32_t>(value);
  const bool flag = value != 0;
  switch (opcode) {
    case kProcessEvents:
      return processEvents(static_cast<VstEvents*>(ptr));
    case kCanBeAutomated:
      return answer(canParameterBeAutomated(index));
    case kString2Parameter:
      return answer(string2parameter(index, text));
    case kGetNumCategories:
      return getNumCategories();
    case kGetProgramNameIndexed:
      return answer(getProgramNameIndexed(number, index, text));
    case kCopyProgram:
      return answer(copyProgram(index));
    case kInputConnected:
      inputConnected(index, flag);
      return 1;
    case kOutputConnected:
      outputConnected(index, flag);
      return 1;
    case kGetInputProperties:
      return answer(
          getInputProperties(index, static_cast<VstPinProperties*>(ptr)));
    case kGetOutputProperties:
      return answer(
          getOutputProperties(index, static_cast<VstPinProperties*>(ptr)));
    case kGetPlugCategory:
      return getPlugCategory();
    case kReportCurrentPosition:
      return reportCurrentPosition();
    case kReportDestinationBuffer:
      return addressAnswer(reportDestinationBuffer());
    case kOfflineNotify:
      return answer(
          offlineNotify(static_cast<VstAudioFile*>(ptr), number, index != 0));
    case kOfflinePrepare:
      return answer(offlinePrepare(static_cast<VstOfflineTask*>(ptr), number));
    case kOfflineRun:
      return answer(offlineRun(static_cast<VstOfflineTask*>(ptr), number));
    case kProcessVariableIo:
      return answer(processVariableIo(static_cast<VstVariableIo*>(ptr)));
    case kSetSpeakerArrangement:
      return answer(
          setSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement*>(value),
                                static_cast<VstSpeakerArrangement*>(ptr)));
    case kSetBlockSizeAndSampleRate:
      setBlockSizeAndSampleRate(number, opt);
      return 1;
    case kSetBypass:
      return answer(setBypass(flag));
    case kGetEffectName:
      return answer(getEffectName(text));
    case kGetErrorText:
      return answer(getErrorText(text));
    case kGetVendorString:
      return answer(getVendorString(text));
    case kGetProductString:
      return answer(getProductString(text));
    case kGetVendorVersion:
      return getVendorVersion();
    case kVendorSpecific:
      return vendorSpecific(index, value, ptr, opt);
    case kCanDo:
      return canDo(text);
    case kGetTailSize:
      return getGetTailSize();
    case kIdle:
      return fxIdle();
    case kGetIcon:
      return addressAnswer(getIcon());
    case kSetViewPosition:
      return answer(setViewPosition(index, number));
    case kGetParameterProperties:
      return answer(getParameterProperties(
          index, static_cast<VstParameterProperties*>(ptr)));
    case kKeysRequired:
      // The host asks the opposite question: 1 means "keys not needed".
      return answer(!keysRequired());
    case kGetVstVersion:
      return getVstVersion();
    case kEditorKeyDown:
    case kEditorKeyUp: {
      if (editor == nullptr) return 0;
      EditorKeyCode key = keyCodeOf(index, value, opt);
      return opcode == kEditorKeyDown ? editor->keyDown(key)
                                      : editor->keyUp(key);
    }
    case kEditorKnobMode:
      return editor != nullptr ? editor->knobMode(number) : 0;
    case kGetMidiProgramName:
      return getMidiProgramName(index, static_cast<MidiProgramName*>(ptr));
    case kGetCurrentMidiProgram:
      return getCurrentMidiProgram(index, static_cast<MidiProgramName*>(ptr));
    case kGetMidiProgramCategory:
      return getMidiProgramCategory(index,
                                    static_cast<MidiProgramCategory*>(ptr));
    case kHasMidiProgramsChanged:
      return answer(hasMidiProgramsChanged(index));
    case kGetMidiKeyName:
      return answer(getMidiKeyName(index, static_cast<MidiKeyName*>(ptr)));
    case kBeginSetProgram:
      return answer(beginSetProgram());
    case kEndSetProgram:
      return answer(endSetProgram());
    case kGetSpeakerArrangement:
      return answer(getSpeakerArrangement(
          reinterpret_cast<VstSpeakerArrangement**>(value),
          static_cast<VstSpeakerArrangement**>(ptr)));
    case kGetNextShellPlugin:
      return getNextShellPlugin(text);
    case kStartProcess:
      return startProcess();
    case kStopProcess:
      return stopProcess();
    case kSetTotalSampleToProcess:
      return setTotalSampleToProcess(number);
    case kSetPanLaw:
      return answer(setPanLaw(number, opt));
    case kBeginLoadBank:
      return beginLoadBank(static_cast<VstPatchChunkInfo*>(ptr));
    case kBeginLoadProgram:
      return beginLoadProgram(static_cast<VstPatchChunkInfo*>(ptr));
    default:
      return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
  }
}

// Defaults of the operations the extended opcodes reach.

EffectEditor* AudioEffectX::getEditor() { return editor; }
int32_t AudioEffectX::processEvents(VstEvents* /*events*/) { return 0; }
bool AudioEffectX::canParameterBeAutomated(int32_t /*index*/) { return true; }
bool AudioEffectX::string2parameter(int32_t /*index*/, char* /*text*/) {
  return false;
}
float AudioEffectX::getChannelParameter(int32_t /*channel*/,
                                        int32_t /*index*/) {
  return 0.0f;
}
int32_t AudioEffectX::getNumCategories() { return 1; }
bool AudioEffectX::getProgramNameIndexed(int32_t /*category*/,
                                         int32_t /*index*/, char* /*text*/) {
  return false;
}
bool AudioEffectX::copyProgram(int32_t /*destination*/) { return false; }
void AudioEffectX::inputConnected(int32_t /*index*/, bool /*state*/) {}
void AudioEffectX::outputConnected(int32_t /*index*/, bool /*state*/) {}
bool AudioEffectX::getInputProperties(int32_t /*index*/,
                                      VstPinProperties* /*properties*/) {
  return false;
}
bool AudioEffectX::getOutputProperties(int32_t /*index*/,
                                       VstPinProperties* /*properties*/) {
  return false;
}
int32_t AudioEffectX::getPlugCategory() {
  return (effectRecord.flags & EffectFlag::kIsSynth) != 0 ? kCategorySynth
                                                          : kCategoryUnknown;
}
int32_t AudioEffectX::reportCurrentPosition() { return 0; }
float* AudioEffectX::reportDestinationBuffer() { return nullptr; }
bool AudioEffectX::offlineNotify(VstAudioFile* /*audioFiles*/,
                                 int32_t /*numAudioFiles*/, bool /*start*/) {
  return false;
}
bool AudioEffectX::offlinePrepare(VstOfflineTask* /*offline*/,
                                  int32_t /*count*/) {
  return false;
}
bool AudioEffectX::offlineRun(VstOfflineTask* /*offline*/, int32_t /*count*/) {
  return false;
}
int32_t AudioEffectX::offlineGetNumPasses() { return 0; }
int32_t AudioEffectX::offlineGetNumMetaPasses() { return 0; }
bool AudioEffectX::processVariableIo(VstVariableIo* /*variableIo*/) {
  return false;
}
bool AudioEffectX::setSpeakerArrangement(VstSpeakerArrangement* /*inputs*/,
                                         VstSpeakerArrangement* /*outputs*/) {
  return false;
}
// Writes directly, so overrides of setSampleRate/setBlockSize see nothing.
void AudioEffectX::setBlockSizeAndSampleRate(int32_t size, float rate) {
  blockSize.store(size);
  sampleRate.store(rate);
}
bool AudioEffectX::setBypass(bool /*state*/) { return false; }
bool AudioEffectX::getEffectName(char* /*name*/) { return false; }
bool AudioEffectX::getErrorText(char* /*text*/) { return false; }
bool AudioEffectX::getVendorString(char* /*text*/) { return false; }
bool AudioEffectX::getProductString(char* /*text*/) { return false; }
int32_t AudioEffectX::getVendorVersion() { return 0; }
intptr_t AudioEffectX::vendorSpecific(int32_t /*index*/, intptr_t /*value*/,
                                      void* /*ptr*/, float /*opt*/) {
  return 0;
}
int32_t AudioEffectX::canDo(char* /*text*/) { return 0; }
void* AudioEffectX::getIcon() { return nullptr; }
bool AudioEffectX::setViewPosition(int32_t /*x*/, int32_t /*y*/) {
  return false;
}
int32_t AudioEffectX::getGetTailSize() { return 0; }
int32_t AudioEffectX::fxIdle() { return 0; }
bool AudioEffectX::getParameterProperties(
    int32_t /*index*/, VstParameterProperties* /*properties*/) {
  return false;
}
bool AudioEffectX::keysRequired() { return false; }
int32_t AudioEffectX::getVstVersion() { return kInterfaceVersion; }
int32_t AudioEffectX::getMidiProgramName(int32_t /*channel*/,
                                         MidiProgramName* /*programName*/) {
  return 0;
}
int32_t AudioEffectX::getCurrentMidiProgram(
    int32_t /*channel*/, MidiProgramName* /*currentProgram*/) {
  return kNoMidiProgram;
}
int32_t AudioEffectX::getMidiProgramCategory(
    int32_t /*channel*/, MidiProgramCategory* /*category*/) {
  return 0;
}
bool AudioEffectX::hasMidiProgramsChanged(int32_t /*channel*/) { return false; }
bool AudioEffectX::getMidiKeyName(int32_t /*channel*/,
                                  MidiKeyName* /*keyName*/) {
  return false;
}
bool AudioEffectX::beginSetProgram() { return false; }
bool AudioEffectX::endSetProgram() { return false; }
// Clears only the slots the host supplied.
bool AudioEffectX::getSpeakerArrangement(VstSpeakerArrangement** inputs,
                                         VstSpeakerArrangement** outputs) {
  if (inputs != nullptr) *inputs = nullptr;
  if (outputs != nullptr) *outputs = nullptr;
  return false;
}
int32_t AudioEffectX::getNextShellPlugin(char* /*name*/) { return 0; }
int32_t AudioEffectX::startProcess() { return 0; }
int32_t AudioEffectX::stopProcess() { return 0; }
int32_t AudioEffectX::setTotalSampleToProcess(int32_t value) { return value; }
bool AudioEffectX::setPanLaw(int32_t /*type*/, float /*value*/) {
  return false;
}
int32_t AudioEffectX::beginLoadBank(VstPatchChunkInfo* /*info*/) { return 0; }
int32_t AudioEffectX::beginLoadProgram(VstPatchChunkInfo* /*info*/) {
  return 0;
}

// Flag setters.

void AudioEffectX::isSynth(bool state) { setFlag(EffectFlag::kIsSynth, state); }
void AudioEffectX::noTail(bool state) {
  setFlag(EffectFlag::kNoSoundInStop, state);
}
void AudioEffectX::wantAsyncOperation(bool state) {
  setFlag(EffectFlag::kExtIsAsync, state);
}
void AudioEffectX::hasExternalBuffer(bool state) {
  setFlag(EffectFlag::kExtHasBuffer, state);
}

// Host wrappers: each calls the host once on the calling thread and answers
// its fallback when there is no callback.

void AudioEffectX::wantEvents(int32_t filter) {
  callHost(HostOpcode::kWantEvents, 0, filter, nullptr, 0.0f, 0);
}

// Usually called on the audio thread, while processing. `filter` is the
// mask of the fields wanted (TimeFlag). Null means no time information;
// otherwise the record belongs to the host.
VstTimeInfo* AudioEffectX::getTimeInfo(int32_t filter) {
  return reinterpret_cast<VstTimeInfo*>(
      callHost(HostOpcode::kGetTime, 0, filter, nullptr, 0.0f, 0));
}

// Only an answer of exactly 1 means the host took the events.
bool AudioEffectX::sendVstEventsToHost(VstEvents* events) {
  return askHost(HostOpcode::kProcessEvents, events) == 1;
}

int32_t AudioEffectX::tempoAt(int32_t position) {
  return static_cast<int32_t>(
      callHost(HostOpcode::kTempoAt, 0, position, nullptr, 0.0f, 0));
}

int32_t AudioEffectX::getNumAutomatableParameters() {
  return static_cast<int32_t>(
      askHost(HostOpcode::kGetNumAutomatableParameters));
}

int32_t AudioEffectX::getParameterQuantization() {
  return static_cast<int32_t>(askHost(HostOpcode::kGetParameterQuantization));
}

bool AudioEffectX::ioChanged() { return askHost(HostOpcode::kIoChanged) != 0; }

bool AudioEffectX::needIdle() { return askHost(HostOpcode::kNeedIdle) != 0; }

bool AudioEffectX::sizeWindow(int32_t width, int32_t height) {
  return callHost(HostOpcode::kSizeWindow, width, height, nullptr, 0.0f, 0) !=
         0;
}

// Any thread; a positive answer replaces the stored rate without going
// through setSampleRate(), so an override of it does not see the change.
float AudioEffectX::updateSampleRate() {
  const intptr_t rate = askHost(HostOpcode::kGetSampleRate);
  if (rate > 0) sampleRate.store(static_cast<float>(rate));
  return sampleRate.load();
}

// Any thread; a positive answer that fits the field replaces the stored size
// without going through setBlockSize().
int32_t AudioEffectX::updateBlockSize() {
  const intptr_t size = askHost(HostOpcode::kGetBlockSize);
  if (size > 0 && size <= INT32_MAX)
    blockSize.store(static_cast<int32_t>(size));
  return blockSize.load();
}

int32_t AudioEffectX::getInputLatency() {
  return static_cast<int32_t>(askHost(HostOpcode::kGetInputLatency));
}

int32_t AudioEffectX::getOutputLatency() {
  return static_cast<int32_t>(askHost(HostOpcode::kGetOutputLatency));
}

// The pin number is not part of the request.
AEffect* AudioEffectX::getPreviousPlug(int32_t /*input*/) {
  return reinterpret_cast<AEffect*>(askHost(HostOpcode::kGetPreviousPlug));
}

AEffect* AudioEffectX::getNextPlug(int32_t /*output*/) {
  return reinterpret_cast<AEffect*>(askHost(HostOpcode::kGetNextPlug));
}

int32_t AudioEffectX::willProcessReplacing() {
  return static_cast<int32_t>(askHost(HostOpcode::kWillReplaceOrAccumulate));
}

int32_t AudioEffectX::getCurrentProcessLevel() {
  return static_cast<int32_t>(askHost(HostOpcode::kGetCurrentProcessLevel));
}

int32_t AudioEffectX::getAutomationState() {
  return static_cast<int32_t>(askHost(HostOpcode::kGetAutomationState));
}

bool AudioEffectX::offlineStart(VstAudioFile* audioFiles, int32_t numAudioFiles,
                                int32_t numNewAudioFiles) {
  return callHost(HostOpcode::kOfflineStart, numNewAudioFiles, numAudioFiles,
                  audioFiles, 0.0f, 0) != 0;
}

bool AudioEffectX::offlineRead(VstOfflineTask* offline, VstOfflineOption option,
                               bool readSource) {
  return callHost(HostOpcode::kOfflineRead, readSource ? 1 : 0, option, offline,
                  0.0f, 0) != 0;
}

bool AudioEffectX::offlineWrite(VstOfflineTask* offline,
                                VstOfflineOption option) {
  return callHost(HostOpcode::kOfflineWrite, 0, option, offline, 0.0f, 0) != 0;
}

int32_t AudioEffectX::offlineGetCurrentPass() {
  return askHost(HostOpcode::kOfflineGetCurrentPass) != 0 ? 1 : 0;
}

int32_t AudioEffectX::offlineGetCurrentMetaPass() {
  return askHost(HostOpcode::kOfflineGetCurrentMetaPass) != 0 ? 1 : 0;
}

void AudioEffectX::setOutputSamplerate(float rate) {
  callHost(HostOpcode::kSetOutputSampleRate, 0, 0, nullptr, rate, 0);
}

VstSpeakerArrangement* AudioEffectX::getOutputSpeakerArrangement() {
  return reinterpret_cast<VstSpeakerArrangement*>(
      askHost(HostOpcode::kGetOutputSpeakerArrangement));
}

VstSpeakerArrangement* AudioEffectX::getInputSpeakerArrangement() {
  return reinterpret_cast<VstSpeakerArrangement*>(
      askHost(HostOpcode::kGetInputSpeakerArrangement));
}

// The host writes into the buffer, so a null one is never handed over.
bool AudioEffectX::getHostVendorString(char* text) {
  if (text == nullptr) return false;
  return askHost(HostOpcode::kGetVendorString, text) != 0;
}

bool AudioEffectX::getHostProductString(char* text) {
  if (text == nullptr) return false;
  return askHost(HostOpcode::kGetProductString, text) != 0;
}

int32_t AudioEffectX::getHostVendorVersion() {
  return static_cast<int32_t>(askHost(HostOpcode::kGetVendorVersion));
}

intptr_t AudioEffectX::hostVendorSpecific(int32_t index, intptr_t value,
                                          void* ptr, float opt) {
  return callHost(HostOpcode::kVendorSpecific, index, value, ptr, opt, 0);
}

// The host reads the word, so a null one is never handed over.
bool AudioEffectX::canHostDo(char* text) {
  if (text == nullptr) return false;
  return askHost(HostOpcode::kCanDo, text) != 0;
}

int32_t AudioEffectX::getHostLanguage() {
  return static_cast<int32_t>(askHost(HostOpcode::kGetLanguage));
}

void* AudioEffectX::openWindow(VstWindow* window) {
  return reinterpret_cast<void*>(askHost(HostOpcode::kOpenWindow, window));
}

bool AudioEffectX::closeWindow(VstWindow* window) {
  return askHost(HostOpcode::kCloseWindow, window) != 0;
}

void* AudioEffectX::getDirectory() {
  return reinterpret_cast<void*>(askHost(HostOpcode::kGetDirectory));
}

bool AudioEffectX::updateDisplay() {
  return askHost(HostOpcode::kUpdateDisplay) != 0;
}

bool AudioEffectX::beginEdit(int32_t index) {
  return callHost(HostOpcode::kBeginEdit, index, 0, nullptr, 0.0f, 0) != 0;
}

bool AudioEffectX::endEdit(int32_t index) {
  return callHost(HostOpcode::kEndEdit, index, 0, nullptr, 0.0f, 0) != 0;
}

bool AudioEffectX::openFileSelector(VstFileSelect* selector) {
  if (selector == nullptr) return false;
  return askHost(HostOpcode::kOpenFileSelector, selector) != 0;
}

bool AudioEffectX::closeFileSelector(VstFileSelect* selector) {
  if (selector == nullptr) return false;
  return askHost(HostOpcode::kCloseFileSelector, selector) != 0;
}

bool AudioEffectX::getChunkFile(void* nativePath) {
  if (nativePath == nullptr) return false;
  return askHost(HostOpcode::kGetChunkFile, nativePath) != 0;
}
