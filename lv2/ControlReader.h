// Reads the messages korvane takes from its control port's atom sequence:
// the host's tempo from time positions, and the seed from patch:Set. Every
// size is checked against the bytes the sequence declares, so that an event,
// object or property that claims more than there is ends the reading or is
// skipped, and nothing outside the sequence is read.
#pragma once

#include <lv2/atom/atom.h>

#include <cstdint>

#include "Uris.h"

namespace lv2face {

struct ControlMessage {
  enum Kind { kTempo, kSeed };
  Kind kind;
  int64_t frame;  // as the event gives it; the caller limits it to the block
  double tempo;   // beats per minute, as sent (the effect judges it)
  uint32_t seed;  // the low 32 bits of the value sent
};

class ControlReader {
 public:
  // audio thread. A null sequence, one of another type, or unmapped URIDs
  // give no message.
  ControlReader(const LV2_Atom_Sequence* sequence, const Uris& uris);

  // audio thread: the next message in the sequence's order; false at its end.
  bool next(ControlMessage& message);

 private:
  bool read(int64_t frame, const LV2_Atom* body, uint32_t bodySize,
            ControlMessage& message) const;
  bool number(const LV2_Atom* value, uint32_t size, double& out) const;
  bool integer(const LV2_Atom* value, uint32_t size, int64_t& out) const;

  const Uris& uris_;
  const uint8_t* events_ = nullptr;  // the first event
  uint64_t size_ = 0;                // bytes of events
  uint64_t offset_ = 0;              // of the next event
  bool frames_ = false;              // time stamps are frames
};

}  // namespace lv2face
