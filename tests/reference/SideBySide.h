// Runs the effect, driven through its record by the scripted host, and the
// reference model on the same script, and names the first difference: an
// output sample, a state field, a parameter answer, the host calls or a
// capture buffer cell.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "../TestHost.h"
#include "../myfxProbe.h"
#include "ReferenceEngine.h"
#include "Scenario.h"
#include "StateDiff.h"

namespace reference {

// The effect as a host drives it: created through `main`'s path, called
// through the record's entry points.
class EffectSubject {
 public:
  TestHost host;
  EffectHandle effect{host.load()};

  myfx& object() const { return effect.object(); }
  EngineState state() const { return myfxProbe::state(object()); }

  void replacing(const float* l, const float* r, float* ol, float* orr,
                 int32_t frames, HostTempo tempo) {
    call(effect->processReplacing, l, r, ol, orr, frames, tempo);
  }
  void accumulating(const float* l, const float* r, float* ol, float* orr,
                    int32_t frames, HostTempo tempo) {
    call(effect->process, l, r, ol, orr, frames, tempo);
  }
  void call(ProcessProc entry, const float* l, const float* r, float* ol,
            float* orr, int32_t frames, HostTempo tempo) {
    host.tempo = tempo;
    float* inputs[2] = {const_cast<float*>(l), const_cast<float*>(r)};
    float* outputs[2] = {ol, orr};
    entry(effect.effect, inputs, outputs, frames);
  }
  void seed(uint32_t value) { TestHost::seed(effect.effect, value); }
  // The host sets its rate and restarts processing, as between renders.
  void resumeAtRate(float rate, bool resumes) {
    TestHost::resumeAtRate(effect.effect, rate, resumes);
  }
  void setParameter(int32_t index, float v) {
    effect->setParameter(effect.effect, index, v);
  }
  float getParameter(int32_t index) {
    return effect->getParameter(effect.effect, index);
  }
};

// What a run went through, so that a test can tell it reached its cases.
struct Coverage {
  int64_t samples = 0;
  int32_t allSlotsBusy = 0;  // block ends with every slot sounding
  int32_t beyondBuffer = 0;  // block ends with a grain past the last cell
  int32_t noGrain = 0;       // block ends with every slot free
};

class SideBySide {
 public:
  explicit SideBySide(uint32_t seed) {
    effect_.seed(seed);
    model_.seed(seed);
  }

  // One block on both sides; with `stepwise` the block goes in one-sample
  // calls, each compared, to find the first sample that departs.
  std::string block(const Block& b, bool stepwise) {
    if (b.resumeAtRate) {
      effect_.resumeAtRate(*b.resumeAtRate, b.resumes);
      model_.setRate(*b.resumeAtRate);
      if (b.resumes) model_.resume();
      std::string d = StateDiff::first(model_.s, effect_.state());
      if (d.empty()) d = parameters();
      if (!d.empty()) return at() + "after a resume: " + d;
    }
    for (int32_t i = 0; b.writesBack && i < Param::kCount; ++i) {
      effect_.setParameter(i, effect_.getParameter(i));
      model_.setParameter(i, model_.getParameter(i));
    }
    for (const auto& [index, value] : b.parameters) {
      effect_.setParameter(index, value);
      model_.setParameter(index, value);
      std::string d = parameters();
      if (!d.empty())
        return at() + "after parameter " + describe(index, value) + ": " + d;
    }
    if (b.frames <= 0) return emptyCall(b);
    const int32_t step = stepwise ? 1 : b.frames;
    for (int32_t k = 0; k < b.frames; k += step) {
      std::string d = call(b, k, std::min(step, b.frames - k));
      if (!d.empty()) return d;
    }
    std::string d = parameters();
    if (!d.empty()) return at() + "after the previous block: " + d;
    tally();
    return "";
  }

