// korvane.so as a Linux host meets it: loaded with dlopen, entered through
// its one exported symbol `main`, its record read at the byte offsets a host
// of this width uses.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "RecordLayout.h"
#include "opcodes.h"

namespace {

intptr_t versionAnswer = 2400;

intptr_t hostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*,
                      float) {
  return opcode == HostOpcode::kVersion ? versionAnswer : 0;
}

using MainProc = AEffect* (*)(HostCallback);

class PluginLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    library = dlopen(KORVANE_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    entry = reinterpret_cast<MainProc>(dlsym(library, "main"));
    ASSERT_NE(entry, nullptr);
  }
  void TearDown() override {
    if (library != nullptr) dlclose(library);
  }
  void* library = nullptr;
  MainProc entry = nullptr;
};

TEST_F(PluginLibrary, ExportsNothingButMain) {
  for (const char* name : {"korvaneMain", "createEffectInstance", "hostCanDos",
                           "plugCanDos", "_ZN4myfxD0Ev"}) {
    EXPECT_EQ(dlsym(library, name), nullptr) << name;
  }
}

TEST_F(PluginLibrary, RecordAtTheHostsByteOffsets) {
  versionAnswer = 2400;
  AEffect* r = entry(&hostCallback);
  ASSERT_NE(r, nullptr);
  expectNewKorvaneRecord(r);

  // Every entry point lies in the library itself.
  Dl_info library{}, entryPoint{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(entry), &library), 0);
  for (std::size_t offset : kRecordLayout.entryPoints) {
    void* function = recordAt<void*>(r, offset);
    ASSERT_NE(dladdr(function, &entryPoint), 0) << offset;
    EXPECT_EQ(entryPoint.dli_fbase, library.dli_fbase) << offset;
  }
  EXPECT_EQ(r->dispatcher(r, EffectOpcode::kClose, 0, 0, nullptr, 0.0f), 1);
}

TEST_F(PluginLibrary, EachCallOfMainMakesAnIndependentInstance) {
  versionAnswer = 2400;
  AEffect* a = entry(&hostCallback);
  AEffect* b = entry(&hostCallback);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  a->setParameter(a, 8, 1.0f);
  EXPECT_EQ(a->getParameter(a, 8), 1.0f);
  EXPECT_EQ(b->getParameter(b, 8), 0.5f);
  EXPECT_EQ(a->dispatcher(a, EffectOpcode::kClose, 0, 0, nullptr, 0.0f), 1);
  EXPECT_EQ(b->dispatcher(b, EffectOpcode::kClose, 0, 0, nullptr, 0.0f), 1);

  versionAnswer = 0;
  EXPECT_EQ(entry(&hostCallback), nullptr);
  // Without a callback the version counts as 1.
  AEffect* lone = entry(nullptr);
  ASSERT_NE(lone, nullptr);
  EXPECT_EQ(lone->dispatcher(lone, EffectOpcode::kClose, 0, 0, nullptr, 0.0f),
            1);
}

}  // namespace
