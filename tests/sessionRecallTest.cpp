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
                  0.5f);  // 32 sixteenths: 176400 samples at 120 bpm,
                          // 235200 at 90
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
            "   7759");  // 11025 x 0.7 + 42
  EXPECT_EQ(display(e.effect, Param::kGrainOffset), " 176400");
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
  EXPECT_EQ(myfxProbe::state(f).grainStart[0], 22050.0f);
}

// A setting on another thread racing the first tempo query. During the
// race the engine reads, and getParameter answers, only what some step of
// it may hold: the construction value, or a value set converted against the
// loop of the first query; never one converted against the placeholder.
// Afterwards the parameter holds the last value set, converted once.
TEST(SessionRecall, SettingRacingTheFirstQueryShowsNoPlaceholderConversion) {
  TestHost host;
  host.tempo = 90.0;  // 32 sixteenths: 235200 samples
  constexpr int32_t kLoopRelative[] = {Param::kStartInterval,
                                       Param::kGrainOffset, Param::kLengthBase};
  constexpr float kValues[] = {0.5f, 0.25f};  // exact against every loop
  // Fields and answers allowed during the race, from instances that settled
  // each value against the real loop.
  std::vector<int32_t> fields[Param::kCount];
  std::vector<float> answers[Param::kCount];
  auto field = [](const myfx& f, int32_t i) {
    return i == Param::kStartInterval ? myfxProbe::state(f).startInterval
           : i == Param::kGrainOffset ? myfxProbe::state(f).grainOffset
                                      : myfxProbe::state(f).lengthBase;
  };
  for (int setting = -1; setting < 2; ++setting) {
    EffectHandle settled{host.load()};
    settled->setParameter(settled.effect, Param::kBufferSixteenths, 0.5f);
    processSilence(settled.effect, 1);
    for (int32_t i : kLoopRelative) {
      if (setting >= 0)
        settled->setParameter(settled.effect, i, kValues[setting]);
      fields[i].push_back(field(settled.object(), i));
      answers[i].push_back(settled->getParameter(settled.effect, i));
    }
  }
  auto allowed = [](const auto& list, auto value) {
    return std::find(list.begin(), list.end(), value) != list.end();
  };

  constexpr int kRounds = 3000;
  for (int round = 0; round < kRounds; ++round) {
    EffectHandle e{host.load()};
    e->setParameter(e.effect, Param::kBufferSixteenths, 0.5f);
    std::atomic<int> stage{0};
    int last[Param::kCount] = {};
    std::thread setter([&] {
      stage.fetch_add(1);
      while (stage.load() < 2) {
      }
      // Keeps setting until the first sample is done, and a little after.
      for (int k = 0, after = 0; after < 16; ++k) {
        if (stage.load(std::memory_order_relaxed) == 3) ++after;
        for (int32_t i : kLoopRelative) {
          last[i] = (k + i + round) % 2;
          e->setParameter(e.effect, i, kValues[last[i]]);
        }
      }
    });
    stage.fetch_add(1);
    while (stage.load() < 2) {
    }
    processSilence(e.effect, 1);
    stage.store(3);
    // What the engine would read now and what a host would be answered.
    for (int look = 0; look < 200; ++look) {
      for (int32_t i : kLoopRelative) {
        const int32_t f = field(e.object(), i);
        ASSERT_TRUE(allowed(fields[i], f))
            << "round " << round << ", parameter " << i << ", field " << f;
        const float a = e->getParameter(e.effect, i);
        ASSERT_TRUE(allowed(answers[i], a))
            << "round " << round << ", parameter " << i << ", answer " << a;
      }
    }
    setter.join();
    for (int32_t i : kLoopRelative) {
      ASSERT_EQ(field(e.object(), i), fields[i][1 + last[i]])
          << "round " << round << ", parameter " << i;
    }
  }
}

// Before any audio "st rate" and "len" are answered against the loop the
// first query derives at 120 bpm, with the "bsize" and rate in force: a
// value saved at that loop, or read before a rate change and written back
// after it, comes back as the count it stood for.
TEST(SessionRecall, ValuesBeforeAudioStandForTheLoopAt120Bpm) {
  struct Row {
    const char* what;
    float rate;    // the rate in force when the values are written back
    float stRate;  // the values written back (0: a new instance's answer)
    float len;
    const char* wantStRate;  // the displays after the first sample
    const char* wantLen;
  } rows[] = {
      {"defaults read and written back", 44100.0f, 0, 0, "    882", "   4000"},
      {"saved at 1722 and 7958 samples", 44100.0f, 1680.0f / 5512,
       7916.0f / 22050, "   1722", "   7958"},
      {"read at 44.1 kHz, written back at 48 kHz", 48000.0f, 0, 0, "    956",
       "   4350"},
  };
  TestHost host;  // 120 bpm
  for (const Row& row : rows) {
    EffectHandle settings{host.load()};
    EffectHandle e{host.load()};
    TestHost::resumeAtRate(e.effect, row.rate);
    const int32_t indexes[] = {Param::kStartInterval, Param::kLengthBase};
    const float values[] = {row.stRate, row.len};
    for (int i = 0; i < 2; ++i) {
      e->setParameter(
          e.effect, indexes[i],
          values[i] != 0 ? values[i]
                         : settings->getParameter(settings.effect, indexes[i]));
    }
    processSilence(e.effect, 1);
    EXPECT_EQ(display(e.effect, Param::kStartInterval), row.wantStRate)
        << row.what;
    EXPECT_EQ(display(e.effect, Param::kLengthBase), row.wantLen) << row.what;
  }
  EffectHandle e{host.load()};
  e->setParameter(e.effect, Param::kBufferSixteenths, 31.0f / 63);  // 32
  EXPECT_EQ(e->getParameter(e.effect, Param::kStartInterval),
            840.0f / (176400 / 16));
}

