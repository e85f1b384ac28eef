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
#include <sched.h>

#include <chrono>
#include <ctime>
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

// A short busy wait of `n` steps, to sweep one thread's timing across
// another's.
void spin(int n) {
  for (volatile int i = 0; i < n * 8; ++i) {
  }
}

// `call` on the second core against `audio` on the first (this thread), the
// two let go together.
template <typename Audio, typename Call>
void race(Audio audio, Call call) {
  std::atomic<int> stage{0};
  std::thread caller([&] {
    pinToCore(1);
    stage = 1;
    while (stage < 2) {
    }
    call();
  });
  pinToCore(0);
  while (stage < 1) {
  }
  stage = 2;
  audio();
  caller.join();
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
      std::atomic<bool> adopted{false};
      race(
          [&] {
            adoption.adopt(e.effect);
            adopted = true;
          },
          [&] {
            // Timed on the adoption's first store: the loop or the rate
            // changes before the settings are converted or scaled.
            while (myfxProbe::loopLength(f) == loop &&
                   myfxProbe::sampleRateHz(f) == 44100 && !adopted) {
            }
            for (int k = 0; k < 16; ++k) {
              if (k == round % 2)
                e->setParameter(e.effect, Param::kGrainOffset, kSet);
              const float a = e->getParameter(e.effect, Param::kGrainOffset);
              if (std::find(answers.begin(), answers.end(), a) ==
                  answers.end()) {
                ++wrongAnswers;
                break;
              }
            }
          });
      const int32_t end = myfxProbe::state(f).grainOffset;
      if (std::find(ends.begin(), ends.end(), end) == ends.end()) ++wrongEnds;
    }
    EXPECT_EQ(wrongEnds, 0) << adoption.what << ", of " << kRounds;
    EXPECT_EQ(wrongAnswers, 0) << adoption.what << ", of " << kRounds;
  }
}

// The rate set last decides under any interleaving: with 48000 Hz prepared
// and 44100 in use, a block of one sample racing a call that sets 44100
// (opcode 10 or 43) leaves the next block at 44100, as both orders do.
TEST(AdoptionRace, TheRateSetLastDecides) {
  TestHost host;
  for (int32_t opcode : {EffectOpcode::kSetSampleRate,
                         EffectOpcode::kSetBlockSizeAndSampleRate}) {
    int lost = 0;
    constexpr int kRounds = 200;
    for (int round = 0; round < kRounds; ++round) {
      EffectHandle e{host.load()};
      processOne(e.effect);
      TestHost::dispatch(e.effect, EffectOpcode::kSetSampleRate, 0, 0, nullptr,
                         48000.0f);
      race([&] { processOne(e.effect); },
           [&] {
             spin(round % 32);
             TestHost::dispatch(e.effect, opcode, 0, 512, nullptr, 44100.0f);
           });
      processOne(e.effect);
      lost += myfxProbe::sampleRateHz(e.object()) != 44100;
    }
    EXPECT_EQ(lost, 0) << "opcode " << opcode << ", of " << kRounds;
  }
}

// The first tempo query takes "bsize" as it stands where the query takes
// effect. With "st rate" set before audio, a "bsize" set and then a "st rate"
// read racing that query give an answer and a final count that one of the
// three orders gives: query, set, read; set, query, read; set, read, query.
TEST(AdoptionRace, TheFirstQueryTakesTheBsizeInForceWhereItTakesEffect) {
  TestHost host;
  auto start = [&host] {
    AEffect* e = host.load();
    e->setParameter(e, Param::kStartInterval, 0.5f);
    return e;
  };
  auto setAndRead = [](AEffect* e) {
    e->setParameter(e, Param::kBufferSixteenths, 0.0f);
    return e->getParameter(e, Param::kStartInterval);
  };
  std::vector<std::pair<float, int32_t>> outcomes;
  for (int queryAt = 0; queryAt < 3; ++queryAt) {
    EffectHandle twin{start()};
    if (queryAt == 0) processOne(twin.effect);
    twin->setParameter(twin.effect, Param::kBufferSixteenths, 0.0f);
    if (queryAt == 1) processOne(twin.effect);
    const float answer = twin->getParameter(twin.effect, Param::kStartInterval);
    if (queryAt == 2) processOne(twin.effect);
    outcomes.push_back({answer, myfxProbe::state(twin.object()).startInterval});
  }
  int wrong = 0;
  constexpr int kRounds = 1000;
  for (int round = 0; round < kRounds; ++round) {
    EffectHandle e{start()};
    std::atomic<bool> asked{false}, going{false};
    float answer = 0.0f;
    // The engine asks for the tempo just before it derives the first loop:
    // there it lets the caller go, and goes on a varying moment later.
    host.onTimeQuery = [&] {
      asked = true;
      while (!going) {
      }
      spin(round % 12);
    };
    race([&] { processOne(e.effect); },
         [&] {
           e->getParameter(e.effect, Param::kStartInterval);  // cached here
           while (!asked) {
           }
           going = true;
           answer = setAndRead(e.effect);
         });
    host.onTimeQuery = nullptr;
    const std::pair<float, int32_t> seen{
        answer, myfxProbe::state(e.object()).startInterval};
    wrong +=
        std::find(outcomes.begin(), outcomes.end(), seen) == outcomes.end();
  }
  EXPECT_EQ(wrong, 0) << "of " << kRounds;
}

#if defined(__linux__)
// A parameter call never waits for a thread that may be preempted. A
// real-time thread wakes again and again on the core where resumes adopt
// new rates; when it interrupts an adoption half done, its call finishes at
// once instead of spinning until the kernel throttles it.
TEST(AdoptionRace, AParameterCallAtRealTimePriorityFinishesInBoundedTime) {
  using Clock = std::chrono::steady_clock;
  TestHost host;
  EffectHandle e{host.load()};
  processOne(e.effect);
  std::atomic<bool> done{false}, refused{false};
  std::atomic<int64_t> longest{0};  // microseconds
  std::thread resumer([&] {
    pinToCore(0);
    for (float rate = 8000.0f; !done;
         rate = rate == 8000.0f ? 8001.0f : 8000.0f) {
      TestHost::resumeAtRate(e.effect, rate);
    }
  });
  std::thread realTime([&] {
    pinToCore(0);
    const sched_param priority{1};
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) != 0) {
      refused = true;
    }
    const Clock::time_point end = Clock::now() + std::chrono::seconds(2);
    const timespec pause{0, 10000};
    for (int k = 0; !refused && Clock::now() < end && longest < 100000; ++k) {
      nanosleep(&pause, nullptr);
      const Clock::time_point t0 = Clock::now();
      e->setParameter(e.effect, Param::kGrainOffset, k % 2 ? 0.25f : 0.5f);
      const int64_t took =
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() -
                                                                t0)
              .count();
      if (took > longest) longest = took;
    }
    done = true;
  });
  // A call that never ends on the old protocol is ended here: the thread
  // loses its real-time priority, so the resume can finish its adoption.
  pinToCore(1);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(4);
  while (!done && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const sched_param ordinary{0};
  pthread_setschedparam(realTime.native_handle(), SCHED_OTHER, &ordinary);
  realTime.join();
  resumer.join();
  if (refused) GTEST_SKIP() << "SCHED_FIFO needs root (CAP_SYS_NICE)";
  EXPECT_LT(longest, 50000) << "microseconds, the longest call";
}
#endif

}  // namespace
