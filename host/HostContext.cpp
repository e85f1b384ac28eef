// Answers to the plug-in's calls into the host.
#include "HostContext.h"

#include <cmath>
#include <cstring>

#include "opcodes.h"

namespace korvane {

namespace {
// The transport a render plays: 4/4 from the first sample.
constexpr int32_t kBeatsPerBar = 4;
constexpr int32_t kBeatUnit = 4;
constexpr double kSecondsPerMinute = 60.0;
// The fields the record always holds.
constexpr int32_t kFilledFlags =
    TimeFlag::kTransportPlaying | TimeFlag::kQuarterNotesValid |
    TimeFlag::kTempoValid | TimeFlag::kBarStartValid |
    TimeFlag::kTimeSignatureValid;
}  // namespace

HostContext::HostContext(std::optional<double> tempo)
    : hasTempo_(tempo.has_value()) {
  time_.tempo = tempo.value_or(0.0);
  time_.sampleRate = sampleRate_;
  time_.timeSignatureNumerator = kBeatsPerBar;
  time_.timeSignatureDenominator = kBeatUnit;
  setPosition(0);
}

void HostContext::setStream(double sampleRate, int32_t blockSize) {
  sampleRate_ = sampleRate;
  blockSize_ = blockSize;
  time_.sampleRate = sampleRate;
  setPosition(0);
}

void HostContext::setPosition(int64_t samples) {
  const double position = static_cast<double>(samples);
  const double quarterNotes =
      position / sampleRate_ * time_.tempo / kSecondsPerMinute;
  time_.samplePosition = position;
  time_.quarterNotePosition = quarterNotes;
  time_.barStartPosition =
      std::floor(quarterNotes / kBeatsPerBar) * kBeatsPerBar;
  // Playback starts with the first block.
  time_.flags = kFilledFlags | (samples == 0 ? TimeFlag::kTransportChanged : 0);
}

const VstTimeInfo* HostContext::timeInfo() const {
  return hasTempo_ ? &time_ : nullptr;
}

// Called from the plug-in on whatever thread it runs on, the audio path
// included: it reads the context and allocates nothing.
intptr_t hostCallback(AEffect* effect, int32_t opcode, int32_t /*index*/,
                      intptr_t /*value*/, void* ptr, float /*opt*/) noexcept {
  if (opcode == HostOpcode::kVersion) return kHostInterfaceVersion;
  const HostContext* context =
      effect != nullptr ? static_cast<const HostContext*>(effect->user)
                        : nullptr;
  if (context == nullptr) return 0;
  switch (opcode) {
    case HostOpcode::kGetTime:
      return reinterpret_cast<intptr_t>(context->timeInfo());
    case HostOpcode::kGetSampleRate:
      return static_cast<intptr_t>(context->sampleRate());
    case HostOpcode::kGetBlockSize:
      return context->blockSize();
    case HostOpcode::kCanDo:
      // The only capability this host offers: the time record.
      return ptr != nullptr &&
             std::strcmp(static_cast<const char*>(ptr), "sendVstTimeInfo") == 0;
    default:
      return 0;
  }
}

}  // namespace korvane
