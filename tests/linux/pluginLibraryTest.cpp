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
  for (const char* name : {"korvaneMain", "createEffectInstance",
                           "hostCanDos", "plugCanDos", "_ZN4myfxD0Ev"}) {
    EXPECT_EQ(dlsym(library, name), nullptr) << name;
  }
}

TEST_F(PluginLibrary, RecordAtTheHostsByteOffsets) {
  versionAnswer = 2400;
  AEffect* r = entry(&hostCallback);
  ASSERT_NE(r, nullptr);
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

  // Every entry point lies in the library itself.
  Dl_info library{}, entryPoint{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(entry), &library), 0);
  for (std::size_t offset : at.entryPoints) {
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
