// A scripted host for tests: answers the effect's callback as configured and
// records every call it receives.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "AEffect.h"
#include "EffectLoader.h"
#include "myfx.h"
#include "opcodes.h"
#include "seedExtension.h"
#include "timeRecord.h"

struct HostCall {
  AEffect* effect;
  int32_t opcode;
  int32_t index;
  intptr_t value;
  void* ptr;
  float opt;
};

class TestHost {
 public:
  TestHost() { current() = this; }
  ~TestHost() {
    if (current() == this) current() = nullptr;
  }
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // What the callback answers.
  intptr_t versionAnswer = 2400;
  std::optional<double> tempo = 120.0;  // nullopt: no time information
  intptr_t defaultAnswer = 0;           // every other opcode
  std::function<void()> onTimeQuery;    // runs before a time query's answer

  std::vector<HostCall> calls;
  int count(int32_t opcode) const {
    int n = 0;
    for (const HostCall& call : calls) n += call.opcode == opcode;
    return n;
  }

  static intptr_t callback(AEffect* effect, int32_t opcode, int32_t index,
                           intptr_t value, void* ptr, float opt) {
    TestHost* host = current();
    if (host == nullptr) return 0;
    host->calls.push_back({effect, opcode, index, value, ptr, opt});
    if (opcode == HostOpcode::kVersion) return host->versionAnswer;
    if (opcode == HostOpcode::kGetTime) {
      if (host->onTimeQuery) host->onTimeQuery();
      if (!host->tempo) return 0;
      host->timeInfo.tempo = *host->tempo;
      return reinterpret_cast<intptr_t>(&host->timeInfo);
    }
    return host->defaultAnswer;
  }

  // Creates an effect the way a host does; null when the effect declines.
  AEffect* load() { return loadEffect(&TestHost::callback); }

  // The host side of the record's entry points.
  static intptr_t dispatch(AEffect* e, int32_t opcode, int32_t index = 0,
                           intptr_t value = 0, void* ptr = nullptr,
                           float opt = 0.0f) {
    return e->dispatcher(e, opcode, index, value, ptr, opt);
  }
  static void close(AEffect* e) { dispatch(e, EffectOpcode::kClose); }
  // korvane's seed call, as a host that wants a repeatable render makes it.
  static intptr_t seed(AEffect* e, uint32_t seed) {
    return dispatch(e, seedExtension::kOpcode, seedExtension::kIndex,
                    static_cast<intptr_t>(seed));
  }
  // Sets the sample rate and restarts processing, as hosts do.
  static void resumeAtRate(AEffect* e, float rate, bool resumes = true) {
    if (resumes) dispatch(e, EffectOpcode::kSuspendResume, 0, 0);
    dispatch(e, EffectOpcode::kSetSampleRate, 0, 0, nullptr, rate);
    if (resumes) dispatch(e, EffectOpcode::kSuspendResume, 0, 1);
  }

 private:
  static TestHost*& current() {
    static thread_local TestHost* host = nullptr;
    return host;
  }
  VstTimeInfo timeInfo = {};
};

// Closes the effect when the test ends.
struct EffectHandle {
  AEffect* effect;
  explicit EffectHandle(AEffect* e) : effect(e) {}
  ~EffectHandle() {
    if (effect != nullptr) TestHost::close(effect);
  }
  EffectHandle(const EffectHandle&) = delete;
  EffectHandle& operator=(const EffectHandle&) = delete;
  AEffect* operator->() const { return effect; }
  myfx& object() const {
    return *static_cast<myfx*>(static_cast<AudioEffect*>(effect->object));
  }
};
