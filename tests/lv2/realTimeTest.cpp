// The LV2 face's real-time rules and its failures: `run` allocates nothing,
// and an instantiation that runs out of memory at any of its allocations
// neither crashes nor leaks (the sanitizer build checks the leaks).
// The runner's operator new serves the dlopen-ed binary too (the runner
// exports it), so the counts include the binary's allocations.
#include <gtest/gtest.h>

#include "AllocationCounter.h"
#include "Faces.h"
#include "parameterIndex.h"

namespace {
TEST(Lv2RealTime, RunAllocatesNothing) {
  Session s{48000, 64, 20000, {}};
  s.actions = {{Action::kTempo, 0, 0, 0, 0, 100},
               {Action::kSetting, 0, Param::kBufferSixteenths, 2, 0},
               {Action::kSeed, 640, 0, 0, 0, 0, 5},
               {Action::kSetting, 6400, Param::kGrainOffset, 0.5f, 0}};
  int allocations = 0;
  Lv2Quirks counted;
  counted.runAllocations = &allocations;
  counted.reactivate = true;
  renderLv2(s, counted);
  EXPECT_EQ(allocations, 0);
}

// Short of memory for the instance or the effect, instantiation answers
// null. (Short of it for the buffers of the host's rate, the effect keeps
// those of 44.1 kHz, as the VST 2 face does.)
TEST(Lv2RealTime, InstantiationOutOfMemory) {
  startCountingAllocations();
  EXPECT_TRUE(lv2Instantiates(96000));
  const int needed = stopCountingAllocations();
  ASSERT_GT(needed, 3) << "the binary's allocations are not counted";
  for (int n = 1; n <= needed; ++n) {
    startCountingAllocations();
    failAllocationsFrom(n);
    const bool instantiated = lv2Instantiates(96000);
    stopCountingAllocations();
    EXPECT_TRUE(n > 3 || !instantiated) << "allocation " << n << " failed";
  }
}
}  // namespace
