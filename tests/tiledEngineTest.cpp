// The tiled engine against the per-sample engine, both driven through the
// record by one scripted host: the same output bits, the same state, the same
// capture buffers and the same tempo queries, for each kernel family and a
// range of tile sizes, on scenarios built to meet each hazard of tiling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "mixKernels.h"
#include "parameterIndex.h"
#include "reference/Scenario.h"
#include "reference/SideBySide.h"

namespace tiles {
// Names the family in test names and messages.
void PrintTo(KernelFamily family, std::ostream* out) {
  *out << (family == KernelFamily::kSse2 ? "SSE2" : "AVX2");
}
}  // namespace tiles

namespace {
using reference::Block;
using reference::Scenario;

constexpr int32_t kTileSizes[] = {1, 2, 3, 4, 5, 7, 16, 33, 63, 64};

// How a block's four arrays (input left, input right, output left, output
// right) meet: array a holds the first of them whose number is a, so the
// fifteen ways to share arrays are the strings whose every digit is at most
// one above the largest before it ("0000": all four one array, "0011": each
// output on its own input, "0122": both outputs on one array). The last
// layout puts the outputs one sample past the inputs, a host fault that the
// per-sample engine takes.
constexpr const char* kLayouts[] = {
    "0000", "0001", "0010", "0011", "0012", "0100", "0101", "0102",
    "0110", "0111", "0112", "0120", "0121", "0122", "0123", "shifted"};
constexpr int32_t kLayoutCount = sizeof kLayouts / sizeof kLayouts[0];
constexpr int32_t kApart = kLayoutCount - 2;  // "0123"

// Two instances from one host: one runs the per-sample engine alone, the
// other the tiled engine with the chosen kernels and tile size.
class Twins {
 public:
  // Each block takes a layout drawn from `seed`, or `layout` when given.
  Twins(tiles::KernelFamily family, int32_t tileSize, uint32_t seed,
        int32_t layout = -1)
      : arrays_(seed), layout_(layout) {
    myfxProbe::tiled(perSample_.object()).probes.enabled = false;
    tiles::TiledEngine& t = myfxProbe::tiled(tiled_.object());
    t.useKernels(family);
    t.probes.tileSize = tileSize;
    TestHost::seed(perSample_.effect, seed);
    TestHost::seed(tiled_.effect, seed);
  }

  // Empty when every block matched; otherwise the first difference.
  std::string run(const Scenario& scenario) {
    for (size_t i = 0; i < scenario.size(); ++i) {
      const std::string d = block(scenario[i]);
      if (!d.empty()) return "block " + std::to_string(i) + ": " + d;
    }
    return buffers();
  }

  // Array a of the last block as the per-sample engine left it.
  const std::vector<float>& lastArray(size_t a) const {
    return last_.arrays[a];
  }

  const tiles::TiledEngine::Probes& probes() {
    return myfxProbe::tiled(tiled_.object()).probes;
  }

 private:
  struct Io {
    std::vector<std::vector<float>> arrays;
    float* inputs[2];
    float* outputs[2];
  };

  // The block's input and prior output, laid out as kLayouts[layout] says.
  static Io lay(const Block& b, int32_t layout) {
    const size_t n = b.left.size();
    const std::vector<float>* content[] = {&b.left, &b.right, &b.priorLeft,
                                           &b.priorRight};
    float* pointers[4];
    Io io;
    io.arrays.reserve(4);
    const std::string digits =
        layout == kLayoutCount - 1 ? "0123" : kLayouts[layout];
    for (int32_t a = 0; a < 4; ++a) {
      const size_t shared = static_cast<size_t>(digits[a] - '0');
      if (shared == io.arrays.size()) {
        io.arrays.push_back(*content[a]);
        io.arrays.back().resize(n + 1, a % 2 == 0 ? 0.25f : -0.25f);
      }
      pointers[a] = io.arrays[shared].data();
    }
    if (layout == kLayoutCount - 1) {
      pointers[2] = pointers[0] + 1;
      pointers[3] = pointers[1] + 1;
    }
    io.inputs[0] = pointers[0];
    io.inputs[1] = pointers[1];
    io.outputs[0] = pointers[2];
    io.outputs[1] = pointers[3];
    return io;
  }

