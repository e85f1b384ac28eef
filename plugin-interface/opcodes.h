// Opcode numbers of the two directions of the interface: the host's calls
// into the effect's dispatcher, and the effect's calls into the host callback.
#pragma once

#include <cstdint>

// Dispatcher opcodes, named after the operation each one reaches.
namespace EffectOpcode {
// 0 to 24: the base dispatcher.
constexpr int32_t kOpen = 0;
constexpr int32_t kClose = 1;
constexpr int32_t kSetProgram = 2;
constexpr int32_t kGetProgram = 3;
constexpr int32_t kSetProgramName = 4;
constexpr int32_t kGetProgramName = 5;
constexpr int32_t kGetParameterLabel = 6;
constexpr int32_t kGetParameterDisplay = 7;
constexpr int32_t kGetParameterName = 8;
constexpr int32_t kGetVu = 9;
constexpr int32_t kSetSampleRate = 10;
constexpr int32_t kSetBlockSize = 11;
constexpr int32_t kSuspendResume = 12;
constexpr int32_t kEditorGetRect = 13;
constexpr int32_t kEditorOpen = 14;
constexpr int32_t kEditorClose = 15;
constexpr int32_t kEditorIdle = 19;
constexpr int32_t kIdentify = 22;
constexpr int32_t kGetChunk = 23;
constexpr int32_t kSetChunk = 24;
// 25 to 76: the extended dispatcher.
constexpr int32_t kFirstExtended = 25;
constexpr int32_t kProcessEvents = 25;
constexpr int32_t kCanBeAutomated = 26;
constexpr int32_t kString2Parameter = 27;
constexpr int32_t kGetNumCategories = 28;
constexpr int32_t kGetProgramNameIndexed = 29;
constexpr int32_t kCopyProgram = 30;
constexpr int32_t kInputConnected = 31;
constexpr int32_t kOutputConnected = 32;
constexpr int32_t kGetInputProperties = 33;
constexpr int32_t kGetOutputProperties = 34;
constexpr int32_t kGetPlugCategory = 35;
constexpr int32_t kReportCurrentPosition = 36;
constexpr int32_t kReportDestinationBuffer = 37;
constexpr int32_t kOfflineNotify = 38;
constexpr int32_t kOfflinePrepare = 39;
constexpr int32_t kOfflineRun = 40;
constexpr int32_t kProcessVariableIo = 41;
constexpr int32_t kSetSpeakerArrangement = 42;
constexpr int32_t kSetBlockSizeAndSampleRate = 43;
constexpr int32_t kSetBypass = 44;
constexpr int32_t kGetEffectName = 45;
constexpr int32_t kGetErrorText = 46;
constexpr int32_t kGetVendorString = 47;
constexpr int32_t kGetProductString = 48;
constexpr int32_t kGetVendorVersion = 49;
constexpr int32_t kVendorSpecific = 50;
constexpr int32_t kCanDo = 51;
constexpr int32_t kGetTailSize = 52;
constexpr int32_t kIdle = 53;
constexpr int32_t kGetIcon = 54;
constexpr int32_t kSetViewPosition = 55;
constexpr int32_t kGetParameterProperties = 56;
constexpr int32_t kKeysRequired = 57;
constexpr int32_t kGetVstVersion = 58;
constexpr int32_t kEditorKeyDown = 59;
constexpr int32_t kEditorKeyUp = 60;
constexpr int32_t kEditorKnobMode = 61;
constexpr int32_t kGetMidiProgramName = 62;
constexpr int32_t kGetCurrentMidiProgram = 63;
constexpr int32_t kGetMidiProgramCategory = 64;
constexpr int32_t kHasMidiProgramsChanged = 65;
constexpr int32_t kGetMidiKeyName = 66;
constexpr int32_t kBeginSetProgram = 67;
constexpr int32_t kEndSetProgram = 68;
constexpr int32_t kGetSpeakerArrangement = 69;
constexpr int32_t kGetNextShellPlugin = 70;
constexpr int32_t kStartProcess = 71;
constexpr int32_t kStopProcess = 72;
constexpr int32_t kSetTotalSampleToProcess = 73;
constexpr int32_t kSetPanLaw = 74;
constexpr int32_t kBeginLoadBank = 75;
constexpr int32_t kBeginLoadProgram = 76;
constexpr int32_t kLastExtended = 76;
}  // namespace EffectOpcode

// Host callback opcodes, named after the wrapper that sends each one.
namespace HostOpcode {
constexpr int32_t kAutomate = 0;
constexpr int32_t kVersion = 1;
constexpr int32_t kCurrentId = 2;
constexpr int32_t kIdle = 3;
constexpr int32_t kPinConnected = 4;
constexpr int32_t kWantEvents = 6;
constexpr int32_t kGetTime = 7;
constexpr int32_t kProcessEvents = 8;
constexpr int32_t kTempoAt = 10;
constexpr int32_t kGetNumAutomatableParameters = 11;
constexpr int32_t kGetParameterQuantization = 12;
constexpr int32_t kIoChanged = 13;
constexpr int32_t kNeedIdle = 14;
constexpr int32_t kSizeWindow = 15;
constexpr int32_t kGetSampleRate = 16;
constexpr int32_t kGetBlockSize = 17;
constexpr int32_t kGetInputLatency = 18;
constexpr int32_t kGetOutputLatency = 19;
constexpr int32_t kGetPreviousPlug = 20;
constexpr int32_t kGetNextPlug = 21;
constexpr int32_t kWillReplaceOrAccumulate = 22;
constexpr int32_t kGetCurrentProcessLevel = 23;
constexpr int32_t kGetAutomationState = 24;
constexpr int32_t kOfflineStart = 25;
constexpr int32_t kOfflineRead = 26;
constexpr int32_t kOfflineWrite = 27;
constexpr int32_t kOfflineGetCurrentPass = 28;
constexpr int32_t kOfflineGetCurrentMetaPass = 29;
constexpr int32_t kSetOutputSampleRate = 30;
constexpr int32_t kGetOutputSpeakerArrangement = 31;
constexpr int32_t kGetVendorString = 32;
constexpr int32_t kGetProductString = 33;
constexpr int32_t kGetVendorVersion = 34;
constexpr int32_t kVendorSpecific = 35;
constexpr int32_t kCanDo = 37;
constexpr int32_t kGetLanguage = 38;
constexpr int32_t kOpenWindow = 39;
constexpr int32_t kCloseWindow = 40;
constexpr int32_t kGetDirectory = 41;
constexpr int32_t kUpdateDisplay = 42;
constexpr int32_t kBeginEdit = 43;
constexpr int32_t kEndEdit = 44;
constexpr int32_t kOpenFileSelector = 45;
constexpr int32_t kCloseFileSelector = 46;
constexpr int32_t kGetChunkFile = 48;
constexpr int32_t kGetInputSpeakerArrangement = 49;
}  // namespace HostOpcode
