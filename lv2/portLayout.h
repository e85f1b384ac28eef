// The LV2 face of korvane: its URIs, the order of its ports and, for each of
// the eleven settings, how its control port carries the value. Names, ranges
// and defaults are not written here: the bundle generator reads them from the
// effect (ttlGenerator.cpp), so that they exist once.
#pragma once

#include <lv2/units/units.h>

#include <cstdint>

#include "parameterIndex.h"

namespace lv2face {
// The plug-in's URI, chosen once; hosts and sessions name korvane by it.
constexpr const char* kPluginUri = "urn:zvk:korvane";
// The seed: a parameter property that a host writes with a patch:Set message
// on the control port, and that the state interface saves and restores.
constexpr const char* kSeedUri = "urn:zvk:korvane:seed";
// The unit of "bsize", which LV2's unit vocabulary lacks.
constexpr const char* kSixteenthUri = "urn:zvk:korvane:sixteenth";

// Port indexes: the audio pairs, the settings in the effect's own order, and
// the atom input for the host's time position and the seed.
namespace Port {
enum Index : uint32_t {
  kInLeft,
  kInRight,
  kOutLeft,
  kOutRight,
  kFirstSetting,
  kControl = kFirstSetting + Param::kCount,
  kCount
};
}  // namespace Port

// The audio ports, by index.
struct AudioPort {
  const char* symbol;
  const char* name;
  bool input;
};
constexpr AudioPort kAudioPorts[Port::kFirstSetting] = {
    {"in_left", "In left", true},
    {"in_right", "In right", true},
    {"out_left", "Out left", false},
    {"out_right", "Out right", false},
};

// How a setting's control port carries its value. A port "in units" carries
// the field itself (sixteenths, semitones...), from the field at normalised 0
// to the field at normalised 1; the binding maps it back to the normalised
// value affinely, and the effect's own mapping does the rest. The other
// ports carry the normalised value: their fields are counts of samples of a
// loop that is only known while the effect runs.
struct SettingPort {
  bool inUnits;
  bool integer;
  const char* unit;  // URI of the unit, or null
};

constexpr SettingPort kSettingPorts[Param::kCount] = {
    {true, true, kSixteenthUri},             // bsize
    {true, false, nullptr},                  // rec thrsh
    {false, false, nullptr},                 // st rate
    {true, false, nullptr},                  // st jitter
    {false, false, nullptr},                 // pos
    {true, false, nullptr},                  // pos jitter
    {false, false, nullptr},                 // len
    {true, false, nullptr},                  // len jitter
    {true, true, LV2_UNITS__semitone12TET},  // tp
    {true, false, nullptr},                  // p jitter
    {true, false, nullptr},                  // env
};

// A setting port's range and default as the generator read them from the
// effect, in the port's own terms.
struct SettingRange {
  float minimum;  // the field at normalised 0
  float maximum;  // the field at normalised 1
  float initial;  // what the port says on a new instance
};
}  // namespace lv2face
