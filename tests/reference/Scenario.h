// Scripted runs for comparing the effect with the model: blocks of input with
// the host's tempo, the processing call to use and the parameter changes made
// before each block, drawn from a fixed seed.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "ReferenceEngine.h"
#include "parameterIndex.h"

namespace reference {

struct Block {
  std::vector<std::pair<int32_t, float>> parameters;  // set before the block
  int32_t frames = 0;                                 // 0 or less: no work
  bool accumulate = false;            // process instead of processReplacing
  bool inPlace = false;               // the outputs are the input arrays
  std::optional<float> resumeAtRate;  // the host sets a rate and resumes
                                      // before the block's parameters,
  bool resumes = true;                // or sets it while resumed
  bool writesBack = false;            // then every value read and written back
  HostTempo tempo = 120.0;
  std::vector<float> left, right;            // input
  std::vector<float> priorLeft, priorRight;  // outputs before the call,
                                             // unless in place
};

using Scenario = std::vector<Block>;

class ScenarioMaker {
 public:
  explicit ScenarioMaker(uint32_t seed) : rng_(seed) {}

  float unit() { return static_cast<float>(rng_() >> 8) / 16777216.0f; }
  int32_t below(int32_t n) {
    return static_cast<int32_t>(rng_() % static_cast<uint32_t>(n));
  }
  bool chance(float p) { return unit() < p; }

  // Mostly ordinary values, with the quantisation edges k/63 and k/48, the
  // ends, and values a host should not send (clamped by the effect).
  float parameterValue(int32_t index) {
    switch (below(14)) {
      case 0:
        return 0.0f;
      case 1:
        return 1.0f;
      case 2:
        return static_cast<float>(below(64)) / 63.0f;
      case 3:
        return static_cast<float>(below(49)) / 48.0f;
      case 4:
        return std::nextafter(1.0f, 0.0f);
      case 5: {
        const float odd[] = {NAN,  INFINITY, -INFINITY, -0.5f,
                             1.5f, 1e-40f,   FLT_MIN,   1e30f};
        return odd[below(8)];
      }
      default:
        // A low threshold keeps the recordings coming.
        return index == Param::kRecordThreshold ? std::pow(unit(), 4.0f)
                                                : unit();
    }
  }

  void setAll(Block& b) {
    for (int32_t i = 0; i < Param::kCount; ++i)
      b.parameters.push_back({i, parameterValue(i)});
  }

  HostTempo tempo() {
    switch (below(20)) {
      case 0:
        return std::nullopt;
      case 1:
        return NAN;
      case 2:
        return 0.0;
      case 3:
        return -60.0;
      case 4:
        return below(2) ? INFINITY : -INFINITY;
      case 5:
        return 1e-3;  // the loop product beyond 32 bits
      case 6:
        return 5e-324;  // the smallest positive double
      case 7:
        return 1e6;  // a loop of 10 samples
      case 8:
        return 1e300;  // a loop of 0 samples
      case 9:
        return 60.0;
      case 10:
      case 11:
      case 12:
        return 40.0 + 210.0 * unit();
      default:
        return 120.0;
    }
  }

  int32_t frames() {
    switch (below(12)) {
      case 0:
        return 1;
      case 1:
        return 7;
      case 2:
        return 4096;
      case 3:
        return 64;
      case 4:
        return below(40) == 0 ? (below(2) ? 0 : -3) : 333;
      default:
        return 1 + below(2500);
    }
  }

