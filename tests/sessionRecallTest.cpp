// Sessions saved and reopened as hosts do it: the host saves what
// getParameter answers and restores it through setParameter on a new
// instance before any audio. "st rate", "pos" and "len" must come back as
// they were saved, although the loop they count samples of is only known at
// the first processed sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "TestHost.h"
#include "myfxProbe.h"
#include "opcodes.h"
#include "parameterIndex.h"

namespace {

std::string display(AEffect* e, int32_t index) {
  char text[32] = {};
  TestHost::dispatch(e, EffectOpcode::kGetParameterDisplay, index, 0, text);
  return text;
}

void processSilence(AEffect* e, int32_t frames) {
  static float in[2][512], out[2][512];
  float* inputs[] = {in[0], in[1]};
  float* outputs[] = {out[0], out[1]};
  for (int32_t done = 0; done < frames; done += 512) {
    e->processReplacing(e, inputs, outputs, std::min(512, frames - done));
  }
}

// What a host keeps of an instance: the eleven values, and the texts a user
// saw beside them.
struct Saved {
  float values[Param::kCount];
  std::string displays[Param::kCount];
};

Saved save(AEffect* e) {
  Saved saved;
  for (int32_t i = 0; i < Param::kCount; ++i) {
    saved.values[i] = e->getParameter(e, i);
    saved.displays[i] = display(e, i);
  }
  return saved;
}

void expectSame(const Saved& got, const Saved& want, const std::string& at) {
  for (int32_t i = 0; i < Param::kCount; ++i) {
    EXPECT_EQ(got.values[i], want.values[i]) << at << ", parameter " << i;
    EXPECT_EQ(got.displays[i], want.displays[i]) << at << ", parameter " << i;
  }
}

void restore(AEffect* e, const Saved& saved,
             const std::vector<int32_t>& order) {
  for (int32_t i : order) e->setParameter(e, i, saved.values[i]);
}

const std::vector<int32_t> kIndexOrder = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

// A musician's settings, made while the session plays: "bsize" first, so
// that the others are read against the loop it gives.
Saved playAndSave(TestHost& host, float bsize) {
  EffectHandle e{host.load()};
  processSilence(e.effect, 1000);
  e->setParameter(e.effect, Param::kBufferSixteenths, bsize);
  processSilence(e.effect, 512);
  const float values[] = {bsize, 0.3f, 0.1f, 0.5f, 0.05f, 0.3f,
                          0.1f,  0.2f, 0.6f, 0.1f, 0.4f};
  for (int32_t i = 1; i < Param::kCount; ++i) {
    e->setParameter(e.effect, i, values[i]);
  }
  processSilence(e.effect, 2048);
  return save(e.effect);
}

// Saves while playing, then reopens three times in a row, each reopening
// restoring what the one before reported: nothing drifts.
TEST(SessionRecall, ReopenedSessionsKeepEveryValueAndText) {
  for (double tempo : {61.0, 90.0, 120.0, 143.7}) {
    for (float bsize : {0.0f, 0.2f, 13.0f / 63.0f, 0.5f, 1.0f}) {
      TestHost host;
      host.tempo = tempo;
      const Saved original = playAndSave(host, bsize);
      Saved saved = original;
      for (int reopen = 1; reopen <= 3; ++reopen) {
        const std::string at = "tempo " + std::to_string(tempo) + ", bsize " +
                               std::to_string(bsize) + ", reopen " +
                               std::to_string(reopen);
        EffectHandle e{host.load()};
        restore(e.effect, saved, kIndexOrder);
        processSilence(e.effect, 256);
        const Saved now = save(e.effect);
        expectSame(now, original, at);
        saved = now;
      }
    }
  }
}

// A host may restore in another order: the loop-relative values before the
// "bsize" that their loop depends on.
TEST(SessionRecall, RestoreOrderDoesNotMatter) {
  TestHost host;
  host.tempo = 90.0;
  const Saved original = playAndSave(host, 13.0f / 63.0f);
  for (const std::vector<int32_t>& order :
       {std::vector<int32_t>{2, 4, 6, 0, 1, 3, 5, 7, 8, 9, 10},
        std::vector<int32_t>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}}) {
    EffectHandle e{host.load()};
    restore(e.effect, original, order);
    restore(e.effect, original, order);  // hosts may restore twice
    processSilence(e.effect, 1);
    expectSame(save(e.effect), original,
               "order from " + std::to_string(order.front()));
  }
}

