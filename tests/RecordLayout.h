// The plug-in record's byte offsets as a host of this width reads them, so a
// test can check the record the library hands over without trusting AEffect.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
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

// What a new korvane instance's record holds, read at the host's offsets.
inline void expectNewKorvaneRecord(const AEffect* r) {
  const RecordLayout& at = kRecordLayout;
  EXPECT_EQ(recordAt<int32_t>(r, 0), 0x56737450);
  EXPECT_EQ(recordAt<int32_t>(r, at.numPrograms), 1);
  EXPECT_EQ(recordAt<int32_t>(r, at.numParams), 11);
  EXPECT_EQ(recordAt<int32_t>(r, at.numInputs), 2);
  EXPECT_EQ(recordAt<int32_t>(r, at.numOutputs), 2);
  EXPECT_EQ(recordAt<int32_t>(r, at.flags), 24);
  EXPECT_EQ(recordAt<float>(r, at.ioRatio), 1.0f);
  EXPECT_NE(recordAt<void*>(r, at.object), nullptr);
  EXPECT_EQ(recordAt<int32_t>(r, at.uniqueID), 0x476D5374);
  EXPECT_EQ(recordAt<int32_t>(r, at.version), 1);
  for (std::size_t k = at.future; k < at.size; ++k) {
    EXPECT_EQ(recordAt<char>(r, k), 0) << "byte " << k;
  }
}
