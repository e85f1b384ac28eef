// korvane follows the host's sample rate: a rate set before a resume becomes
// the rate of every sample count, so loops keep their notated length in
// seconds; anything else a host may send changes nothing at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "TestHost.h"
#include "myfxProbe.h"
#include "opcodes.h"
#include "parameterIndex.h"
#include "reference/SideBySide.h"
#include "reference/StateDiff.h"

namespace {

namespace Op = EffectOpcode;

std::string display(AEffect* e, int32_t index) {
  char text[32] = {};
  TestHost::dispatch(e, Op::kGetParameterDisplay, index, 0, text);
  return text;
}

// A retriggering stereo input, processed in blocks of 512; answers both
// outputs, interleaved.
std::vector<float> render(AEffect* e, int32_t frames, int32_t from = 0) {
  std::vector<float> out;
  float inL[512], inR[512], outL[512], outR[512];
  for (int32_t done = 0; done < frames; done += 512) {
    const int32_t n = std::min(512, frames - done);
    for (int32_t k = 0; k < n; ++k) {
      const int32_t t = from + done + k;
      inL[k] = (t / 3000) % 2 ? 0.5f : -0.5f;
      inR[k] = 0.25f * std::sin(0.003f * static_cast<float>(t));
    }
    float* inputs[] = {inL, inR};
    float* outputs[] = {outL, outR};
    e->processReplacing(e, inputs, outputs, n);
    for (int32_t k = 0; k < n; ++k) {
      out.push_back(outL[k]);
      out.push_back(outR[k]);
    }
  }
  return out;
}

// A rate set through either opcode is adopted at the next resume, not
// before: the capture holds 8 seconds at that rate, a loop of 16 sixteenths
// at 120 bpm lasts 2 seconds, and the default grain spacing and length keep
// their length in time. LMMS resumes at 44100 Hz first, then at its rate.
TEST(SampleRate, AdoptedAtTheNextResume) {
  struct Row {
    std::vector<float> resumes;  // rates set, each followed by a resume
    bool blockAndRateOpcode;     // opcode 43 instead of 10
    int32_t loop;                // at 120 bpm after the first sample
    const char* stRate;          // displays before any audio
    const char* len;
  } rows[] = {
      {{48000.0f}, false, 96000, "    956", "   4350"},
      {{96000.0f}, true, 192000, "   1871", "   8658"},
      {{44100.0f, 48000.0f}, false, 96000, "    956", "   4350"},
      {{88200.9f}, false, 176400, "   1722", "   7958"},
  };
  for (const Row& row : rows) {
    TestHost host;
    EffectHandle e(host.load());
    const float settled = row.resumes.back();
    int32_t capacity = 8 * 44100;
    for (float rate : row.resumes) {
      if (row.blockAndRateOpcode) {
        TestHost::dispatch(e.effect, Op::kSetBlockSizeAndSampleRate, 0, 512,
                           nullptr, rate);
      } else {
        TestHost::dispatch(e.effect, Op::kSetSampleRate, 0, 0, nullptr, rate);
      }
      // Set but not yet resumed: still the rate before.
      EXPECT_EQ(myfxProbe::bufferCapacity(e.object()), capacity);
      TestHost::dispatch(e.effect, Op::kSuspendResume, 0, 1);
      capacity = 8 * static_cast<int32_t>(rate);
      if (rate == 44100.0f) {  // parameters set between the two resumes
        e->setParameter(e.effect, Param::kGrainOffset, 0.5f);
      }
    }
    const int32_t rate = static_cast<int32_t>(settled);
    const std::string at = "rate " + std::to_string(rate);
    EXPECT_EQ(myfxProbe::sampleRateHz(e.object()), rate) << at;
    EXPECT_EQ(myfxProbe::bufferCapacity(e.object()), 8 * rate) << at;
    EXPECT_EQ(display(e.effect, Param::kStartInterval), row.stRate) << at;
    EXPECT_EQ(display(e.effect, Param::kLengthBase), row.len) << at;
    const bool pending = row.resumes.size() > 1;
    render(e.effect, 1);
    EXPECT_EQ(myfxProbe::state(e.object()).loopLength, row.loop) << at;
    EXPECT_EQ(myfxProbe::state(e.object()).recordLength, 2 * row.loop) << at;
    // A value set before any audio still counts samples of the real loop.
    EXPECT_EQ(myfxProbe::state(e.object()).grainOffset,
              pending ? row.loop / 2 : 0)
        << at;
  }
}

// A new rate after audio ran: the settings read back as before (up to one
// step of rounding), the grains and the capture start again in new, silent
// buffers, and the next tempo query derives the loop at the new rate.
TEST(SampleRate, RateChangeAfterAudioRestartsTheEngine) {
  TestHost host;
  EffectHandle e(host.load());
  TestHost::resumeAtRate(e.effect, 44100.0f);
  e->setParameter(e.effect, Param::kRecordThreshold, 0.1f);
  render(e.effect, 1);
  const float settings[][2] = {{Param::kStartInterval, 0.3f},
                               {Param::kGrainOffset, 0.1f},
                               {Param::kLengthBase, 0.07f},
                               {Param::kPositionJitter, 0.5f}};
  for (const auto& s : settings) {
    e->setParameter(e.effect, static_cast<int32_t>(s[0]), s[1]);
  }
  render(e.effect, 30000);
  ASSERT_NE(myfxProbe::soundingSlots(e.object()), 0u);
  float before[Param::kCount];
  for (int32_t i = 0; i < Param::kCount; ++i) {
    before[i] = e->getParameter(e.effect, i);
  }

  TestHost::resumeAtRate(e.effect, 96000.0f);
  const myfx& f = e.object();
  const double steps[Param::kCount] = {0, 0, 12000, 0, 192000, 0, 48000};
  for (int32_t i = 0; i < Param::kCount; ++i) {
    EXPECT_NEAR(e->getParameter(e.effect, i), before[i],
                steps[i] == 0 ? 0.0 : 1.0 / steps[i])
        << "parameter " << i;
  }
  EXPECT_EQ(myfxProbe::soundingSlots(f), 0u);
  EXPECT_EQ(myfxProbe::state(f).recordPosition, 0);
  EXPECT_EQ(myfxProbe::state(f).startCounter, 0);
  const float* left = myfxProbe::recordBufferLeft(f);
  EXPECT_EQ(std::count(left, left + 8 * 96000, 0.0f), 8 * 96000);

  const std::vector<float> out = render(e.effect, 5000);
  EXPECT_EQ(myfxProbe::state(f).loopLength, 192000);
  const int32_t firstGrain = myfxProbe::state(f).startInterval + 1;
  for (int32_t k = 0; k < firstGrain - 1; ++k) {
    ASSERT_EQ(out[2 * k], 0.0f) << "sample " << k;
  }
  EXPECT_NE(myfxProbe::soundingSlots(f), 0u);
}

// Where a host's rate takes effect, in the orders hosts use: at the next
// resume, or at the next processing call with a sample, whichever comes
// first. Neither a resume nor a processing call allocates.
TEST(SampleRate, AdoptedWhereItTakesEffectWithoutAllocating) {
  enum Step { kSuspend, kResume, kRate44100, kRate48000, kEmptyBlock, kBlock };
  struct Row {
    const char* host;
    std::vector<Step> steps;
    std::vector<int32_t> capacities;  // after each step, in seconds at Hz
  } rows[] = {
      {"LMMS: the rate, then a resume",
       {kRate44100, kResume, kSuspend, kRate48000, kResume, kBlock},
       {44100, 44100, 44100, 44100, 48000, 48000}},
      {"Audacity: a new rate while resumed",
       {kRate44100, kResume, kRate48000, kEmptyBlock, kBlock, kSuspend},
       {44100, 44100, 44100, 44100, 48000, 48000}},
      {"a host that never resumes", {kRate48000, kBlock}, {44100, 48000}},
      {"the last rate set decides",
       {kRate48000, kRate44100, kResume, kBlock},
       {44100, 44100, 44100, 44100}},
  };
  for (const Row& row : rows) {
    TestHost host;
    host.calls.reserve(1024);  // the host's log of calls allocates nothing
    EffectHandle e(host.load());
    float in[2][64] = {}, out[2][64];
    float* inputs[] = {in[0], in[1]};
    float* outputs[] = {out[0], out[1]};
    for (size_t i = 0; i < row.steps.size(); ++i) {
      const Step step = row.steps[i];
      if (step == kRate44100 || step == kRate48000) {
        TestHost::dispatch(e.effect, Op::kSetSampleRate, 0, 0, nullptr,
                           step == kRate44100 ? 44100.0f : 48000.0f);
      }
      startCountingAllocations();
      if (step == kSuspend || step == kResume) {
        TestHost::dispatch(e.effect, Op::kSuspendResume, 0, step == kResume);
      }
      if (step == kEmptyBlock || step == kBlock) {
        e->processReplacing(e.effect, inputs, outputs, step == kBlock ? 64 : 0);
      }
      const int allocations = stopCountingAllocations();
      if (step != kSuspend) {
        EXPECT_EQ(allocations, 0) << row.host << ", step " << i;
      }
      EXPECT_EQ(myfxProbe::bufferCapacity(e.object()), 8 * row.capacities[i])
          << row.host << ", step " << i;
    }
  }
}

// A rate set that is not adopted: the rate set before the resume, and the
// allocation that fails (0 for none).
struct IdleRate {
  const char* what;
  float rate;
  int failFrom;
};

// Sets the rate on one of two like effects and resumes, and expects it to
// leave every bit as it was: allocations, buffers, state and the output that
// follows.
void expectNothingChanged(const IdleRate& row) {
  TestHost host;
  EffectHandle plain(host.load());
  EffectHandle tried(host.load());
  for (EffectHandle* e : {&plain, &tried}) {
    TestHost::seed(e->effect, 7);
    (*e)->setParameter(e->effect, Param::kStartInterval, 0.05f);
    render(e->effect, 20000);
  }
  const float* buffer = myfxProbe::recordBufferLeft(tried.object());
  TestHost::dispatch(tried.effect, Op::kSuspendResume, 0, 0);
  startCountingAllocations();
  failAllocationsFrom(row.failFrom);
  TestHost::dispatch(tried.effect, Op::kSetSampleRate, 0, 0, nullptr, row.rate);
  const int allocations = stopCountingAllocations();
  TestHost::dispatch(tried.effect, Op::kSuspendResume, 0, 1);
  // A failed first buffer may spare the second attempt (a compiler may
  // drop an allocation whose block is only freed again).
  if (row.failFrom == 0) {
    EXPECT_EQ(allocations, 0) << row.what;
  } else {
    EXPECT_GE(allocations, row.failFrom) << row.what;
  }
  EXPECT_EQ(myfxProbe::recordBufferLeft(tried.object()), buffer) << row.what;
  EXPECT_EQ(reference::StateDiff::first(myfxProbe::state(plain.object()),
                                        myfxProbe::state(tried.object())),
            "")
      << row.what;
  EXPECT_TRUE(reference::sameBits(render(plain.effect, 20000, 20000),
                                  render(tried.effect, 20000, 20000)))
      << row.what;
}

// Rates that prepare nothing allocate nothing and change nothing: the same
// rate again (as Ardour sends, and then resumes on its audio thread), and
// rates out of range or not numbers.
TEST(SampleRate, RatesThatAreNotAdoptedChangeNothing) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const IdleRate rows[] = {
      {"same rate", 44100.0f, 0}, {"same rate, fraction", 44100.7f, 0},
      {"zero", 0.0f, 0},          {"negative", -48000.0f, 0},
      {"NaN", kNaN, 0},           {"infinite", kInf, 0},
      {"below 8000", 7999.5f, 0}, {"above 384000", 384001.0f, 0},
      {"absurd", 1e12f, 0},
  };
  for (const IdleRate& row : rows) expectNothingChanged(row);
}

// A rate whose new buffers cannot both be allocated is not prepared, and
// changes nothing either. It fails the allocations through the test
// runner's counter, which on Windows cannot reach the library's own heap, so
// the Windows builds leave this test out.
TEST(SampleRate, FailedAllocationChangesNothing) {
  const IdleRate rows[] = {
      {"the record of the pair fails", 48000.0f, 1},
      {"first buffer fails", 48000.0f, 2},
      {"second buffer fails", 48000.0f, 3},
  };
  for (const IdleRate& row : rows) expectNothingChanged(row);
}

}  // namespace
