// Sweeps every parameter from 0 to 1 at tempi from 20 to 999 beats per
// minute, and changes the loop length in the middle of recordings: every
// capture write and grain read stays inside the capture buffers (the
// sanitizer build reports any access outside them) and the output stays
// finite and within -1..+1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "TestHost.h"
#include "engineShared.h"
#include "myfxProbe.h"
#include "parameterIndex.h"

namespace {

constexpr int32_t kBsize = 0;
constexpr double kTempi[] = {20.0, 60.0, 120.0, 300.0, 999.0};
constexpr float kValues[] = {0.0f, 0.1f, 0.5f, 0.9f, 1.0f};
// Settings that reach as far as the engine lets them: the longest loop,
// grains placed late in it, long, fast-starting and fully spread, so that
// grains run past the end of the buffers.
constexpr float kFarReaching[Param::kCount] = {
    1.0f, 0.05f, 0.0f, 1.0f, 0.9f, 1.0f, 1.0f, 1.0f, 0.5f, 1.0f, 1.0f};
constexpr int32_t kBlock = 1024;

// One effect at one tempo, processed through the record, with the engine's
// invariants checked after every block.
class SweepRun {
 public:
  explicit SweepRun(double tempo) : e_(host_.load()) {
    host_.tempo = tempo;
    TestHost::seed(e_.effect, 4242);
    capacity_ = myfxProbe::bufferCapacity(e_.object());
  }

  // Sets "bsize" first and lets the engine derive the loop from it, so that
  // the loop-relative parameters then scale against that loop.
  void set(const float (&values)[Param::kCount]) {
    e_->setParameter(e_.effect, kBsize, values[kBsize]);
    silence(1);
    for (int32_t i = 1; i < Param::kCount; ++i) {
      e_->setParameter(e_.effect, i, values[i]);
    }
  }
  void set(int32_t index, float value) {
    e_->setParameter(e_.effect, index, value);
  }

  // A square wave with some noise on the left: the edges change the mono
  // input by 1.35 and pass any threshold, the noise passes small ones.
  void play(int32_t frames) {
    for (int32_t done = 0; done < frames; done += kBlock) {
      const int32_t n = std::min(kBlock, frames - done);
      for (int32_t k = 0; k < n; ++k) {
        noise_ = noise_ * 1664525u + 1013904223u;
        const float edge = (played_ + k) % 4410 < 2205 ? 0.9f : -0.9f;
        const float jitter = static_cast<float>(noise_ >> 9) / 8388608.0f;
        in_[0][k] = edge + 0.2f * (jitter - 0.5f);
        in_[1][k] = 0.5f * edge;
      }
      block(n);
    }
  }

  void silence(int32_t frames) {
    std::fill(std::begin(in_[0]), std::end(in_[0]), 0.0f);
    std::fill(std::begin(in_[1]), std::end(in_[1]), 0.0f);
    for (int32_t done = 0; done < frames; done += kBlock) {
      block(std::min(kBlock, frames - done));
    }
  }

  // Plays until the recording under way has written `cells` cells.
  void recordUntil(int32_t cells) {
    for (int32_t at = recordPosition(); at < cells && played_ < kMaxPlayed;
         at = recordPosition()) {
      play(std::min(kBlock, std::max(1, cells - at)));
    }
  }

  int32_t capacity() const { return capacity_; }
  int32_t recordPosition() const {
    return myfxProbe::state(e_.object()).recordPosition;
  }
  int32_t recordLength() const {
    return myfxProbe::state(e_.object()).recordLength;
  }
  bool grainsPassedTheEnd() const { return passedEnd_; }

 private:
  static constexpr int32_t kMaxPlayed = 4 * 352800;  // a bound, not a goal

  void block(int32_t n) {
    float* inputs[] = {in_[0], in_[1]};
    float* outputs[] = {out_[0], out_[1]};
    const bool accumulate = (played_ / kBlock) % 4 == 3;
    if (accumulate) {
      std::fill(std::begin(out_[0]), std::end(out_[0]), 0.0f);
      std::fill(std::begin(out_[1]), std::end(out_[1]), 0.0f);
      e_->process(e_.effect, inputs, outputs, n);
    } else {
      e_->processReplacing(e_.effect, inputs, outputs, n);
    }
    played_ += n;
    for (int32_t c = 0; c < 2; ++c) {
      for (int32_t k = 0; k < n; ++k) {
        ASSERT_TRUE(std::isfinite(out_[c][k]) && std::fabs(out_[c][k]) <= 1.0f)
            << "sample " << played_ - n + k << " is " << out_[c][k];
      }
    }
    checkInvariants();
  }