  // The capture buffers, cell for cell.
  std::string buffers() const {
    const float* left = myfxProbe::recordBufferLeft(effect_.object());
    const float* right = myfxProbe::recordBufferRight(effect_.object());
    if (myfxProbe::bufferCapacity(effect_.object()) != model_.capacity) {
      return "capture capacity";
    }
    for (int32_t n = 0; n < model_.capacity; ++n) {
      if (!sameBits(left[n], model_.bufferLeft[n]) ||
          !sameBits(right[n], model_.bufferRight[n])) {
        std::ostringstream out;
        out.precision(9);
        out << "capture cell " << n << ": model " << model_.bufferLeft[n] << "/"
            << model_.bufferRight[n] << ", effect " << left[n] << "/"
            << right[n];
        return out.str();
      }
    }
    return "";
  }

  const Coverage& coverage() const { return coverage_; }

 private:
  std::string at() const {
    return "block " + std::to_string(blocks_) + ", sample " +
           std::to_string(coverage_.samples) + ": ";
  }

  static std::string describe(int32_t index, float value) {
    std::ostringstream out;
    out.precision(9);
    out << index << " = " << value;
    return out.str();
  }

  // Every answer of getParameter, bad indexes included.
  std::string parameters() {
    std::vector<int32_t> indexes = {std::numeric_limits<int32_t>::min(), -1};
    for (int32_t i = 0; i <= Param::kCount; ++i) indexes.push_back(i);
    for (int32_t index : indexes) {
      const float model = model_.getParameter(index);
      const float effect = effect_.getParameter(index);
      if (!sameBits(model, effect)) {
        std::ostringstream out;
        out.precision(9);
        out << "getParameter(" << index << ") model " << model << ", effect "
            << effect;
        return out.str();
      }
    }
    return "";
  }

  // A call with no frames touches nothing and asks the host nothing.
  std::string emptyCall(const Block& b) {
    std::vector<float> inL = b.left, inR = b.right;
    std::vector<float> outL = b.priorLeft, outR = b.priorRight;
    effect_.host.calls.clear();
    const EngineState before = effect_.state();
    effect_.call(b.accumulate ? effect_.effect->process
                              : effect_.effect->processReplacing,
                 inL.data(), inR.data(), outL.data(), outR.data(), b.frames,
                 b.tempo);
    const std::string where = at();
    ++blocks_;
    if (!sameBits(inL, b.left) || !sameBits(inR, b.right) ||
        !sameBits(outL, b.priorLeft) || !sameBits(outR, b.priorRight)) {
      return where + "a call of " + std::to_string(b.frames) +
             " frames wrote to the arrays";
    }
    if (!effect_.host.calls.empty()) {
      return where + "a call of no frames called the host";
    }
    return StateDiff::first(before, effect_.state());
  }

  // Frames [k, k + n) of the block on both sides.
  std::string call(const Block& b, int32_t k, int32_t n) {
    auto slice = [&](const std::vector<float>& v) {
      return std::vector<float>(v.begin() + k, v.begin() + k + n);
    };
    const std::vector<float> inL = slice(b.left), inR = slice(b.right);
    // In place, the outputs start out as the inputs.
    const std::vector<float> priorL = b.inPlace ? inL : slice(b.priorLeft);
    const std::vector<float> priorR = b.inPlace ? inR : slice(b.priorRight);
    std::vector<float> modelL = priorL, modelR = priorR;
    const int64_t queriesBefore = model_.tempoQueries;
    model_.run(b.accumulate, inL.data(), inR.data(), modelL.data(),
               modelR.data(), n, b.tempo);

    std::vector<float> effectL = priorL, effectR = priorR;
    std::vector<float> sourceL = inL, sourceR = inR;
    const float* l = b.inPlace ? effectL.data() : sourceL.data();
    const float* r = b.inPlace ? effectR.data() : sourceR.data();
    effect_.host.calls.clear();
    effect_.call(b.accumulate ? effect_.effect->process
                              : effect_.effect->processReplacing,
                 l, r, effectL.data(), effectR.data(), n, b.tempo);

    std::string d = outputs(modelL, modelR, effectL, effectR);
    if (d.empty() && !b.inPlace &&
        (!sameBits(sourceL, inL) || !sameBits(sourceR, inR))) {
      d = "the effect wrote to its input arrays";
    }
    if (d.empty()) d = hostCalls(model_.tempoQueries - queriesBefore);
    std::string state = StateDiff::first(model_.s, effect_.state());
    if (state.empty()) state = soundingSlots();
    const std::string where = at();
    coverage_.samples += n;
    if (k + n == b.frames) ++blocks_;
    if (d.empty() && state.empty()) return "";
    return where + (d.empty() ? "" : d + "; ") +
           (state.empty() ? "state agrees" : "state " + state) + " (" +
           (b.accumulate ? "process" : "processReplacing") + ", " +
           std::to_string(n) + " frames" + (b.inPlace ? ", in place" : "") +
           ", tempo " + tempoText(b.tempo) + ")";
  }

