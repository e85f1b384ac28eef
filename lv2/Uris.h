// The URIDs the binding reads in atoms and state, mapped once per instance.
#pragma once

#include <lv2/urid/urid.h>

namespace lv2face {

struct Uris {
  LV2_URID atomSequence = 0;
  LV2_URID atomObject = 0;
  LV2_URID atomBlank = 0;
  LV2_URID atomFrameTime = 0;
  LV2_URID atomFloat = 0;
  LV2_URID atomDouble = 0;
  LV2_URID atomInt = 0;
  LV2_URID atomLong = 0;
  LV2_URID atomUrid = 0;
  LV2_URID timePosition = 0;
  LV2_URID timeBeatsPerMinute = 0;
  LV2_URID patchSet = 0;
  LV2_URID patchProperty = 0;
  LV2_URID patchValue = 0;
  LV2_URID seed = 0;

  // host's main thread, at instantiation. Without a map every URID stays 0,
  // and the binding reads no atom: the control port is then ignored.
  void map(const LV2_URID_Map* map);
  bool mapped() const { return atomSequence != 0; }
};

}  // namespace lv2face