  // One block of a kind of input chosen at random (with `hostile`, NaN,
  // infinities, subnormals and huge values among them); the outputs hold values
  // that an accumulating call must keep and a replacing call must overwrite.
  void fill(Block& b, bool hostile) {
    const int32_t n = b.frames > 0 ? b.frames : 4;
    b.left.assign(n, 0.0f);
    b.right.assign(n, 0.0f);
    const float amplitude = 0.01f + 2.0f * unit();
    const int32_t kind = below(hostile ? 7 : 6);
    const int32_t period = 2 + below(3000);
    const float constant = 2.0f * unit() - 1.0f;
    for (int32_t k = 0; k < n; ++k) {
      for (std::vector<float>* channel : {&b.left, &b.right}) {
        float& x = (*channel)[k];
        switch (kind) {
          case 0:
          case 1:
            x = amplitude * (2.0f * unit() - 1.0f);
            break;
          case 2:
            x = chance(0.002f) ? amplitude : 0.0f;
            break;
          case 3:
            x = 0.0f;
            break;
          case 4:
            x = constant;
            break;
          case 5:
            x = (k / period) % 2 ? amplitude : -amplitude;
            break;
          default:
            x = hostileSample(amplitude);
            break;
        }
      }
    }
    const float prior = b.accumulate ? 2.0f * unit() - 1.0f : 1234.5f;
    b.priorLeft.assign(n, prior);
    b.priorRight.assign(n, -prior);
  }

  // A block with the given settings and a random input.
  Block block(int32_t frames, HostTempo tempo, bool hostile) {
    Block b;
    b.frames = frames;
    b.tempo = tempo;
    b.accumulate = chance(0.3f);
    b.inPlace = chance(0.2f);
    fill(b, hostile);
    return b;
  }

 private:
  float hostileSample(float amplitude) {
    switch (below(12)) {
      case 0:
        return NAN;
      case 1:
        return INFINITY;
      case 2:
        return -INFINITY;
      case 3:
        return 1e-42f;  // subnormal
      case 4:
        return chance(0.5f) ? FLT_MAX : -FLT_MAX;
      case 5:
        return 1e30f;
      case 6:
        return -0.0f;
      default:
        return amplitude * (2.0f * unit() - 1.0f);
    }
  }

