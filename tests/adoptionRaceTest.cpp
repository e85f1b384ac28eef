// Parameter calls on another core racing an adoption on the audio side (the
// first tempo query converts the values set before it, a new rate scales
// them): a set lands wholly before or after it, and getParameter answers
// only what one of those two orders explains.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "TestHost.h"
#include "myfxProbe.h"
#include "opcodes.h"
#include "parameterIndex.h"

#if defined(__linux__)
#include <pthread.h>
#endif

namespace {

void pinToCore(int core) {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(core % static_cast<int>(
                     std::max(1u, std::thread::hardware_concurrency())),
          &set);
  pthread_setaffinity_np(pthread_self(), sizeof set, &set);
#else
  (void)core;
#endif
}

void processOne(AEffect* e) {
  float in[2][1] = {}, out[2][1];
  float* inputs[] = {in[0], in[1]};
  float* outputs[] = {out[0], out[1]};
  e->processReplacing(e, inputs, outputs, 1);
}

// After audio ran, a new rate set while suspended or while resumed.
void setRate(AEffect* e, bool resumed) {
  processOne(e);
  if (!resumed) TestHost::dispatch(e, EffectOpcode::kSuspendResume, 0, 0);
  TestHost::dispatch(e, EffectOpcode::kSetSampleRate, 0, 0, nullptr, 8000.0f);
}
void resume(AEffect* e) {
  TestHost::dispatch(e, EffectOpcode::kSuspendResume, 0, 1);
}

TEST(AdoptionRace, ParameterCallsLandWhollyBeforeOrAfter) {
  // The audio side's step, and what the host did before it.
  const struct {
    const char* what;
    void (*prepare)(AEffect*);
    void (*adopt)(AEffect*);
  } adoptions[] = {
      {"first tempo query", [](AEffect*) {}, processOne},
      {"resume at a new rate", [](AEffect* e) { setRate(e, false); }, resume},
      {"first block after a rate set while resumed",
       [](AEffect* e) { setRate(e, true); }, processOne},
  };
  constexpr float kSet = 0.25f;  // "pos", set during the race
  TestHost host;
  host.tempo = 90.0;
  for (const auto& adoption : adoptions) {
    // Both orders played out: their ends, and every answer along them.
    std::vector<float> answers;
    std::vector<int32_t> ends;
    for (bool setFirst : {true, false}) {
      EffectHandle twin{host.load()};
      adoption.prepare(twin.effect);
      for (int step = 0; step < 2; ++step) {
        answers.push_back(twin->getParameter(twin.effect, Param::kGrainOffset));
        if (step == setFirst) {
          adoption.adopt(twin.effect);
        } else {
          twin->setParameter(twin.effect, Param::kGrainOffset, kSet);
        }
      }
      answers.push_back(twin->getParameter(twin.effect, Param::kGrainOffset));
      ends.push_back(myfxProbe::state(twin.object()).grainOffset);
    }

    int wrongEnds = 0, wrongAnswers = 0;
    constexpr int kRounds = 400;
    for (int round = 0; round < kRounds; ++round) {
      EffectHandle e{host.load()};
      adoption.prepare(e.effect);
      const myfx& f = e.object();
      const int32_t loop = myfxProbe::loopLength(f);
      std::atomic<int> stage{0};
      std::thread caller([&] {
        pinToCore(1);
        stage = 1;
        // Timed on the adoption's first store: the loop or the rate
        // changes before the settings are converted or scaled.
        while (myfxProbe::loopLength(f) == loop &&
               myfxProbe::sampleRateHz(f) == 44100 && stage < 2) {
        }
        for (int k = 0; k < 16; ++k) {
          if (k == round % 2)
            e->setParameter(e.effect, Param::kGrainOffset, kSet);
          const float a = e->getParameter(e.effect, Param::kGrainOffset);
          if (std::find(answers.begin(), answers.end(), a) == answers.end()) {
            ++wrongAnswers;
            break;
          }
        }
      });
      pinToCore(0);
      while (stage < 1) {
      }
      adoption.adopt(e.effect);
      stage = 2;
      caller.join();
      const int32_t end = myfxProbe::state(f).grainOffset;
      if (std::find(ends.begin(), ends.end(), end) == ends.end()) ++wrongEnds;
    }
    EXPECT_EQ(wrongEnds, 0) << adoption.what << ", of " << kRounds;
    EXPECT_EQ(wrongAnswers, 0) << adoption.what << ", of " << kRounds;
  }
}

}  // namespace
