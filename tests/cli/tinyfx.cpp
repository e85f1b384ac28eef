// A tiny test plug-in: a gain on two channels that logs what its host does.
//
// Built three ways: normally, with TINYFX_NULL_MAIN (its `main` declines) and
// with TINYFX_NO_MAIN (it exports no `main`). When TINYFX_LOG names a file,
// every host call is appended to it, one line each. Environment variables
// make it misbehave or change its record, for the tests of the host:
//   TINYFX_INPUTS, TINYFX_OUTPUTS, TINYFX_PARAMS  counts in the record
//   TINYFX_DELAY      reports and applies a delay of that many samples
//   TINYFX_NULL_SLOT  "get" or "set": that parameter routine is null
//   TINYFX_LONG_TEXTS writes texts of that many characters
//   TINYFX_HANG       logs "hang" and never returns from processing
//   TINYFX_HANG_AFTER the same, once that many frames have been processed
//   TINYFX_BAD_RECORD `main` answers an address that is no record: "low"
//                     (inside the first page), "odd" (misaligned) or
//                     "unmapped" (a page that is not mapped)
//   TINYFX_TIMES      logs the time record on every processing call
//   TINYFX_IO_LOG     a file that gets the tool's read and write system
//                     call counts when processing is suspended
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "AEffect.h"
#include "opcodes.h"
#include "timeRecord.h"

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
  int longTexts = 0;
  bool hang = false;
  long hangAfter = -1;  // frames; negative: never
  long processed = 0;
  bool logTimes = false;
  // The delay line: `delay` samples per channel, oldest first.
  std::vector<float> history[2];
};

int number(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::atoi(text) : fallback;
}

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

// The time record's fields at their byte offsets.
template <typename T>
T field(intptr_t record, std::size_t offset) {
  T value;
  std::memcpy(&value, reinterpret_cast<const char*>(record) + offset,
              sizeof value);
  return value;
}

void logTimes(TinyFx& fx) {
  const intptr_t answer =
      fx.host(&fx.record, HostOpcode::kGetTime, 0, 0xFFFF, nullptr, 0.0f);
  if (answer == 0) return;
  char line[256];
  std::snprintf(line, sizeof line,
                "time pos %g rate %g ppq %g tempo %g bar %g sig %d/%d "
                "flags %d",
                field<double>(answer, 0), field<double>(answer, 8),
                field<double>(answer, 24), field<double>(answer, 32),
                field<double>(answer, 40), field<int32_t>(answer, 64),
                field<int32_t>(answer, 68), field<int32_t>(answer, 84));
  if (const char* path = std::getenv("TINYFX_LOG")) {
    if (FILE* file = std::fopen(path, "a")) {
      std::fprintf(file, "%s\n", line);
      std::fclose(file);
    }
  }
}

// The tool's system calls so far, from the kernel's count for the process.
void logSystemCalls() {
  const char* path = std::getenv("TINYFX_IO_LOG");
  if (path == nullptr) return;
  std::string counts;
  if (FILE* io = std::fopen("/proc/self/io", "r")) {
    char line[128];
    while (std::fgets(line, sizeof line, io) != nullptr) {
      if (std::strncmp(line, "sysc", 4) == 0) counts += line;
    }
    std::fclose(io);
  }
  if (FILE* file = std::fopen(path, "w")) {
    std::fputs(counts.c_str(), file);
    std::fclose(file);
  }
}

// Asks the host for the tempo once, on the first processing call.
void logTempo(TinyFx& fx) {
  if (fx.toldTempo) return;
  fx.toldTempo = true;
  const intptr_t answer = fx.host(&fx.record, HostOpcode::kGetTime, 0,
                                  TimeFlag::kTempoValid, nullptr, 0.0f);
  if (answer == 0) {
    log("tempo none");
  } else {
    log("tempo %g", reinterpret_cast<const VstTimeInfo*>(answer)->tempo);
  }
}