  std::string block(const Block& b) {
    if (b.resumeAtRate) {
      TestHost::resumeAtRate(perSample_.effect, *b.resumeAtRate, b.resumes);
      TestHost::resumeAtRate(tiled_.effect, *b.resumeAtRate, b.resumes);
    }
    for (const auto& [index, value] : b.parameters) {
      perSample_->setParameter(perSample_.effect, index, value);
      tiled_->setParameter(tiled_.effect, index, value);
    }
    const int32_t how =
        layout_ >= 0 ? layout_ : static_cast<int32_t>(arrays_() % kLayoutCount);
    Io expected = lay(b, how);
    Io actual = lay(b, how);
    host_.tempo = b.tempo;
    host_.calls.clear();
    auto entry = [&](AEffect* e) {
      return b.accumulate ? e->process : e->processReplacing;
    };
    entry(perSample_.effect)(perSample_.effect, expected.inputs,
                             expected.outputs, b.frames);
    const size_t perSampleCalls = host_.calls.size();
    entry(tiled_.effect)(tiled_.effect, actual.inputs, actual.outputs,
                         b.frames);
    if (host_.calls.size() != 2 * perSampleCalls) {
      return "host calls " + std::to_string(perSampleCalls) + " against " +
             std::to_string(host_.calls.size() - perSampleCalls);
    }
    for (size_t a = 0; a < expected.arrays.size(); ++a) {
      const std::vector<float>& e = expected.arrays[a];
      const std::vector<float>& c = actual.arrays[a];
      for (size_t k = 0; k < e.size(); ++k) {
        if (!reference::sameBits(e[k], c[k])) {
          return "sample " + std::to_string(k) + " of array " +
                 std::to_string(a) + " (" + std::to_string(b.frames) +
                 " frames, arrays " + kLayouts[how] +
                 "): " + std::to_string(e[k]) + " against " +
                 std::to_string(c[k]);
        }
      }
    }
    last_ = std::move(expected);
    const std::string d =
        reference::StateDiff::first(myfxProbe::state(perSample_.object()),
                                    myfxProbe::state(tiled_.object()));
    if (!d.empty()) return d;
    if (myfxProbe::soundingSlots(perSample_.object()) !=
        myfxProbe::soundingSlots(tiled_.object())) {
      return "sounding slots";
    }
    return "";
  }

  std::string buffers() {
    const int32_t cells = myfxProbe::bufferCapacity(perSample_.object());
    const size_t bytes = static_cast<size_t>(cells) * sizeof(float);
    if (std::memcmp(myfxProbe::recordBufferLeft(perSample_.object()),
                    myfxProbe::recordBufferLeft(tiled_.object()), bytes) ||
        std::memcmp(myfxProbe::recordBufferRight(perSample_.object()),
                    myfxProbe::recordBufferRight(tiled_.object()), bytes)) {
      return "capture buffers";
    }
    return "";
  }

