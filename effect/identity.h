// What the effect tells the host about itself.
#pragma once

#include <cstdint>

#include "AEffect.h"

namespace identity {
constexpr int32_t kUniqueId = fourCharCode("GmSt");  // 0x476D5374
constexpr const char* kEffectName = "korvane";
constexpr const char* kProductString = "korvane";
constexpr const char* kVendorString = "zvk";
constexpr int32_t kVendorVersion = 1000;
constexpr int32_t kCategoryEffect = 1;
constexpr const char* kDefaultProgramName = "Default";
constexpr const char* kOnlyCapability = "receiveVstTimeInfo";
constexpr int32_t kCanDoYes = 1;
constexpr int32_t kCanDoNo = -1;
}  // namespace identity
