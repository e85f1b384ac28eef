// The host's time and transport record, which a plug-in asks for with the
// time request (HostOpcode::kGetTime) and a mask of the fields it wants: 88
// bytes, the same with 4-byte and 8-byte pointers. It belongs to the host.
#pragma once

#include <cstddef>
#include <cstdint>

struct VstTimeInfo {
  double samplePosition;  // samples since playback started
  double sampleRate;
  double systemTimeNanoseconds;
  double quarterNotePosition;  // musical position
  double tempo;                // beats per minute
  double barStartPosition;     // in quarter notes
  double cycleStartPosition;   // in quarter notes
  double cycleEndPosition;
  int32_t timeSignatureNumerator;
  int32_t timeSignatureDenominator;
  int32_t smpteOffset;
  int32_t smpteFrameRate;
  int32_t samplesToNextClock;
  int32_t flags;
};

static_assert(sizeof(VstTimeInfo) == 88, "time record size");
static_assert(offsetof(VstTimeInfo, samplePosition) == 0 &&
                  offsetof(VstTimeInfo, sampleRate) == 8 &&
                  offsetof(VstTimeInfo, systemTimeNanoseconds) == 16 &&
                  offsetof(VstTimeInfo, quarterNotePosition) == 24 &&
                  offsetof(VstTimeInfo, tempo) == 32 &&
                  offsetof(VstTimeInfo, barStartPosition) == 40 &&
                  offsetof(VstTimeInfo, cycleStartPosition) == 48 &&
                  offsetof(VstTimeInfo, cycleEndPosition) == 56 &&
                  offsetof(VstTimeInfo, timeSignatureNumerator) == 64 &&
                  offsetof(VstTimeInfo, timeSignatureDenominator) == 68 &&
                  offsetof(VstTimeInfo, smpteOffset) == 72 &&
                  offsetof(VstTimeInfo, smpteFrameRate) == 76 &&
                  offsetof(VstTimeInfo, samplesToNextClock) == 80 &&
                  offsetof(VstTimeInfo, flags) == 84,
              "time record layout");

// Bits of VstTimeInfo::flags; the valid bits are also the request mask.
namespace TimeFlag {
constexpr int32_t kTransportChanged = 1;
constexpr int32_t kTransportPlaying = 2;
constexpr int32_t kCycleActive = 4;
constexpr int32_t kRecording = 8;
constexpr int32_t kAutomationWriting = 64;
constexpr int32_t kAutomationReading = 128;
constexpr int32_t kSystemTimeValid = 256;
constexpr int32_t kQuarterNotesValid = 512;
constexpr int32_t kTempoValid = 1024;
constexpr int32_t kBarStartValid = 2048;
constexpr int32_t kCyclePositionsValid = 4096;
constexpr int32_t kTimeSignatureValid = 8192;
constexpr int32_t kSmpteValid = 16384;
constexpr int32_t kClockValid = 32768;
}  // namespace TimeFlag