  void checkInvariants() {
    const reference::EngineState s = myfxProbe::state(e_.object());
    const int32_t loop = s.loopLength;
    const int32_t record = s.recordLength;
    ASSERT_GE(loop, 0);
    ASSERT_LE(loop, capacity_);
    ASSERT_EQ(record, std::min(2 * loop, capacity_));
    const int32_t position = s.recordPosition;
    ASSERT_TRUE(position == 0 || (position > 0 && position < record))
        << position << " of " << record;
    const float* grains = s.grainPosition;
    for (int32_t i = 0; i < myfx::kGrainSlots; ++i) {
      if (grains[i] == engine::kFreeSlot) continue;
      ASSERT_GE(grains[i], 0.0f);
      if (grains[i] + 1.0f >= static_cast<float>(capacity_)) passedEnd_ = true;
    }
  }

  TestHost host_;
  EffectHandle e_;
  int32_t capacity_ = 0;
  int32_t played_ = 0;
  uint32_t noise_ = 1;
  bool passedEnd_ = false;
  float in_[2][kBlock] = {};
  float out_[2][kBlock] = {};
};

// Each parameter at each value, the others at the far-reaching settings,
// at every tempo.
TEST(Sweep, EveryParameterAtEveryTempoStaysInsideTheBuffers) {
  bool passedEnd = false;
  for (double tempo : kTempi) {
    for (int32_t p = 0; p < Param::kCount; ++p) {
      for (float v : kValues) {
        SCOPED_TRACE(testing::Message() << "tempo " << tempo << ", parameter "
                                        << p << " at " << v);
        float values[Param::kCount];
        std::copy(std::begin(kFarReaching), std::end(kFarReaching), values);
        values[p] = v;
        SweepRun run(tempo);
        run.set(values);
        run.play(16000);
        if (HasFatalFailure()) return;
        passedEnd = passedEnd || run.grainsPassedTheEnd();
      }
    }
  }
  // The guarded reads past the buffers' end were really exercised.
  EXPECT_TRUE(passedEnd);
}

// All eleven at once at each value: the lowest and highest corners.
TEST(Sweep, AllParametersTogetherAtEveryTempo) {
  for (double tempo : kTempi) {
    for (float v : kValues) {
      SCOPED_TRACE(testing::Message() << "tempo " << tempo << ", all at " << v);
      float values[Param::kCount];
      std::fill(std::begin(values), std::end(values), v);
      SweepRun run(tempo);
      run.set(values);
      run.play(16000);
      if (HasFatalFailure()) return;
    }
  }
}

// "bsize" changed while a recording is under way: the next tempo query
// shortens or lengthens the recording under the write position.
TEST(Sweep, LoopLengthChangesMidRecording) {
  const float changes[][2] = {
      {1.0f, 0.0f}, {0.0f, 1.0f}, {1.0f, 0.5f}, {0.5f, 0.1f}, {0.1f, 1.0f}};
  for (double tempo : kTempi) {
    for (const auto& change : changes) {
      SCOPED_TRACE(testing::Message() << "tempo " << tempo << ", bsize "
                                      << change[0] << " to " << change[1]);
      SweepRun run(tempo);
      float values[Param::kCount];
      std::copy(std::begin(kFarReaching), std::end(kFarReaching), values);
      values[kBsize] = change[0];
      run.set(values);
      // Deep into the recording, but never more than a few seconds of audio.
      run.recordUntil(std::min(run.recordLength() * 3 / 4, 120000));
      const int32_t before = run.recordPosition();
      EXPECT_GT(before, 0);
      run.set(kBsize, change[1]);
      run.play(4 * kBlock);  // its edges and noise trigger tempo queries
      if (HasFatalFailure()) return;
      EXPECT_LE(run.recordLength(), run.capacity());
    }
  }
}

}  // namespace