  TestHost host_;
  EffectHandle perSample_{host_.load()};
  EffectHandle tiled_{host_.load()};
  std::mt19937 arrays_;
  int32_t layout_;
  Io last_;
};

// `blocks` blocks, each made by block(make, i).
template <typename MakeBlock>
Scenario scenario(uint32_t seed, int32_t blocks, MakeBlock block) {
  reference::ScenarioMaker make(seed);
  Scenario run;
  for (int32_t i = 0; i < blocks; ++i) run.push_back(block(make, i));
  return run;
}

// A short loop recorded over and over (the threshold at 0 and a noisy input
// retrigger it), with many slow and fast grains inside it: capture writes
// land in cells that grains read earlier and later in the same tile.
Scenario captureUnderGrains(uint32_t seed, int32_t blocks) {
  return scenario(seed, blocks, [&](reference::ScenarioMaker& make, int32_t i) {
    Block b =
        make.block(1 + make.below(700), 1500.0 + 2000.0 * make.unit(), false);
    if (i == 0) {
      b.parameters = {
          {Param::kBufferSixteenths, 0.0f}, {Param::kRecordThreshold, 0.0f},
          {Param::kStartInterval, 0.0f},    {Param::kPositionJitter, 1.0f},
          {Param::kLengthBase, 1.0f},       {Param::kLengthJitter, 1.0f},
          {Param::kPitchJitter, 0.4f}};
    }
    if (make.chance(0.3f))
      b.parameters.push_back({Param::kTranspose, make.unit()});
    for (size_t k = 0; k < b.left.size(); ++k) {
      b.left[k] = make.unit() - 0.5f;
      b.right[k] = make.unit() - 0.5f;
    }
    return b;
  });
}

// Grains at rates around 2 and far above it, so that the cells of four
// samples leave an eight-cell window, with ceilings whose envelope steps are
// not exact in single precision.
Scenario fastGrains(uint32_t seed, int32_t blocks) {
  const float transposes[] = {35 / 48.0f, 36 / 48.0f, 37 / 48.0f, 1.0f};
  return scenario(seed, blocks, [&](reference::ScenarioMaker& make, int32_t i) {
    Block b = make.block(64 + make.below(3000), 120.0, false);
    if (i == 0) {
      b.parameters = {{Param::kStartInterval, 0.0f},
                      {Param::kStartJitter, 1.0f},
                      {Param::kLengthBase, 0.3f},
                      {Param::kPositionJitter, 1.0f}};
    }
    b.parameters.push_back({Param::kTranspose, transposes[make.below(4)]});
    b.parameters.push_back(
        {Param::kPitchJitter, make.chance(0.5f) ? 0.0f : 0.1f});
    b.parameters.push_back({Param::kEnvelopeCeiling, make.unit()});
    return b;
  });
}

// The settings after construction with a grain start due at many tile
// positions: every sample of the start clock falls at a tile's first sample
// for some tile size.
Scenario grainStarts(uint32_t seed, int32_t blocks) {
  return scenario(seed, blocks, [&](reference::ScenarioMaker& make, int32_t) {
    Block b = make.block(make.frames(), 120.0, false);
    if (make.chance(0.5f))
      b.parameters.push_back({Param::kStartInterval, make.unit()});
    if (make.chance(0.5f))
      b.parameters.push_back({Param::kStartJitter, make.unit()});
    if (make.chance(0.2f))
      b.parameters.push_back({Param::kGrainOffset, make.unit()});
    return b;
  });
}

// The longest loop with grains placed at and before the buffers' end, long
// and fast, so that they read across the last cell and beyond it, while
// the tempo shortens the loop under them now and then.
Scenario pastTheEnd(uint32_t seed, int32_t blocks) {
  return scenario(seed, blocks, [&](reference::ScenarioMaker& make, int32_t i) {
    Block b = make.block(1 + make.below(4000), make.chance(0.8f) ? 60.0 : 200.0,
                         false);
    if (i == 0) {
      b.parameters = {
          {Param::kBufferSixteenths, 1.0f}, {Param::kStartInterval, 0.0f},
          {Param::kLengthBase, 1.0f},       {Param::kPositionJitter, 1.0f},
          {Param::kPitchJitter, 0.5f},      {Param::kTranspose, 0.75f}};
    }
    b.parameters.push_back({Param::kGrainOffset, 0.95f + 0.05f * make.unit()});
    return b;
  });
}

class TiledEngine : public ::testing::TestWithParam<tiles::KernelFamily> {
 protected:
  void SetUp() override {
    if (tiles::kernelsOf(GetParam()) == nullptr) {
      GTEST_SKIP() << "this build or processor has no AVX2 kernels";
    }
  }