  // The effect's mask of sounding slots agrees with the read positions.
  std::string soundingSlots() const {
    const uint32_t mask = myfxProbe::soundingSlots(effect_.object());
    for (int32_t i = 0; i < kSlots; ++i) {
      const bool sounding = model_.s.grainPosition[i] != kFree;
      if (sounding != ((mask >> i) & 1u)) {
        return "soundingSlots bit " + std::to_string(i) + " is " +
               std::to_string((mask >> i) & 1u);
      }
    }
    return "";
  }

  std::string outputs(const std::vector<float>& modelL,
                      const std::vector<float>& modelR,
                      const std::vector<float>& effectL,
                      const std::vector<float>& effectR) const {
    for (size_t k = 0; k < modelL.size(); ++k) {
      for (int c = 0; c < 2; ++c) {
        const float m = c == 0 ? modelL[k] : modelR[k];
        const float e = c == 0 ? effectL[k] : effectR[k];
        if (sameBits(m, e)) continue;
        std::ostringstream out;
        out.precision(9);
        out << "output " << (c == 0 ? "left" : "right") << " at sample "
            << coverage_.samples + int64_t(k) << ": model " << m << ", effect "
            << e;
        return out.str();
      }
    }
    return "";
  }

  // One tempo query per sample that the model says asks, each opcode 7 with
  // the tempo request mask, and no other host call.
  std::string hostCalls(int64_t expected) const {
    const std::vector<HostCall>& calls = effect_.host.calls;
    int64_t queries = 0;
    for (const HostCall& c : calls) {
      if (c.opcode != 7 || c.value != 0x400) {
        return "unexpected host call, opcode " + std::to_string(c.opcode) +
               ", value " + std::to_string(c.value);
      }
      ++queries;
    }
    if (queries == expected) return "";
    return "tempo queries: model " + std::to_string(expected) + ", effect " +
           std::to_string(queries);
  }

  static std::string tempoText(HostTempo tempo) {
    if (!tempo) return "none";
    std::ostringstream out;
    out << *tempo;
    return out.str();
  }

  void tally() {
    int32_t busy = 0;
    for (int32_t i = 0; i < kSlots; ++i) {
      const float position = model_.s.grainPosition[i];
      if (position == kFree) continue;
      ++busy;
      if (position >= float(model_.capacity - 1)) ++coverage_.beyondBuffer;
    }
    if (busy == kSlots) ++coverage_.allSlotsBusy;
    if (busy == 0) ++coverage_.noGrain;
  }

  EffectSubject effect_;
  ReferenceEngine model_;
  int32_t blocks_ = 0;
  Coverage coverage_;
};

// Runs a script on both sides; empty when every bit agreed. On a difference
// the script is replayed one sample per call to name the first sample and
// field that departs.
inline std::string compareRun(uint32_t seed, const Scenario& run,
                              Coverage* coverage = nullptr) {
  auto replay = [&](bool stepwise) {
    SideBySide pair(seed);
    std::string d;
    for (const Block& b : run) {
      d = pair.block(b, stepwise);
      if (!d.empty()) break;
    }
    if (d.empty()) d = pair.buffers();
    if (coverage != nullptr && !stepwise) *coverage = pair.coverage();
    return d;
  };
  std::string d = replay(false);
  if (d.empty()) return d;
  return "seed " + std::to_string(seed) + ": " + d +
         "\n  replayed sample by sample: " + replay(true);
}

}  // namespace reference
