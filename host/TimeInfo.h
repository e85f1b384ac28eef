// The time and transport record the host hands a plug-in that asks for the
// time: 88 bytes, the same with 4-byte and 8-byte pointers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "AEffect.h"

namespace korvane {

struct TimeInfo {
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

static_assert(sizeof(TimeInfo) == 88, "time record size");
static_assert(offsetof(TimeInfo, samplePosition) == 0 &&
                  offsetof(TimeInfo, sampleRate) == 8 &&
                  offsetof(TimeInfo, systemTimeNanoseconds) == 16 &&
                  offsetof(TimeInfo, quarterNotePosition) == 24 &&
                  offsetof(TimeInfo, tempo) == kTimeInfoTempoOffset &&
                  offsetof(TimeInfo, barStartPosition) == 40 &&
                  offsetof(TimeInfo, cycleStartPosition) == 48 &&
                  offsetof(TimeInfo, cycleEndPosition) == 56 &&
                  offsetof(TimeInfo, timeSignatureNumerator) == 64 &&
                  offsetof(TimeInfo, timeSignatureDenominator) == 68 &&
                  offsetof(TimeInfo, smpteOffset) == 72 &&
                  offsetof(TimeInfo, smpteFrameRate) == 76 &&
                  offsetof(TimeInfo, samplesToNextClock) == 80 &&
                  offsetof(TimeInfo, flags) == 84,
              "time record layout");

// Bits of TimeInfo::flags.
namespace TimeFlag {
constexpr int32_t kTransportChanged = 1;
constexpr int32_t kTransportPlaying = 2;
constexpr int32_t kCycleActive = 4;
constexpr int32_t kRecording = 8;
constexpr int32_t kAutomationWriting = 64;
constexpr int32_t kAutomationReading = 128;
constexpr int32_t kSystemTimeValid = 256;
constexpr int32_t kQuarterNotesValid = 512;
constexpr int32_t kTempoValid = kTimeInfoTempoValid;  // 1024
constexpr int32_t kBarStartValid = 2048;
constexpr int32_t kCyclePositionsValid = 4096;
constexpr int32_t kTimeSignatureValid = 8192;
constexpr int32_t kSmpteValid = 16384;
constexpr int32_t kClockValid = 32768;
}  // namespace TimeFlag

}  // namespace korvane