template <bool Accumulate>
void run(AEffect* e, float** in, float** out, int32_t frames) {
  TinyFx& fx = *self(e);
  if (fx.hang || (fx.hangAfter >= 0 && fx.processed >= fx.hangAfter)) {
    log("hang");
    for (;;) pause();
  }
  fx.processed += frames;
  logTempo(fx);
  if (fx.logTimes) logTimes(fx);
  log(Accumulate ? "process %g" : "replacing %g", frames);
  // Each output follows its own input (the first, for a single input).
  for (int c = 0; c < 2; ++c) {
    const float* source = in[e->numInputs > 1 ? c : 0];
    std::vector<float>& history = fx.history[c];
    for (int32_t k = 0; k < frames; ++k) {
      float value = source[k] * fx.gain;
      if (!history.empty()) {
        history.push_back(value);
        value = history.front();
        history.erase(history.begin());
      }
      if (fx.fault >= 0.5f && k >= kFaultFrame) {
        value = std::numeric_limits<float>::quiet_NaN();
      }
      out[c][k] = Accumulate ? out[c][k] + value : value;
    }
  }
}

// Writes the text, or with TINYFX_LONG_TEXTS that many characters whatever
// the buffer holds.
void copyText(TinyFx* fx, void* ptr, const char* text) {
  if (fx->longTexts > 0) {
    std::memset(ptr, 'x', static_cast<std::size_t>(fx->longTexts));
    static_cast<char*>(ptr)[fx->longTexts] = '\0';
    return;
  }
  std::strcpy(static_cast<char*>(ptr), text);
}

intptr_t dispatch(AEffect* e, int32_t opcode, int32_t index, intptr_t value,
                  void* ptr, float opt) {
  TinyFx* fx = self(e);
  const auto copyText = [fx](void* to, const char* text) {
    ::copyText(fx, to, text);
  };
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
      if (value == 0) logSystemCalls();
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

// An address that cannot be a record, of the kind `kind` names.
AEffect* badRecord(const std::string& kind, AEffect* real) {
  if (kind == "low") return reinterpret_cast<AEffect*>(uintptr_t{16});
  if (kind == "odd") {
    return reinterpret_cast<AEffect*>(reinterpret_cast<char*>(real) + 1);
  }
  const long page = sysconf(_SC_PAGESIZE);
  void* gone = mmap(nullptr, static_cast<std::size_t>(page), PROT_NONE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  munmap(gone, static_cast<std::size_t>(page));
  return static_cast<AEffect*>(gone);
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
  r.numParams = number("TINYFX_PARAMS", kNumParams);
  r.numInputs = number("TINYFX_INPUTS", 2);
  r.numOutputs = number("TINYFX_OUTPUTS", 2);
  r.initialDelay = number("TINYFX_DELAY", 0);
  for (std::vector<float>& history : fx->history) {
    history.assign(static_cast<std::size_t>(std::max(r.initialDelay, 0)), 0.0f);
  }
  const char* nullSlot = std::getenv("TINYFX_NULL_SLOT");
  if (nullSlot != nullptr && std::strcmp(nullSlot, "get") == 0) {
    r.getParameter = nullptr;
  }
  if (nullSlot != nullptr && std::strcmp(nullSlot, "set") == 0) {
    r.setParameter = nullptr;
  }
  fx->longTexts = number("TINYFX_LONG_TEXTS", 0);
  fx->hang = std::getenv("TINYFX_HANG") != nullptr;
  fx->hangAfter = number("TINYFX_HANG_AFTER", -1);
  fx->logTimes = std::getenv("TINYFX_TIMES") != nullptr;
  r.flags = EffectFlag::kCanReplacing;
  r.ioRatio = 1.0f;
  r.object = fx;
  r.uniqueID = fourCharCode("TnFx");
  r.version = 1;
  if (const char* bad = std::getenv("TINYFX_BAD_RECORD")) {
    // The host must refuse the address without reading it, so nothing
    // stays to be closed.
    AEffect* answer = badRecord(bad, &r);
    delete fx;
    return answer;
  }
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