  std::mt19937 rng_;
};

// Random settings, tempi, inputs, block sizes and calls, with a parameter
// changed now and then between blocks.
inline Scenario randomScenario(uint32_t seed, int32_t blocks) {
  ScenarioMaker make(seed);
  Scenario run;
  for (int32_t i = 0; i < blocks; ++i) {
    Block b = make.block(make.frames(), make.tempo(), make.chance(0.2f));
    if (i == 0) make.setAll(b);
    b.writesBack = (seed + static_cast<uint32_t>(i)) % 5 == 0;
    while (make.chance(0.25f)) {
      // -1 and the first index past the last parameter included
      const int32_t index = make.below(Param::kCount + 2) - 1;
      b.parameters.push_back({index, make.parameterValue(index)});
    }
    run.push_back(std::move(b));
  }
  return run;
}

// The settings after construction and a square wave that retriggers the
// capture, processed in blocks of the given sizes, in turn.
inline Scenario retriggerScenario(const std::vector<int32_t>& sizes,
                                  int32_t total) {
  Scenario run;
  int32_t done = 0;
  for (size_t i = 0; done < total; ++i) {
    Block b;
    b.frames = std::min(sizes[i % sizes.size()], total - done);
    b.left.resize(b.frames);
    b.right.resize(b.frames);
    for (int32_t k = 0; k < b.frames; ++k) {
      const int32_t t = done + k;
      b.left[k] = (t / 1500) % 2 ? 0.6f : -0.4f;
      b.right[k] = 0.3f * std::sin(0.01f * t);
    }
    b.priorLeft.assign(b.frames, 9.0f);
    b.priorRight.assign(b.frames, 9.0f);
    done += b.frames;
    run.push_back(std::move(b));
  }
  return run;
}

// Long loops, far positions, long grains, the shortest start interval and
// full jitter: all 32 slots busy and grains reading past the buffers' end,
// while the tempo swings between very slow and fast so the loop shrinks
// under the stored positions. Inputs are loud.
inline Scenario extremeScenario(uint32_t seed, int32_t blocks) {
  ScenarioMaker make(seed);
  Scenario run;
  const HostTempo tempi[] = {1e-3, 30.0, 60.0, 500.0, 2000.0, 120.0};
  for (int32_t i = 0; i < blocks; ++i) {
    Block b = make.block(500 + make.below(4000), tempi[make.below(6)], true);
    if (i == 0) {
      const float settings[Param::kCount] = {1.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f,
                                             1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
      for (int32_t p = 0; p < Param::kCount; ++p) {
        b.parameters.push_back({p, settings[p]});
      }
    } else if (make.chance(0.3f)) {
      // Re-read the far settings under the current loop.
      b.parameters.push_back({4, 1.0f});
      b.parameters.push_back({6, 1.0f});
      b.parameters.push_back({8, make.unit()});
    }
    for (float* x : {&b.left[0], &b.right[0]}) *x = 50.0f;  // retrigger
    run.push_back(std::move(b));
  }
  return run;
}

// Short blocks while recording, with "bsize" and the tempo changing between
// most of them, so the loop and capture lengths move mid-recording.
inline Scenario loopChangeScenario(uint32_t seed, int32_t blocks) {
  ScenarioMaker make(seed);
  Scenario run;
  for (int32_t i = 0; i < blocks; ++i) {
    const HostTempo tempo =
        make.chance(0.2f) ? make.tempo() : 60.0 + 200.0 * make.unit();
    Block b = make.block(1 + make.below(600), tempo, false);
    if (i == 0) b.parameters.push_back({1, 0.01f});
    if (make.chance(0.7f)) b.parameters.push_back({0, make.unit()});
    if (make.chance(0.2f)) b.parameters.push_back({2, make.unit()});
    run.push_back(std::move(b));
  }
  return run;
}

// Many short grains from a long loop, every jitter strictly between 0 and 1
// and changed before each block, so that every rounding point of a grain
// start is met thousands of times.
inline Scenario grainStormScenario(uint32_t seed, int32_t blocks) {
  ScenarioMaker make(seed);
  Scenario run;
  for (int32_t i = 0; i < blocks; ++i) {
    const HostTempo tempo = i % 4 == 0 ? 1e-3 : 30.0 + 200.0 * make.unit();
    Block b = make.block(4096, tempo, false);
    if (i == 0) {
      b.parameters = {{0, 1.0f}, {1, 0.05f}, {2, 0.0f}, {6, 0.001f}};
    }
    for (int32_t p : {3, 5, 7, 9}) {
      b.parameters.push_back({p, 0.001f + 0.998f * make.unit()});
    }
    b.parameters.push_back({4, make.unit()});
    b.parameters.push_back({8, make.unit()});
    b.parameters.push_back({10, make.unit()});
    run.push_back(std::move(b));
  }
  return run;
}

// The host's rate changed between blocks now and then, to rates korvane
// adopts and to ones it ignores, with a resume or while resumed, with
// random settings, some of them set before the first block and so still
// pending when the first rate is adopted.
inline Scenario rateChangeScenario(uint32_t seed, int32_t blocks) {
  ScenarioMaker make(seed);
  Scenario run;
  const float rates[] = {48000.0f,  96000.0f,  44100.0f, 8000.0f,
                         22050.5f,  384000.9f, 7999.9f,  0.0f,
                         -48000.0f, NAN,       1e9f,     INFINITY};
  for (int32_t i = 0; i < blocks; ++i) {
    Block b = make.block(make.frames(), make.tempo(), false);
    if (i == 0) {
      make.setAll(b);
      b.frames = 0;  // settings before any audio, then the first resume
    } else if (i == 1 || make.chance(0.3f)) {
      b.resumeAtRate = rates[make.below(12)];
      b.resumes = make.chance(0.5f);
    }
    while (make.chance(0.25f)) {
      const int32_t index = make.below(Param::kCount);
      b.parameters.push_back({index, make.parameterValue(index)});
    }
    if (b.frames > 0) {  // a capture at every block's start
      b.left[0] = 0.8f;
      b.right[0] = 0.8f;
    }
    run.push_back(std::move(b));
  }
  return run;
}

}  // namespace reference
