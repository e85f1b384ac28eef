// korvane.dll as a Windows host meets it: the record that its `main` hands
// over, read at the byte offsets a host of this width uses, and entry points
// that lie in the library itself rather than in the test program.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "PluginLibrary.h"
#include "RecordLayout.h"
#include "TestHost.h"

namespace {

constexpr const RecordLayout& kLayout = kRecordLayout;

template <typename T>
T at(const AEffect* record, std::size_t offset) {
  return recordAt<T>(record, offset);
}

HMODULE moduleHolding(void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCWSTR>(address), &module);
  return module;
}

TEST(PluginLibrary, RecordAtTheHostsByteOffsets) {
  TestHost host;
  EffectHandle e(host.load());
  ASSERT_NE(e.effect, nullptr);
  const AEffect* r = e.effect;
  EXPECT_EQ(at<int32_t>(r, 0), 0x56737450);
  EXPECT_EQ(at<int32_t>(r, kLayout.numPrograms), 1);
  EXPECT_EQ(at<int32_t>(r, kLayout.numParams), 11);
  EXPECT_EQ(at<int32_t>(r, kLayout.numInputs), 2);
  EXPECT_EQ(at<int32_t>(r, kLayout.numOutputs), 2);
  EXPECT_EQ(at<int32_t>(r, kLayout.flags), 24);
  EXPECT_EQ(at<float>(r, kLayout.ioRatio), 1.0f);
  EXPECT_NE(at<void*>(r, kLayout.object), nullptr);
  EXPECT_EQ(at<int32_t>(r, kLayout.uniqueID), 0x476D5374);
  EXPECT_EQ(at<int32_t>(r, kLayout.version), 1);
  for (std::size_t k = kLayout.future; k < kLayout.size; ++k) {
    EXPECT_EQ(at<char>(r, k), 0) << "byte " << k;
  }
}

TEST(PluginLibrary, EntryPointsAreTheLibrarys) {
  const HMODULE library = pluginLibrary();
  ASSERT_NE(library, GetModuleHandleW(nullptr));
  TestHost host;
  EffectHandle e(host.load());
  ASSERT_NE(e.effect, nullptr);
  for (std::size_t offset : kLayout.entryPoints) {
    void* entry = at<void*>(e.effect, offset);
    ASSERT_NE(entry, nullptr) << "offset " << offset;
    EXPECT_EQ(moduleHolding(entry), library) << "offset " << offset;
  }
}

}  // namespace
