// A thousand lives of an instance: created, opened, processed, suspended and
// closed, one after another and a few side by side. In the sanitizer build
// the leak checker runs after them, and any memory not given back fails.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "TestHost.h"
#include "opcodes.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define KORVANE_LEAK_CHECK 1
#endif

namespace {

constexpr int kCycles = 1000;
constexpr int kSideBySide = 3;
constexpr int32_t kFrames = 1024;  // past the first grain start at sample 883

// Processes one block of a step, which starts a capture, and a grain.
bool processBlock(AEffect* e, bool replacing) {
  static std::array<float, kFrames> in{}, out{};
  in.fill(0.5f);
  float* inputs[] = {in.data(), in.data()};
  float* outputs[] = {out.data(), out.data()};
  if (replacing) {
    e->processReplacing(e, inputs, outputs, kFrames);
  } else {
    out.fill(0.0f);
    e->process(e, inputs, outputs, kFrames);
  }
  for (float s : out) {
    if (!(std::isfinite(s) && std::fabs(s) <= 1.0f)) return false;
  }
  return true;
}

TEST(Lifecycle, AThousandCreateProcessCloseCyclesGiveEverythingBack) {
  TestHost host;
  host.calls.reserve(1 << 12);
  std::vector<AEffect*> alive;
  int created = 0;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    AEffect* e = host.load();
    ASSERT_NE(e, nullptr) << "cycle " << cycle;
    ASSERT_EQ(e->magic, kEffectMagic);
    ++created;
    TestHost::dispatch(e, EffectOpcode::kOpen);
    TestHost::dispatch(e, EffectOpcode::kSuspendResume, 0, 1);
    alive.push_back(e);
    // Every instance alive processes: instances must not disturb each other.
    for (AEffect* a : alive) {
      ASSERT_TRUE(processBlock(a, cycle % 2 == 0)) << "cycle " << cycle;
    }
    if (static_cast<int>(alive.size()) == kSideBySide || cycle == kCycles - 1) {
      for (AEffect* a : alive) {
        TestHost::dispatch(a, EffectOpcode::kSuspendResume, 0, 0);
        EXPECT_EQ(TestHost::dispatch(a, EffectOpcode::kClose), 1);
      }
      alive.clear();
    }
    host.calls.clear();
  }
  EXPECT_EQ(created, kCycles);
#ifdef KORVANE_LEAK_CHECK
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

}  // namespace
