// The plug-in record's byte offsets as a host of this width reads them, so a
// test can check the record the library hands over without trusting AEffect.
#pragma once

#include <cstddef>
#include <cstring>

#include "AEffect.h"

struct RecordLayout {
  std::size_t entryPoints[5];  // dispatcher, process, setParameter,
                               // getParameter, processReplacing
  std::size_t numPrograms, numParams, numInputs, numOutputs, flags, ioRatio,
      object, uniqueID, version, future, size;
};

constexpr bool kFourBytePointers = sizeof(void*) == 4;
constexpr RecordLayout kRecordLayout32 = {
    {4, 8, 12, 16, 80}, 20, 24, 28, 32, 36, 60, 64, 72, 76, 84, 144};
constexpr RecordLayout kRecordLayout64 = {
    {8, 16, 24, 32, 120}, 40, 44, 48, 52, 56, 92, 96, 112, 116, 128, 192};
constexpr RecordLayout kRecordLayout =
    kFourBytePointers ? kRecordLayout32 : kRecordLayout64;
static_assert(sizeof(AEffect) == kRecordLayout.size, "record size");

// The value of type T at `offset` bytes into the record.
template <typename T>
T recordAt(const AEffect* record, std::size_t offset) {
  T value;
  std::memcpy(&value, reinterpret_cast<const char*>(record) + offset,
              sizeof value);
  return value;
}
