// Answers to the plug-in's calls into the host.
#include "HostCallback.h"

#include <cstring>

#include "opcodes.h"

namespace korvane {

HostContext::HostContext(std::optional<double> tempo)
    : hasTempo_(tempo.has_value()) {
  if (hasTempo_) {
    std::memcpy(timeInfo_ + kTimeInfoTempoOffset, &*tempo, sizeof(double));
  }
}

void HostContext::setStream(double sampleRate, int32_t blockSize) {
  sampleRate_ = sampleRate;
  blockSize_ = blockSize;
}

const VstTimeInfo* HostContext::timeInfo() const {
  return hasTempo_ ? reinterpret_cast<const VstTimeInfo*>(timeInfo_) : nullptr;
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
