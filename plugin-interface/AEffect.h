// The plug-in record that crosses the boundary to the host, its entry-point
// types, four-character codes, flag bits and the host records passed by
// pointer.
#pragma once

#include <cstddef>
#include <cstdint>

struct AEffect;

// Every call into the host goes through this function. With 4-byte pointers
// `value` and the answer are plain int32; 64-bit hosts widen both to a
// pointer so that pointers can travel through them.
using HostCallback = intptr_t (*)(AEffect* effect, int32_t opcode,
                                  int32_t index, intptr_t value, void* ptr,
                                  float opt);

using DispatcherProc = intptr_t (*)(AEffect* effect, int32_t opcode,
                                    int32_t index, intptr_t value, void* ptr,
                                    float opt);
using ProcessProc = void (*)(AEffect* effect, float** inputs, float** outputs,
                             int32_t sampleFrames);
using SetParameterProc = void (*)(AEffect* effect, int32_t index, float value);
using GetParameterProc = float (*)(AEffect* effect, int32_t index);

// A 32-bit integer whose most significant byte holds the first character.
constexpr int32_t fourCharCode(const char (&code)[5]) {
  return static_cast<int32_t>(
      (static_cast<uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
      (static_cast<uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
      (static_cast<uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
      static_cast<uint32_t>(static_cast<unsigned char>(code[3])));
}

constexpr int32_t kEffectMagic = fourCharCode("VstP");      // 0x56737450
constexpr int32_t kNoEffectId = fourCharCode("NoEf");       // 0x4E6F4566
constexpr int32_t kNoEffectVersion = fourCharCode("NvEf");  // 0x4E764566

// Bits of AEffect::flags. Bit 0 is never set by this layer.
namespace EffectFlag {
constexpr int32_t kHasClip = 0x2;
constexpr int32_t kHasVu = 0x4;
constexpr int32_t kCanMono = 0x8;
constexpr int32_t kCanReplacing = 0x10;
constexpr int32_t kProgramChunks = 0x20;
constexpr int32_t kIsSynth = 0x100;
constexpr int32_t kNoSoundInStop = 0x200;  // set by noTail()
constexpr int32_t kExtIsAsync = 0x400;     // set by wantAsyncOperation()
constexpr int32_t kExtHasBuffer = 0x800;   // set by hasExternalBuffer()
}  // namespace EffectFlag

// Byte size of the record: 144 with 4-byte pointers, 192 with 8-byte ones.
constexpr std::size_t kEffectRecordSize = sizeof(void*) == 4 ? 144 : 192;

struct AEffect {
  int32_t magic;
  DispatcherProc dispatcher;
  ProcessProc process;
  SetParameterProc setParameter;
  GetParameterProc getParameter;
  int32_t numPrograms;
  int32_t numParams;
  int32_t numInputs;
  int32_t numOutputs;
  int32_t flags;
  intptr_t resvd1;
  intptr_t resvd2;
  int32_t initialDelay;
  int32_t realQualities;
  int32_t offQualities;
  float ioRatio;
  void* object;
  void* user;
  int32_t uniqueID;
  int32_t version;
  ProcessProc processReplacing;
  char future[sizeof(void*) == 4 ? 60 : 64];
};

static_assert(sizeof(AEffect) == kEffectRecordSize, "record size");
#if INTPTR_MAX == INT32_MAX
static_assert(
    offsetof(AEffect, dispatcher) == 4 && offsetof(AEffect, process) == 8 &&
        offsetof(AEffect, setParameter) == 12 &&
        offsetof(AEffect, getParameter) == 16 &&
        offsetof(AEffect, numPrograms) == 20 &&
        offsetof(AEffect, numParams) == 24 &&
        offsetof(AEffect, numInputs) == 28 &&
        offsetof(AEffect, numOutputs) == 32 && offsetof(AEffect, flags) == 36 &&
        offsetof(AEffect, resvd1) == 40 && offsetof(AEffect, resvd2) == 44 &&
        offsetof(AEffect, initialDelay) == 48 &&
        offsetof(AEffect, realQualities) == 52 &&
        offsetof(AEffect, offQualities) == 56 &&
        offsetof(AEffect, ioRatio) == 60 && offsetof(AEffect, object) == 64 &&
        offsetof(AEffect, user) == 68 && offsetof(AEffect, uniqueID) == 72 &&
        offsetof(AEffect, version) == 76 &&
        offsetof(AEffect, processReplacing) == 80 &&
        offsetof(AEffect, future) == 84,
    "record layout with 4-byte pointers");
#else
static_assert(
    offsetof(AEffect, dispatcher) == 8 && offsetof(AEffect, process) == 16 &&
        offsetof(AEffect, setParameter) == 24 &&
        offsetof(AEffect, getParameter) == 32 &&
        offsetof(AEffect, numPrograms) == 40 &&
        offsetof(AEffect, numParams) == 44 &&
        offsetof(AEffect, numInputs) == 48 &&
        offsetof(AEffect, numOutputs) == 52 && offsetof(AEffect, flags) == 56 &&
        offsetof(AEffect, resvd1) == 64 && offsetof(AEffect, resvd2) == 72 &&
        offsetof(AEffect, initialDelay) == 80 &&
        offsetof(AEffect, realQualities) == 84 &&
        offsetof(AEffect, offQualities) == 88 &&
        offsetof(AEffect, ioRatio) == 92 && offsetof(AEffect, object) == 96 &&
        offsetof(AEffect, user) == 104 && offsetof(AEffect, uniqueID) == 112 &&
        offsetof(AEffect, version) == 116 &&
        offsetof(AEffect, processReplacing) == 120 &&
        offsetof(AEffect, future) == 128,
    "record layout with 8-byte pointers");
#endif

// Host records that this layer passes through by pointer without reading.
struct VstEvents;
struct VstAudioFile;
struct VstOfflineTask;
struct VstWindow;
struct VstFileSelect;
struct VstPinProperties;
struct VstVariableIo;
struct VstParameterProperties;
struct VstPatchChunkInfo;
struct MidiProgramName;
struct MidiProgramCategory;
struct MidiKeyName;
using VstOfflineOption = int32_t;  // an enumeration passed by value

// One speaker of an arrangement: 112 bytes.
struct VstSpeakerProperties {
  uint32_t values[4];
  char name[64];
  int32_t type;
  char reserved[28];
};
static_assert(sizeof(VstSpeakerProperties) == 112, "speaker entry size");

// An arrangement is this 8-byte head followed by one VstSpeakerProperties
// entry per channel; speakerAt() reaches entry i.
struct VstSpeakerArrangement {
  int32_t type;
  int32_t numChannels;
};
constexpr std::size_t kSpeakerArrangementHead = 8;
static_assert(sizeof(VstSpeakerArrangement) == kSpeakerArrangementHead,
              "arrangement head size");

inline std::size_t speakerArrangementBytes(int32_t channels) {
  return kSpeakerArrangementHead +
         sizeof(VstSpeakerProperties) * static_cast<std::size_t>(channels);
}

inline VstSpeakerProperties* speakerAt(VstSpeakerArrangement* arrangement,
                                       int32_t i) {
  return reinterpret_cast<VstSpeakerProperties*>(
      reinterpret_cast<char*>(arrangement) + speakerArrangementBytes(i));
}