  // Every tile size on the scenario; answers the grain tiles that went
  // through the view of capture writes and through the guarded reads.
  std::pair<int64_t, int64_t> matches(const Scenario& scenario, uint32_t seed) {
    int64_t viewed = 0, guarded = 0;
    for (int32_t tileSize : kTileSizes) {
      Twins twins(GetParam(), tileSize, seed);
      EXPECT_EQ(twins.run(scenario), "") << "tiles of " << tileSize;
      viewed += twins.probes().viewedGrainTiles;
      guarded += twins.probes().guardedGrainTiles;
    }
    return {viewed, guarded};
  }
};

TEST_P(TiledEngine, CaptureWritesIntoCellsThatGrainsRead) {
  const auto [viewed, guarded] = matches(captureUnderGrains(3, 40), 3);
  EXPECT_GT(viewed, 100);
}

TEST_P(TiledEngine, GrainStartsAndTheStartClock) {
  matches(grainStarts(4, 40), 4);
  matches(reference::retriggerScenario({1, 63, 64, 65, 882, 4096}, 30000), 5);
}

TEST_P(TiledEngine, RatesAroundAndAboveTwoAndInexactEnvelopeSteps) {
  matches(fastGrains(6, 30), 6);
}

TEST_P(TiledEngine, AllSlotsBusyAndReadsPastTheBuffersEnd) {
  matches(reference::extremeScenario(7, 12), 7);
  const auto [viewed, guarded] = matches(pastTheEnd(8, 30), 8);
  EXPECT_GT(guarded, 1000);
}

// Random settings, tempi, hostile inputs, block sizes from 1 to 4096, both
// calls, parameter and loop changes between blocks, every array layout.
TEST_P(TiledEngine, RandomScenarios) {
  for (uint32_t seed = 10; seed < 14; ++seed) {
    matches(reference::randomScenario(seed, 25), seed);
  }
  matches(reference::loopChangeScenario(20, 60), 20);
  matches(reference::grainStormScenario(21, 6), 21);
  matches(reference::rateChangeScenario(22, 12), 22);
}

// Every way the four arrays can share storage, for both routines: one
// output array for both channels receives the left result, then the right
// one on top of it, as the per-sample engine writes them.
TEST_P(TiledEngine, EveryArrayLayoutBothRoutines) {
  for (int32_t layout = 0; layout < kLayoutCount; ++layout) {
    for (bool accumulate : {false, true}) {
      const Scenario blocks = scenario(
          30 + layout, 6, [&](reference::ScenarioMaker& make, int32_t) {
            Block b = make.block(1 + make.below(2000), 120.0, false);
            b.accumulate = accumulate;
            b.parameters.push_back({Param::kStartInterval, 0.1f * make.unit()});
            return b;
          });
      for (int32_t tileSize : {5, 64}) {
        Twins twins(GetParam(), tileSize, 30, layout);
        EXPECT_EQ(twins.run(blocks), "")
            << kLayouts[layout] << (accumulate ? ", adding" : ", replacing")
            << ", tiles of " << tileSize;
      }
    }
  }
}

// A grain ending inside a group of four samples adds nothing to the samples
// after its end: a sum that an earlier grain left at -0 stays -0.
TEST_P(TiledEngine, SumsAfterAGrainsEndKeepTheirSignOfZero) {
  Block b;
  b.parameters = {{Param::kStartInterval, 0.0f},
                  {Param::kLengthBase, 28.0f / 22050.0f}};  // 70 samples
  b.frames = 256;
  b.left.assign(256, 0.0f);
  std::fill(b.left.begin(), b.left.begin() + 60,
            -std::numeric_limits<float>::denorm_min());
  b.right = b.left;
  b.priorLeft.assign(256, 1.0f);
  b.priorRight = b.priorLeft;
  Twins twins(GetParam(), 64, 1, kApart);
  EXPECT_EQ(twins.run({b}), "");
  EXPECT_TRUE(reference::sameBits(twins.lastArray(2)[175], -0.0f));
}

INSTANTIATE_TEST_SUITE_P(Kernels, TiledEngine,
                         ::testing::Values(tiles::KernelFamily::kSse2,
                                           tiles::KernelFamily::kAvx2),
                         [](const auto& info) {
                           return info.param == tiles::KernelFamily::kSse2
                                      ? std::string("Sse2")
                                      : std::string("Avx2");
                         });
}  // namespace
