// Bounds-checked reading of the control port's events (ControlReader.h).
#include "ControlReader.h"

#include <cstddef>
#include <cstring>

namespace lv2face {
namespace {
constexpr uint64_t kAlign = 8;  // events and properties start 8-aligned

uint64_t padded(uint64_t size) { return (size + kAlign - 1) & ~(kAlign - 1); }

template <typename T>
T load(const void* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

const uint8_t* bytes(const void* at) { return static_cast<const uint8_t*>(at); }

// A value stored as T, when the atom is of `type` and has T's bytes.
template <typename T, typename Out>
bool take(const LV2_Atom* value, uint32_t size, LV2_URID type, Out& out) {
  if (load<LV2_Atom>(value).type != type || size < sizeof(T)) return false;
  out = static_cast<Out>(load<T>(value + 1));
  return true;
}
}  // namespace

ControlReader::ControlReader(const LV2_Atom_Sequence* sequence,
                             const Uris& uris)
    : uris_(uris) {
  if (sequence == nullptr || !uris.mapped()) return;
  const LV2_Atom atom = load<LV2_Atom>(&sequence->atom);
  if (atom.type != uris.atomSequence || atom.size < sizeof sequence->body) {
    return;
  }
  const LV2_Atom_Sequence_Body body =
      load<LV2_Atom_Sequence_Body>(&sequence->body);
  // A sequence stamped in beats has no frames to split the block at: its
  // messages take effect at the block's start.
  frames_ = body.unit == 0 || body.unit == uris.atomFrameTime;
  events_ = bytes(sequence + 1);
  size_ = atom.size - sizeof sequence->body;
}

bool ControlReader::next(ControlMessage& message) {
  constexpr uint64_t kHead = sizeof(LV2_Atom_Event);
  while (events_ != nullptr && offset_ + kHead <= size_) {
    const uint8_t* at = events_ + offset_;
    const LV2_Atom_Event event = load<LV2_Atom_Event>(at);
    const uint64_t total = kHead + event.body.size;
    if (total > size_ - offset_) break;  // claims more than the sequence has
    offset_ += padded(total);
    const int64_t frame = frames_ ? event.time.frames : 0;
    const auto* body =
        reinterpret_cast<const LV2_Atom*>(at + offsetof(LV2_Atom_Event, body));
    if (read(frame, body, event.body.size, message)) return true;
  }
  events_ = nullptr;
  return false;
}

// An object of type time:Position with a tempo, or a patch:Set of the seed
// with an integer value; anything else is no message.
bool ControlReader::read(int64_t frame, const LV2_Atom* body, uint32_t bodySize,
                         ControlMessage& message) const {
  const LV2_Atom head = load<LV2_Atom>(body);
  if (head.type != uris_.atomObject && head.type != uris_.atomBlank) {
    return false;
  }
  if (bodySize < sizeof(LV2_Atom_Object_Body)) return false;
  const uint8_t* object = bytes(body + 1);
  const LV2_Atom_Object_Body objectBody = load<LV2_Atom_Object_Body>(object);
  const bool position = objectBody.otype == uris_.timePosition;
  const bool set = objectBody.otype == uris_.patchSet;
  if (!position && !set) return false;

  bool tempoFound = false, seedProperty = false, seedFound = false;
  double tempo = 0.0;
  int64_t seed = 0;
  constexpr uint64_t kPropertyHead = sizeof(LV2_Atom_Property_Body);
  for (uint64_t offset = sizeof objectBody;
       offset + kPropertyHead <= bodySize;) {
    const uint8_t* at = object + offset;
    const LV2_Atom_Property_Body property = load<LV2_Atom_Property_Body>(at);
    const uint64_t total = kPropertyHead + property.value.size;
    if (total > bodySize - offset) break;
    offset += padded(total);
    const LV2_Atom* value = reinterpret_cast<const LV2_Atom*>(
        at + offsetof(LV2_Atom_Property_Body, value));
    if (position && property.key == uris_.timeBeatsPerMinute) {
      tempoFound = number(value, property.value.size, tempo);
    } else if (set && property.key == uris_.patchProperty) {
      seedProperty = property.value.type == uris_.atomUrid &&
                     property.value.size >= sizeof(LV2_URID) &&
                     load<LV2_URID>(value + 1) == uris_.seed;
    } else if (set && property.key == uris_.patchValue) {
      seedFound = integer(value, property.value.size, seed);
    }
  }
  if (tempoFound) {
    message = {ControlMessage::kTempo, frame, tempo, 0};
    return true;
  }
  if (seedProperty && seedFound) {
    message = {ControlMessage::kSeed, frame, 0.0, static_cast<uint32_t>(seed)};
    return true;
  }
  return false;
}

// A value of any of the four numeric types, when it has the bytes its type
// needs.
bool ControlReader::number(const LV2_Atom* value, uint32_t size,
                           double& out) const {
  int64_t whole = 0;
  if (integer(value, size, whole)) {
    out = static_cast<double>(whole);
    return true;
  }
  return take<float>(value, size, uris_.atomFloat, out) ||
         take<double>(value, size, uris_.atomDouble, out);
}

bool ControlReader::integer(const LV2_Atom* value, uint32_t size,
                            int64_t& out) const {
  return take<int32_t>(value, size, uris_.atomInt, out) ||
         take<int64_t>(value, size, uris_.atomLong, out);
}

}  // namespace lv2face