// The left output of `frames` samples of a tone, in one call.
std::vector<float> toneOut(AEffect* e, size_t frames) {
  std::vector<float> in(frames), left(frames), right(frames);
  for (size_t k = 0; k < frames; ++k) {
    in[k] = static_cast<float>(std::sin(0.01 * static_cast<double>(k)));
  }
  float* inputs[] = {in.data(), in.data()};
  float* outputs[] = {left.data(), right.data()};
  e->processReplacing(e, inputs, outputs, static_cast<int32_t>(frames));
  return left;
}

// Writing back exactly what "st rate", "pos" and "len" answer changes
// nothing, also where the answer lies above 1: "bsize" at its smallest
// before audio, or a loop shortened under values set for a longer one, by
// "bsize" or by the tempo. The same answers, counts and output as a twin
// left alone.
TEST(SessionRecall, WritingBackAnAnswerAboveOneChangesNothing) {
  const struct {
    const char* what;
    double tempo;       // before the first sample
    float sixteenths;   // "bsize" before the first sample
    double tempoAfter;  // and after it, when each setting is at 1
    float sixteenthsAfter;
  } rows[] = {
      {"before audio, bsize 1", 120.0, 0.0f, 0, 0},
      {"bsize lowered from 64 to 1", 120.0, 1.0f, 120.0, 0.0f},
      {"tempo raised from 60 to 240", 60.0, 15.0f / 63, 240.0, 15.0f / 63},
  };
  const int32_t loopSettings[] = {Param::kStartInterval, Param::kGrainOffset,
                                  Param::kLengthBase};
  for (const auto& row : rows) {
    TestHost host;
    host.tempo = row.tempo;
    EffectHandle plain{host.load()};
    EffectHandle written{host.load()};
    for (EffectHandle* e : {&plain, &written}) {
      TestHost::seed(e->effect, 7);
      (*e)->setParameter(e->effect, Param::kBufferSixteenths, row.sixteenths);
      if (row.tempoAfter == 0) continue;
      processSilence(e->effect, 1);
      for (int32_t i : loopSettings) (*e)->setParameter(e->effect, i, 1.0f);
      (*e)->setParameter(e->effect, Param::kBufferSixteenths,
                         row.sixteenthsAfter);
    }
    host.tempo = row.tempoAfter == 0 ? row.tempo : row.tempoAfter;
    if (row.tempoAfter != 0) {
      processSilence(plain.effect, 1);
      processSilence(written.effect, 1);
    }
    for (int32_t i : loopSettings) {
      const float read = written->getParameter(written.effect, i);
      // "pos" answers 0 before audio: its default.
      if (row.tempoAfter != 0 || i != Param::kGrainOffset) {
        ASSERT_GT(read, 1.0f) << row.what << ", parameter " << i;
      }
      written->setParameter(written.effect, i, read);
      EXPECT_EQ(written->getParameter(written.effect, i), read)
          << row.what << ", parameter " << i;
    }
    expectSame(save(written.effect), save(plain.effect), row.what);
    const reference::EngineState a = myfxProbe::state(plain.object());
    const reference::EngineState b = myfxProbe::state(written.object());
    EXPECT_EQ(
        std::vector<int32_t>({a.startInterval, a.grainOffset, a.lengthBase}),
        std::vector<int32_t>({b.startInterval, b.grainOffset, b.lengthBase}))
        << row.what;
    EXPECT_EQ(toneOut(plain.effect, 44100), toneOut(written.effect, 44100))
        << row.what;
  }
}

// A host that reads every value of a new instance and writes it back before
// processing (as some hosts do for each new instance) changes nothing, nor
// does one that writes back what it read after restoring a session: the
// same output, bit for bit, and the same values and texts.
TEST(SessionRecall, WritingBackWhatWasReadChangesNothing) {
  for (double tempo : {90.0, 120.0}) {
    TestHost host;
    host.tempo = tempo;
    const Saved played = playAndSave(host, 13.0f / 63.0f);
    for (bool restoreFirst : {false, true}) {
      EffectHandle plain{host.load()};
      EffectHandle written{host.load()};
      for (EffectHandle* e : {&plain, &written}) {
        if (restoreFirst) restore(e->effect, played, kIndexOrder);
        TestHost::seed(e->effect, 1);
      }
      const Saved before = save(written.effect);
      for (const std::vector<int32_t>& order :
           {kIndexOrder,
            std::vector<int32_t>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}}) {
        restore(written.effect, save(written.effect), order);
      }
      expectSame(save(written.effect), before, "before audio");
      const std::string at = "tempo " + std::to_string(tempo) +
                             (restoreFirst ? ", restored" : ", new");
      std::vector<float> in(9000), out[2][2];
      for (size_t k = 0; k < in.size(); ++k) {
        in[k] = static_cast<float>(std::sin(0.01 * static_cast<double>(k)));
      }
      int n = 0;
      for (EffectHandle* e : {&plain, &written}) {
        out[n][0].assign(in.size(), 0.0f);
        out[n][1].assign(in.size(), 0.0f);
        float* inputs[] = {in.data(), in.data()};
        float* outputs[] = {out[n][0].data(), out[n][1].data()};
        (*e)->processReplacing(e->effect, inputs, outputs,
                               static_cast<int32_t>(in.size()));
        ++n;
      }
      EXPECT_EQ(std::memcmp(out[0][0].data(), out[1][0].data(),
                            in.size() * sizeof(float)),
                0)
          << at;
      expectSame(save(written.effect), save(plain.effect), at);
      if (restoreFirst) expectSame(save(written.effect), played, at);
    }
  }
}

}  // namespace
