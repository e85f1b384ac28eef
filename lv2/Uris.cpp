// Maps the URIs the binding uses, from one table.
#include "Uris.h"

#include <lv2/atom/atom.h>
#include <lv2/patch/patch.h>
#include <lv2/time/time.h>

#include "portLayout.h"

namespace lv2face {
namespace {
struct Entry {
  LV2_URID Uris::*urid;
  const char* uri;
};
constexpr Entry kEntries[] = {
    {&Uris::atomSequence, LV2_ATOM__Sequence},
    {&Uris::atomObject, LV2_ATOM__Object},
    {&Uris::atomBlank, LV2_ATOM__Blank},
    {&Uris::atomFrameTime, LV2_ATOM__frameTime},
    {&Uris::atomFloat, LV2_ATOM__Float},
    {&Uris::atomDouble, LV2_ATOM__Double},
    {&Uris::atomInt, LV2_ATOM__Int},
    {&Uris::atomLong, LV2_ATOM__Long},
    {&Uris::atomUrid, LV2_ATOM__URID},
    {&Uris::timePosition, LV2_TIME__Position},
    {&Uris::timeBeatsPerMinute, LV2_TIME__beatsPerMinute},
    {&Uris::patchSet, LV2_PATCH__Set},
    {&Uris::patchProperty, LV2_PATCH__property},
    {&Uris::patchValue, LV2_PATCH__value},
    {&Uris::seed, kSeedUri},
};
}  // namespace

void Uris::map(const LV2_URID_Map* map) {
  if (map == nullptr || map->map == nullptr) return;
  for (const Entry& entry : kEntries) {
    this->*entry.urid = map->map(map->handle, entry.uri);
  }
}

}  // namespace lv2face
