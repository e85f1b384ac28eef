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

// A resume that adopts nothing: the rate set before it, whether it is sent
// at all, and the allocation that fails (0 for none).
struct IdleResume {
  const char* what;
  float rate;
  bool resume;
  int failFrom;
};

// Runs the resume on one of two like effects and expects it to leave every
// bit as it was: allocations, buffers, state and the output that follows.
void expectNothingChanged(const IdleResume& row) {
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
  TestHost::dispatch(tried.effect, Op::kSetSampleRate, 0, 0, nullptr, row.rate);
  startCountingAllocations();
  failAllocationsFrom(row.failFrom);
  if (row.resume) TestHost::dispatch(tried.effect, Op::kSuspendResume, 0, 1);
  const int allocations = stopCountingAllocations();
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

// Resumes that adopt nothing leave every bit as it was: the same rate again
// (as Ardour sends on its audio thread, which must not allocate), rates out
// of range or not numbers, and a rate set without a resume.
TEST(SampleRate, ResumesThatAdoptNothingChangeNothing) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const IdleResume rows[] = {
      {"same rate", 44100.0f, true, 0},
      {"same rate, fraction", 44100.7f, true, 0},
      {"zero", 0.0f, true, 0},
      {"negative", -48000.0f, true, 0},
      {"NaN", kNaN, true, 0},
      {"infinite", kInf, true, 0},
      {"below 8000", 7999.5f, true, 0},
      {"above 384000", 384001.0f, true, 0},
      {"absurd", 1e12f, true, 0},
      {"no resume", 48000.0f, false, 0},
  };
  for (const IdleResume& row : rows) expectNothingChanged(row);
}

// A resume whose new buffers cannot both be allocated changes nothing
// either. It fails the allocations through the test runner's counter, which
// on Windows cannot reach the library's own heap, so the Windows builds
// leave this test out.
TEST(SampleRate, FailedAllocationChangesNothing) {
  const IdleResume rows[] = {
      {"first buffer fails", 48000.0f, true, 1},
      {"second buffer fails", 48000.0f, true, 2},
  };
  for (const IdleResume& row : rows) expectNothingChanged(row);
}

}  // namespace
