// The effect's DLL as a Windows host meets it (the tests' build,
// korvane_probed.dll, linked as korvane.dll is): the record that its `main`
// hands over, read at the byte offsets a host of this width uses, and entry
// points that lie in the library itself rather than in the test program.
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
  expectNewKorvaneRecord(e.effect);
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
