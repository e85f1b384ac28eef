// Parameter calls on another thread racing an adoption on the audio side:
// the first tempo query, which converts the values set before it, and the
// adoption of a new rate, which scales them. A set must land wholly before
// or wholly after the adoption, and getParameter must answer only values
// that one of those two orders explains.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "TestHost.h"
#include "myfxProbe.h"
#include "opcodes.h"
#include "parameterIndex.h"

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif

namespace {

namespace Op = EffectOpcode;

// The two threads on two cores, so that they truly overlap.
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

struct Adoption {
  const char* what;
  std::function<void(AEffect*)> prepare;  // before the race
  std::function<void(AEffect*)> adopt;    // the audio side's step
};

constexpr float kSet = 0.25f;  // "pos", set during the race

// What an instance holds and answers for "pos".
struct Pos {
  int32_t field;
  float answer;
  bool operator==(const Pos& o) const {
    return field == o.field && answer == o.answer;
  }
};
Pos pos(EffectHandle& e) {
  return {myfxProbe::state(e.object()).grainOffset,
          e->getParameter(e.effect, Param::kGrainOffset)};
}

TEST(AdoptionRace, ParameterCallsLandWhollyBeforeOrAfter) {
  const Adoption adoptions[] = {
      {"first tempo query", [](AEffect*) {}, processOne},
      {"resume at a new rate",
       [](AEffect* e) {
         processOne(e);
         TestHost::dispatch(e, Op::kSuspendResume, 0, 0);
         TestHost::dispatch(e, Op::kSetSampleRate, 0, 0, nullptr, 8000.0f);
       },
       [](AEffect* e) { TestHost::dispatch(e, Op::kSuspendResume, 0, 1); }},
      {"first block after a rate set while resumed",
       [](AEffect* e) {
         TestHost::dispatch(e, Op::kSuspendResume, 0, 1);
         processOne(e);
         TestHost::dispatch(e, Op::kSetSampleRate, 0, 0, nullptr, 8000.0f);
       },
       processOne},
  };
  TestHost host;
  host.tempo = 90.0;
  for (const Adoption& adoption : adoptions) {
    // The two orders, played one after the other, and what a getter may
    // see along either.
    std::vector<Pos> ends;
    std::vector<float> answers;
    for (bool setFirst : {true, false}) {
      EffectHandle twin{host.load()};
      adoption.prepare(twin.effect);
      answers.push_back(pos(twin).answer);
      if (setFirst) twin->setParameter(twin.effect, Param::kGrainOffset, kSet);
      answers.push_back(pos(twin).answer);
      adoption.adopt(twin.effect);
      answers.push_back(pos(twin).answer);
      if (!setFirst) twin->setParameter(twin.effect, Param::kGrainOffset, kSet);
      ends.push_back(pos(twin));
      answers.push_back(ends.back().answer);
    }

    constexpr int kRounds = 400;
    int wrongEnds = 0, wrongAnswers = 0;
    for (int round = 0; round < kRounds; ++round) {
      EffectHandle e{host.load()};
      adoption.prepare(e.effect);
      const myfx& f = e.object();
      const int32_t loop = myfxProbe::loopLength(f);
      std::atomic<int> stage{0};
      bool answeredWrong = false;
      std::thread caller([&] {
        pinToCore(1);
        stage.fetch_add(1);
        // Times the calls on the adoption's first store: the loop length
        // or the rate changes before the settings are converted.
        while (myfxProbe::loopLength(f) == loop &&
               myfxProbe::sampleRateHz(f) == 44100 && stage.load() < 3) {
        }
        for (int k = 0; k < 16; ++k) {
          if (k == round % 2)
            e->setParameter(e.effect, Param::kGrainOffset, kSet);
          const float a = e->getParameter(e.effect, Param::kGrainOffset);
          if (std::find(answers.begin(), answers.end(), a) == answers.end()) {
            answeredWrong = true;
          }
        }
      });
      pinToCore(0);
      while (stage.load() < 1) {
      }
      adoption.adopt(e.effect);
      stage.store(3);
      caller.join();
      const Pos end = pos(e);
      if (!(end == ends[0]) && !(end == ends[1])) ++wrongEnds;
      if (answeredWrong) ++wrongAnswers;
    }
    EXPECT_EQ(wrongEnds, 0) << adoption.what << ": of " << kRounds << " rounds";
    EXPECT_EQ(wrongAnswers, 0)
        << adoption.what << ": of " << kRounds << " rounds";
  }
}

}  // namespace
