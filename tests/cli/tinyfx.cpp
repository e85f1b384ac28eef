// A tiny test plug-in: a gain on two channels that logs what its host does.
//
// Built three ways: normally, with TINYFX_NULL_MAIN (its `main` declines) and
// with TINYFX_NO_MAIN (it exports no `main`). When TINYFX_LOG names a file,
// every host call is appended to it, one line each.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "AEffect.h"
#include "opcodes.h"

namespace {

enum Parameter { kOutLevel, kFault, kNumParams };
constexpr const char* kParameterNames[kNumParams] = {"out level", "fault"};
// With "fault" at 0.5 or more the output turns to NaN from this frame on.
constexpr int kFaultFrame = 100;

struct TinyFx {
  AEffect record;
  HostCallback host;
  float gain = 1.0f;
  float fault = 0.0f;
  bool toldTempo = false;
};

TinyFx* self(AEffect* e) { return static_cast<TinyFx*>(e->object); }

void log(const char* format, double value = 0.0) {
  const char* path = std::getenv("TINYFX_LOG");
  if (path == nullptr) return;
  if (FILE* file = std::fopen(path, "a")) {
    std::fprintf(file, format, value);
    std::fputc('\n', file);
    std::fclose(file);
  }
}

// Asks the host for the tempo once, on the first processing call.
void logTempo(TinyFx& fx) {
  if (fx.toldTempo) return;
  fx.toldTempo = true;
  const intptr_t answer = fx.host(&fx.record, HostOpcode::kGetTime, 0,
                                  kTimeInfoTempoValid, nullptr, 0.0f);
  if (answer == 0) {
    log("tempo none");
  } else {
    log("tempo %g", timeInfoTempo(reinterpret_cast<VstTimeInfo*>(answer)));
  }
}

template <bool Accumulate>
void run(AEffect* e, float** in, float** out, int32_t frames) {
  TinyFx& fx = *self(e);
  logTempo(fx);
  log(Accumulate ? "process %g" : "replacing %g", frames);
  for (int c = 0; c < 2; ++c) {
    for (int32_t k = 0; k < frames; ++k) {
      float value = in[c][k] * fx.gain;
      if (fx.fault >= 0.5f && k >= kFaultFrame) {
        value = std::numeric_limits<float>::quiet_NaN();
      }
      out[c][k] = Accumulate ? out[c][k] + value : value;
    }
  }
}

void copyText(void* ptr, const char* text) {
  std::strcpy(static_cast<char*>(ptr), text);
}

intptr_t dispatch(AEffect* e, int32_t opcode, int32_t index, intptr_t value,
                  void* ptr, float opt) {
  TinyFx* fx = self(e);
  switch (opcode) {
    case EffectOpcode::kOpen:
      log("open");
      return 0;
    case EffectOpcode::kClose:
      log("close");
      delete fx;
      return 1;
    case EffectOpcode::kSetSampleRate:
      log("rate %g", opt);
      return 0;
    case EffectOpcode::kSetBlockSize:
      log("block %g", static_cast<double>(value));
      return 0;
    case EffectOpcode::kSuspendResume:
      log(value != 0 ? "resume" : "suspend");
      return 0;
    case EffectOpcode::kGetProgramName:
      copyText(ptr, "Unity");
      return 0;
    case EffectOpcode::kGetParameterName:
      if (index >= 0 && index < kNumParams)
        copyText(ptr, kParameterNames[index]);
      return 0;
    case EffectOpcode::kGetParameterLabel:
      copyText(ptr, "");
      return 0;
    case EffectOpcode::kGetParameterDisplay:
      if (index >= 0 && index < kNumParams) {
        std::snprintf(
            static_cast<char*>(ptr), 9, "%.4f",
            static_cast<double>(index == kOutLevel ? fx->gain : fx->fault));
      }
      return 0;
    case EffectOpcode::kGetEffectName:
      copyText(ptr, "tinyfx");
      return 1;
    case EffectOpcode::kGetProductString:
      copyText(ptr, "tinyfx");
      return 1;
    case EffectOpcode::kGetVendorString:
      copyText(ptr, "korvane tests");
      return 1;
    case EffectOpcode::kGetVendorVersion:
      return 1;
    case EffectOpcode::kGetPlugCategory:
      return 1;
    case EffectOpcode::kCanDo:
      return std::strcmp(static_cast<char*>(ptr), "2in2out") == 0 ? 1 : -1;
    case EffectOpcode::kGetVstVersion:
      return 2400;
    default:
      return 0;
  }
}

void setParameter(AEffect* e, int32_t index, float value) {
  log("set %g", index + value / 10.0);  // index and value on one number
  if (index == kOutLevel) self(e)->gain = value;
  if (index == kFault) self(e)->fault = value;
}

float getParameter(AEffect* e, int32_t index) {
  return index == kOutLevel ? self(e)->gain
         : index == kFault  ? self(e)->fault
                            : 0.0f;
}

AEffect* create(HostCallback host) {
  const intptr_t version =
      host(nullptr, HostOpcode::kVersion, 0, 0, nullptr, 0.0f);
  log("version %g", static_cast<double>(version));
#ifdef TINYFX_NULL_MAIN
  return nullptr;
#endif
  TinyFx* fx = new TinyFx{};
  fx->host = host;
  AEffect& r = fx->record;
  r.magic = kEffectMagic;
  r.dispatcher = dispatch;
  r.process = run<true>;
  r.processReplacing = run<false>;
  r.setParameter = setParameter;
  r.getParameter = getParameter;
  r.numPrograms = 1;
  r.numParams = kNumParams;
  r.numInputs = 2;
  r.numOutputs = 2;
  r.flags = EffectFlag::kCanReplacing;
  r.ioRatio = 1.0f;
  r.object = fx;
  r.uniqueID = fourCharCode("TnFx");
  r.version = 1;
  return &r;
}

}  // namespace

#ifdef TINYFX_NO_MAIN
extern "C" __attribute__((visibility("default"))) AEffect* tinyfxEntry(
    HostCallback host) {
  return create(host);
}
#else
extern "C" __attribute__((visibility("default"))) AEffect* tinyfxMain(
    HostCallback host) __asm__("main");
extern "C" AEffect* tinyfxMain(HostCallback host) { return create(host); }
#endif
