// The host's side of the callback: what the tool answers a plug-in's requests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "AEffect.h"

namespace korvane {

// The interface version this host reports on the version query.
constexpr intptr_t kHostInterfaceVersion = 2400;

// What the callback knows about the session. The host stores its address in
// the record's `user` field, which belongs to the host.
class HostContext {
 public:
  // nullopt: the host gives no time information.
  explicit HostContext(std::optional<double> tempo);

  void setStream(double sampleRate, int32_t blockSize);
  double sampleRate() const { return sampleRate_; }
  int32_t blockSize() const { return blockSize_; }

  // The time record, or null when there is no tempo to give.
  const VstTimeInfo* timeInfo() const;

 private:
  // Room for a whole time record; only the tempo is filled in, the rest
  // stays zero so that a plug-in reading other fields reads nothing odd.
  static constexpr std::size_t kTimeInfoBytes = 256;
  alignas(8) unsigned char timeInfo_[kTimeInfoBytes] = {};
  bool hasTempo_;
  double sampleRate_ = 44100.0;
  int32_t blockSize_ = 512;
};

// The callback handed to `main`. It accepts a null record (the version query
// in `main` comes before there is one) and never throws.
intptr_t hostCallback(AEffect* effect, int32_t opcode, int32_t index,
                      intptr_t value, void* ptr, float opt) noexcept;

}  // namespace korvane
