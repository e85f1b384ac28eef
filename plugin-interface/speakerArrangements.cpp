// Speaker arrangements of the extended effect class: building, releasing,
// copying and matching the variable-length records a slot owns.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "audioeffectx.h"

namespace {

// The most channels whose arrangement size still fits a size_t.
constexpr std::size_t kMaxChannels =
    (SIZE_MAX - kSpeakerArrangementHead) / sizeof(VstSpeakerProperties);

// Arrangements built here are plain byte arrays and are released as such.
void release(VstSpeakerArrangement* arrangement) {
  delete[] reinterpret_cast<char*>(arrangement);
}

}  // namespace

// Any thread except the audio thread: allocates. On failure the slot is left
// null and the answer is false; a negative or oversized channel count fails
// the same way.
bool AudioEffectX::allocateArrangement(VstSpeakerArrangement** arrangement,
                                       int32_t channels) {
  if (arrangement == nullptr) return false;
  if (*arrangement != nullptr) {
    release(*arrangement);
    *arrangement = nullptr;
  }
  if (channels < 0 || static_cast<uint64_t>(channels) > kMaxChannels) {
    return false;
  }
  const std::size_t bytes = speakerArrangementBytes(channels);
  char* block = new (std::nothrow) char[bytes];
  if (block == nullptr) return false;
  std::memset(block, 0, bytes);
  auto* built = reinterpret_cast<VstSpeakerArrangement*>(block);
  built->numChannels = channels;
  *arrangement = built;
  return true;
}

bool AudioEffectX::deallocateArrangement(VstSpeakerArrangement** arrangement) {
  if (arrangement != nullptr && *arrangement != nullptr) {
    release(*arrangement);
    *arrangement = nullptr;
  }
  return true;
}

// The name is copied as a terminated string that never leaves its field,
// even when the source's name has no terminator inside it.
bool AudioEffectX::copySpeaker(VstSpeakerProperties* to,
                               VstSpeakerProperties* from) {
  if (to == nullptr || from == nullptr) return false;
  if (to == from) return true;
  const auto* terminator = static_cast<const char*>(
      std::memchr(from->name, '\0', sizeof from->name - 1));
  const std::size_t nameLength =
      terminator != nullptr ? static_cast<std::size_t>(terminator - from->name)
                            : sizeof from->name - 1;
  std::memcpy(to->name, from->name, nameLength);
  to->name[nameLength] = '\0';
  to->type = from->type;
  std::memcpy(to->values, from->values, sizeof to->values);
  std::memcpy(to->reserved, from->reserved, sizeof to->reserved);
  return true;
}

// Replaces the slot's arrangement with a copy of the source. A source that is
// the slot's own arrangement already matches and is left alone (releasing it
// first would read freed memory).
bool AudioEffectX::matchArrangement(VstSpeakerArrangement** to,
                                    VstSpeakerArrangement* from) {
  if (from == nullptr) return false;
  if (to != nullptr && *to == from) return true;
  if (!deallocateArrangement(to)) return false;
  if (!allocateArrangement(to, from->numChannels)) return false;
  (*to)->type = from->type;
  for (int32_t i = 0; i < (*to)->numChannels; ++i) {
    if (!copySpeaker(speakerAt(*to, i), speakerAt(from, i))) return false;
  }
  return true;
}
