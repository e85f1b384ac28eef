// The host's side of the callback: the session the tool describes to a
// plug-in (tempo, rate, block size, position) and the callback that answers
// its requests from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "AEffect.h"
#include "Defaults.h"
#include "timeRecord.h"

namespace korvane {

// The interface version this host reports on the version query.
constexpr intptr_t kHostInterfaceVersion = 2400;

// What the callback knows about the session. The host stores its address in
// the record's `user` field, which belongs to the host.
class HostContext {
 public:
  // nullopt: the host gives no time information.
  explicit HostContext(std::optional<double> tempo);

  // host's main thread during open/close
  void setStream(double sampleRate, int32_t blockSize);
  double sampleRate() const { return sampleRate_; }
  int32_t blockSize() const { return blockSize_; }

  // audio thread, between processing calls: the transport plays from the
  // start, and the next block begins `samples` into it.
  void setPosition(int64_t samples);

  // any thread: the time record, or null when there is no tempo to give.
  const VstTimeInfo* timeInfo() const;

 private:
  VstTimeInfo time_ = {};
  bool hasTempo_;
  double sampleRate_ = defaults::kInfoRate;
  int32_t blockSize_ = defaults::kBlockSize;
};

// The callback handed to `main`. It accepts a null record (the version query
// in `main` comes before there is one) and never throws.
intptr_t hostCallback(AEffect* effect, int32_t opcode, int32_t index,
                      intptr_t value, void* ptr, float opt) noexcept;

}  // namespace korvane