// Before any audio the loop-relative values read back as set, clamped as
// every value is; the display shows the count against the placeholder loop
// until the first sample converts them against the real one.
TEST(SessionRecall, ValuesSetBeforePlayingReadBackAsSet) {
  TestHost host;
  host.tempo = 90.0;
  EffectHandle e{host.load()};
  e->setParameter(e.effect, Param::kBufferSixteenths,
                  0.5f);  // 32 sixteenths: 235200 samples
  e->setParameter(e.effect, Param::kStartInterval, 0.3f);
  e->setParameter(e.effect, Param::kStartInterval,
                  0.7f);  // a later set replaces
  e->setParameter(e.effect, Param::kGrainOffset, 1.5f);
  e->setParameter(e.effect, Param::kLengthBase,
                  std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(e->getParameter(e.effect, Param::kStartInterval), 0.7f);
  EXPECT_EQ(e->getParameter(e.effect, Param::kGrainOffset), 1.0f);
  EXPECT_EQ(e->getParameter(e.effect, Param::kLengthBase), 0.0f);
  EXPECT_EQ(display(e.effect, Param::kStartInterval),
            "   1971");  // 2756 x 0.7 + 42
  EXPECT_EQ(display(e.effect, Param::kGrainOffset), "  44100");
  EXPECT_EQ(display(e.effect, Param::kLengthBase), "     42");

  processSilence(e.effect, 1);
  EXPECT_EQ(display(e.effect, Param::kStartInterval),
            "  10332");  // 14700 x 0.7 + 42
  EXPECT_EQ(display(e.effect, Param::kGrainOffset), " 235200");
  EXPECT_EQ(display(e.effect, Param::kLengthBase), "     42");
  EXPECT_EQ(e->getParameter(e.effect, Param::kStartInterval), 0.7f);
  EXPECT_EQ(e->getParameter(e.effect, Param::kGrainOffset), 1.0f);

  // From here on the counts stay, whatever the loop does.
  e->setParameter(e.effect, Param::kGrainOffset, 0.5f);
  e->setParameter(e.effect, Param::kBufferSixteenths,
                  0.0f);  // one sixteenth: 7350 samples
  processSilence(e.effect, 1);
  EXPECT_EQ(display(e.effect, Param::kGrainOffset), " 117600");
  EXPECT_EQ(e->getParameter(e.effect, Param::kGrainOffset), 16.0f);
}

// The conversion at the first sample happens inside the one tempo query the
// engine makes anyway: the same number of queries, and the first grain
// starts where the converted settings say.
TEST(SessionRecall, FirstSampleConvertsWithoutExtraQueries) {
  TestHost host;  // 120 bpm: 16 sixteenths are 88200 samples
  EffectHandle e{host.load()};
  e->setParameter(e.effect, Param::kStartInterval,
                  0.1f);  // 551 + 42 of the real loop
  e->setParameter(e.effect, Param::kGrainOffset, 0.25f);  // cell 22050
  processSilence(e.effect, 593);
  EXPECT_EQ(host.count(7), 593);
  const myfx& f = e.object();
  EXPECT_EQ(myfxProbe::soundingSlots(f), 0u);
  processSilence(e.effect, 1);
  EXPECT_EQ(myfxProbe::soundingSlots(f), 1u);
  EXPECT_EQ(myfxProbe::grainStart(f)[0], 22050.0f);
}

// A setting on another thread racing the first tempo query: whichever wins,
// the parameter ends with the last value set, converted once against the
// loop of the first query, and nothing stays pending.
TEST(SessionRecall, SettingRacingTheFirstQueryIsNeverLost) {
  TestHost host;
  host.tempo = 90.0;
  // What a set against the real loop of 235200 samples gives.
  EffectHandle settled{host.load()};
  settled->setParameter(settled.effect, Param::kBufferSixteenths, 0.5f);
  processSilence(settled.effect, 1);

  constexpr int kRounds = 1000;
  constexpr int kSetsPerRound = 8;
  for (int round = 0; round < kRounds; ++round) {
    EffectHandle e{host.load()};
    e->setParameter(e.effect, Param::kBufferSixteenths, 0.5f);
    for (int32_t i :
         {Param::kStartInterval, Param::kGrainOffset, Param::kLengthBase})
      e->setParameter(e.effect, i, 0.9f);
    float last[Param::kCount] = {};
    std::atomic<int> ready{0};
    std::thread setter([&] {
      ready.fetch_add(1);
      while (ready.load() < 2) {
      }
      for (int k = 1; k <= kSetsPerRound; ++k) {
        for (int32_t i :
             {Param::kStartInterval, Param::kGrainOffset, Param::kLengthBase}) {
          last[i] = static_cast<float>((round * 7 + k * 13 + i) % 1000) / 1000;
          e->setParameter(e.effect, i, last[i]);
        }
      }
    });
    ready.fetch_add(1);
    while (ready.load() < 2) {
    }
    processSilence(e.effect, 1);
    setter.join();
    for (int32_t i :
         {Param::kStartInterval, Param::kGrainOffset, Param::kLengthBase}) {
      settled->setParameter(settled.effect, i, last[i]);
      ASSERT_EQ(display(e.effect, i), display(settled.effect, i))
          << "round " << round << ", parameter " << i;
      ASSERT_EQ(e->getParameter(e.effect, i),
                settled->getParameter(settled.effect, i))
          << "round " << round << ", parameter " << i;
    }
  }
}

}  // namespace
