// The calls that LMMS 1.2's remote plug-in host makes into korvane, in its
// order and on its two threads, as recorded from a headless LMMS render
// (KORVANE_LMMS_TRACE=1 scripts/test-lmms.sh): its user-interface thread opens
// the effect, sets it up, reads its identity and parameters, and then calls the
// editor idle opcode every 50 ms, while its processing thread calls
// processReplacing with blocks of 256 frames and answers the tempo from the
// song. The effect must give the same audio as a host that only processes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "TestHost.h"
#include "opcodes.h"
#include "parameterIndex.h"

namespace {

namespace Op = EffectOpcode;

constexpr int32_t kBlock = 256;
constexpr int32_t kBlocks = 345;  // two seconds
constexpr double kSongTempo = 90.0;
constexpr int32_t kSilentFrames = 11025;  // a quarter second before the tone
constexpr int32_t kFirstSoundingFrame = 11466;  // the first grain after it

// A quarter second of silence, then a 110 Hz sawtooth (an octave higher on
// the right): every sample after the silence differs from the one before.
float inputSample(int32_t frame, int32_t channel) {
  if (frame < kSilentFrames) return 0.0f;
  const int32_t period = channel == 0 ? 401 : 200;
  const int32_t phase = (frame - kSilentFrames) % period;
  return 0.5f * (2.0f * static_cast<float>(phase) / period - 1.0f);
}

// Processes the whole input in blocks on the calling thread, with a host of
// that thread answering the song's tempo; answers both output channels.
std::vector<float> processAll(AEffect* e) {
  TestHost songHost;  // answers this thread's callbacks
  songHost.tempo = kSongTempo;
  std::vector<float> out(2 * kBlock * kBlocks);
  float inL[kBlock], inR[kBlock], outL[kBlock], outR[kBlock];
  for (int32_t block = 0; block < kBlocks; ++block) {
    for (int32_t k = 0; k < kBlock; ++k) {
      inL[k] = inputSample(block * kBlock + k, 0);
      inR[k] = inputSample(block * kBlock + k, 1);
    }
    float* inputs[] = {inL, inR};
    float* outputs[] = {outL, outR};
    e->processReplacing(e, inputs, outputs, kBlock);
    for (int32_t k = 0; k < kBlock; ++k) {
      out[2 * (block * kBlock + k)] = outL[k];
      out[2 * (block * kBlock + k) + 1] = outR[k];
    }
  }
  return out;
}

std::string text(AEffect* e, int32_t opcode, int32_t index = 0) {
  char buffer[128];
  std::memset(buffer, 0, sizeof buffer);
  TestHost::dispatch(e, opcode, index, 0, buffer);
  return buffer;
}

TEST(LmmsHostSequence, GivesTheAudioOfAHostThatOnlyProcesses) {
  std::vector<float> expected;
  {
    TestHost plain;
    EffectHandle e(plain.load());
    ASSERT_NE(e.effect, nullptr);
    expected = processAll(e.effect);
  }

  TestHost lmms;
  lmms.versionAnswer = 2300;
  EffectHandle e(lmms.load());
  ASSERT_NE(e.effect, nullptr);
  EXPECT_EQ(lmms.count(HostOpcode::kVersion), 1);

  // Loading: open, block size, sample rate, resume, identity.
  TestHost::dispatch(e.effect, Op::kOpen);
  TestHost::dispatch(e.effect, Op::kSetBlockSize, 0, kBlock);
  TestHost::dispatch(e.effect, Op::kSetSampleRate, 0, 0, nullptr, 44100.0f);
  TestHost::dispatch(e.effect, Op::kSuspendResume, 0, 1);
  EXPECT_EQ(text(e.effect, Op::kGetEffectName), "korvane");
  EXPECT_EQ(TestHost::dispatch(e.effect, Op::kGetVendorVersion), 1000);
  EXPECT_EQ(text(e.effect, Op::kGetVendorString), "zvk");
  EXPECT_EQ(text(e.effect, Op::kGetProductString), "korvane");
  // The parameter dump: each name and value.
  ASSERT_EQ(e->numParams, Param::kCount);
  for (int32_t i = 0; i < e->numParams; ++i) {
    EXPECT_FALSE(text(e.effect, Op::kGetParameterName, i).empty());
    const float value = e->getParameter(e.effect, i);
    EXPECT_TRUE(value >= 0.0f && value <= 1.0f) << "parameter " << i;
  }
  // Before the render: suspend, sample rate again, resume.
  TestHost::dispatch(e.effect, Op::kSuspendResume, 0, 0);
  TestHost::dispatch(e.effect, Op::kSetSampleRate, 0, 0, nullptr, 44100.0f);
  TestHost::dispatch(e.effect, Op::kSuspendResume, 0, 1);

  // The render on a processing thread; editor idle calls on this one while
  // it runs (as often as possible here, to meet processing calls).
  std::atomic<bool> done{false};
  std::vector<float> got;
  std::thread processing([&] {
    got = processAll(e.effect);
    done = true;
  });
  long idles = 0;
  while (!done) {
    TestHost::dispatch(e.effect, Op::kEditorIdle);
    ++idles;
  }
  processing.join();
  TestHost::dispatch(e.effect, Op::kSuspendResume, 0, 0);

  EXPECT_GT(idles, 0);
  EXPECT_EQ(got, expected);
  ASSERT_EQ(got.size(), expected.size());
  // Silent until the first grain after the input moves.
  for (int32_t frame = 0; frame < kFirstSoundingFrame; ++frame) {
    ASSERT_EQ(got[2 * frame], 0.0f) << "frame " << frame;
    ASSERT_EQ(got[2 * frame + 1], 0.0f) << "frame " << frame;
  }
  EXPECT_NE(got[2 * kFirstSoundingFrame], 0.0f);
}

}  // namespace
