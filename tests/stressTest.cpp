// Automation while audio runs: one thread processes while another changes
// all eleven parameters and reads their values and texts as fast as it can,
// as hosts do during automation. The output stays finite and in range.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "TestHost.h"
#include "opcodes.h"
#include "parameterIndex.h"

namespace {

constexpr int32_t kAudioFrames = 20 * 44100;  // twenty seconds
constexpr double kTempi[] = {20.0, 60.0, 120.0, 300.0, 999.0};

// A small generator of its own per thread: the effect's draws stay untouched.
struct Draws {
  uint32_t state;
  uint32_t next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
  float fraction() { return static_cast<float>(next()) / 16777215.0f; }
  // Mostly 0..1; now and then what a careless host sends.
  float parameterValue() {
    static constexpr float kHostile[] = {
        -1.0f,
        2.0f,
        std::numeric_limits<float>::quiet_NaN(),
        std::numeric_limits<float>::infinity(),
        0.0f,
        1.0f};
    const uint32_t pick = next();
    return pick % 16 == 0 ? kHostile[(pick >> 4) % 6] : fraction();
  }
};

// Changes every parameter, then reads every value and value text back,
// until told to stop; counts the rounds and any answer out of shape.
void automate(AEffect* e, const std::atomic<bool>& stop,
              std::atomic<bool>& started, long& rounds, long& badAnswers) {
  Draws draws{2024u};
  started = true;
  while (!stop.load(std::memory_order_relaxed)) {
    for (int32_t i = 0; i < Param::kCount; ++i) {
      e->setParameter(e, i, draws.parameterValue());
    }
    for (int32_t i = 0; i < Param::kCount; ++i) {
      if (!std::isfinite(e->getParameter(e, i))) ++badAnswers;
      char text[32];
      std::memset(text, '#', sizeof text);
      e->dispatcher(e, EffectOpcode::kGetParameterDisplay, i, 0, text, 0.0f);
      if (std::memchr(text, '\0', 9) == nullptr) ++badAnswers;
    }
    ++rounds;
  }
}

TEST(Stress, AutomationWhileProcessingKeepsOutputSound) {
  TestHost host;
  EffectHandle e(host.load());
  ASSERT_NE(e.effect, nullptr);
  TestHost::seed(e.effect, 99);

  std::atomic<bool> stop{false}, started{false};
  long rounds = 0, badAnswers = 0;
  std::thread automation(automate, e.effect, std::cref(stop), std::ref(started),
                         std::ref(rounds), std::ref(badAnswers));
  while (!started) std::this_thread::yield();

  // This thread is the audio thread: a signal with sharp edges, so that
  // captures start again and again, in blocks of changing size, at a tempo
  // that changes every block.
  Draws signal{7u};
  std::vector<float> inL(512), inR(512), outL(512), outR(512);
  long outOfRange = 0;
  int32_t done = 0;
  for (int block = 0; done < kAudioFrames; ++block) {
    host.tempo = kTempi[block % 5];
    const int32_t frames =
        std::min<int32_t>(32 + 32 * (block % 16), kAudioFrames - done);
    for (int32_t k = 0; k < frames; ++k) {
      const float edge = (done + k) % 3000 < 1500 ? 0.8f : -0.8f;
      inL[k] = edge + 0.1f * signal.fraction();
      inR[k] = -edge + 0.1f * signal.fraction();
    }
    float* inputs[] = {inL.data(), inR.data()};
    float* outputs[] = {outL.data(), outR.data()};
    if (block % 3 == 0) {
      std::fill(outL.begin(), outL.end(), 0.0f);
      std::fill(outR.begin(), outR.end(), 0.0f);
      e->process(e.effect, inputs, outputs, frames);
    } else {
      e->processReplacing(e.effect, inputs, outputs, frames);
    }
    for (int32_t k = 0; k < frames; ++k) {
      for (float s : {outL[k], outR[k]}) {
        if (!(std::isfinite(s) && std::fabs(s) <= 1.0f)) ++outOfRange;
      }
    }
    done += frames;
  }
  stop = true;
  automation.join();

  EXPECT_EQ(outOfRange, 0);
  EXPECT_EQ(badAnswers, 0);
  EXPECT_GT(rounds, 0);
}

}  // namespace
