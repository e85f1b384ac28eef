// A stand-in for korvane.so that applies chosen settings in a host that
// cannot be told any (Audacity ignores effect parameters given by script).
// It loads the real library (the file named by KORVANE_STANDIN_LIBRARY) and
// hands the host, for each instance, a copy of the real record whose entry
// points forward every call. On an instance's first processing call after
// each resume, after everything the host itself has set and before the
// first sample, it sets the values read from the file named by
// KORVANE_STANDIN_VALUES when the instance was created (Audacity processes
// several selected tracks through one instance, suspending it, writing its
// own values and resuming it before each): `NAME = VALUE` lines, normalised
// values, `#` comments, the format of `korvane render --params`, so that the
// same file drives the reference render. A missing or empty file sets nothing,
// and the stand-in then only forwards. It answers the effect name "korvane
// stand-in", so that a host lists it beside the real library.
//
// Every call is written to the file named by KORVANE_STANDIN_LOG, one line
// each with the instance's number, flushed at once; processing calls are
// written with their frame counts, and time requests are counted.
// scripts/test-audacity.sh builds it; Linux only. Each entry point is called
// on whichever thread the host calls it; a lock guards the log and the
// instance table.
#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "AEffect.h"
#include "opcodes.h"
#include "timeRecord.h"

namespace {
constexpr char kStandInName[] = "korvane stand-in";
constexpr int kMaxInstances = 64;
constexpr int kMaxParameters = 64;
constexpr int kNameBytes = 64;  // room for a parameter name, with the NUL

struct Instance {
  AEffect record;  // the host's copy of the real record
  AEffect* real = nullptr;
  int number = 0;
  std::vector<std::pair<int, float>> values;
  bool applied = false;
  long processCalls = 0;
  long timeRequests = 0;
  char names[kMaxParameters][kNameBytes] = {};
};

// The host's record is the first member, so its address is the instance's.
static_assert(std::is_standard_layout_v<Instance>, "record first");

std::mutex lock;
FILE* logFile = nullptr;
HostCallback hostCallback = nullptr;
Instance* instances[kMaxInstances] = {};
Instance* opening = nullptr;  // the instance whose real `main` is running
int instancesMade = 0;

void note(const char* format, ...) {
  if (logFile == nullptr) return;
  std::fprintf(logFile, "pid %ld ", static_cast<long>(getpid()));
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(logFile, format, arguments);
  va_end(arguments);
  std::fputc('\n', logFile);
  std::fflush(logFile);
}

Instance* ofRecord(AEffect* effect) {
  return reinterpret_cast<Instance*>(effect);
}

Instance* ofRealRecord(AEffect* real) {
  for (Instance* instance : instances) {
    if (instance != nullptr && instance->real == real) return instance;
  }
  return opening;
}

// Fields that the effect may change after creation, copied to the host's
// record after every dispatcher call.
void copyFields(Instance* instance) {
  AEffect& to = instance->record;
  const AEffect& from = *instance->real;
  to.numPrograms = from.numPrograms;
  to.numParams = from.numParams;
  to.numInputs = from.numInputs;
  to.numOutputs = from.numOutputs;
  to.flags = from.flags;
  to.initialDelay = from.initialDelay;
  to.ioRatio = from.ioRatio;
  to.uniqueID = from.uniqueID;
  to.version = from.version;
}

std::string trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
    ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
    --end;
  return text.substr(begin, end - begin);
}

bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The real effect's parameter names, asked once; the log names parameters.
void readNames(Instance* instance) {
  AEffect* real = instance->real;
  for (int i = 0; i < real->numParams && i < kMaxParameters; ++i) {
    real->dispatcher(real, EffectOpcode::kGetParameterName, i, 0,
                     instance->names[i], 0.0f);
    instance->names[i][kNameBytes - 1] = '\0';
  }
}

const char* nameOf(const Instance* instance, int32_t index) {
  return index >= 0 && index < kMaxParameters ? instance->names[index] : "?";
}

// Reads the values file against the real effect's parameter names. A line
// that names no parameter or has no normalised value is logged and skipped.
void readValues(Instance* instance) {
  const char* path = std::getenv("KORVANE_STANDIN_VALUES");
  FILE* file = path != nullptr ? std::fopen(path, "r") : nullptr;
  if (file == nullptr) return;
  char line[4096];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    std::string text = line;
    text = trimmed(text.substr(0, text.find('#')));
    if (text.empty()) continue;
    const size_t equals = text.find('=');
    const std::string name = trimmed(text.substr(0, equals));
    const std::string value =
        equals == std::string::npos ? "" : trimmed(text.substr(equals + 1));
    char* end = nullptr;
    const float number = std::strtof(value.c_str(), &end);
    int index = -1;
    for (int i = 0; i < instance->real->numParams && i < kMaxParameters; ++i) {
      if (index < 0 && sameName(name, instance->names[i])) index = i;
    }
    if (index < 0 || value.empty() || *end != '\0' || !(number >= 0.0f) ||
        number > 1.0f) {
      note("instance %d: values file line '%s' skipped", instance->number,
           text.c_str());
      continue;
    }
    instance->values.emplace_back(index, number);
  }
  std::fclose(file);
}

// Sets the chosen values once after each resume, before its first sample.
void applyValues(Instance* instance) {
  if (instance->applied) return;
  instance->applied = true;
  for (const auto& [index, value] : instance->values) {
    instance->real->setParameter(instance->real, index, value);
    note("instance %d: stand-in sets %d (%s) to %.9g, reads back %.9g",
         instance->number, index, nameOf(instance, index), value,
         instance->real->getParameter(instance->real, index));
  }
}

intptr_t standInDispatcher(AEffect* effect, int32_t opcode, int32_t index,
                           intptr_t value, void* ptr, float opt) {
  Instance* instance = ofRecord(effect);
  AEffect* real = instance->real;
  const intptr_t answer =
      real->dispatcher(real, opcode, index, value, ptr, opt);
  const std::lock_guard<std::mutex> guard(lock);
  note("instance %d: dispatcher opcode %d index %d value %ld opt %g: %ld",
       instance->number, opcode, index, static_cast<long>(value), opt,
       static_cast<long>(answer));
  copyFields(instance);
  if (opcode == EffectOpcode::kSuspendResume && value != 0) {
    instance->applied = false;
  }
  if (opcode == EffectOpcode::kGetEffectName && ptr != nullptr) {
    std::strcpy(static_cast<char*>(ptr), kStandInName);
  }
  if (opcode == EffectOpcode::kClose) {
    for (Instance*& slot : instances) {
      if (slot == instance) slot = nullptr;
    }
    note("instance %d: closed after %ld processing calls, %ld time requests",
         instance->number, instance->processCalls, instance->timeRequests);
    delete instance;
  }
  return answer;
}

void noteProcessing(Instance* instance, const char* name, int32_t frames) {
  const std::lock_guard<std::mutex> guard(lock);
  applyValues(instance);
  note("instance %d: %s call %ld, %d frames", instance->number, name,
       ++instance->processCalls, frames);
}

void standInProcess(AEffect* effect, float** inputs, float** outputs,
                    int32_t frames) {
  Instance* instance = ofRecord(effect);
  noteProcessing(instance, "process", frames);
  instance->real->process(instance->real, inputs, outputs, frames);
}

void standInProcessReplacing(AEffect* effect, float** inputs, float** outputs,
                             int32_t frames) {
  Instance* instance = ofRecord(effect);
  noteProcessing(instance, "processReplacing", frames);
  instance->real->processReplacing(instance->real, inputs, outputs, frames);
}

void standInSetParameter(AEffect* effect, int32_t index, float value) {
  Instance* instance = ofRecord(effect);
  instance->real->setParameter(instance->real, index, value);
  const std::lock_guard<std::mutex> guard(lock);
  note("instance %d: setParameter %d (%s) to %.9g", instance->number, index,
       nameOf(instance, index), value);
}

float standInGetParameter(AEffect* effect, int32_t index) {
  Instance* instance = ofRecord(effect);
  const float value = instance->real->getParameter(instance->real, index);
  const std::lock_guard<std::mutex> guard(lock);
  note("instance %d: getParameter %d (%s): %.9g", instance->number, index,
       nameOf(instance, index), value);
  return value;
}

// The real effect's calls into the host, passed on with the host's record
// of the instance (the host keeps its own data in that record).
intptr_t standInCallback(AEffect* effect, int32_t opcode, int32_t index,
                         intptr_t value, void* ptr, float opt) {
  Instance* instance = nullptr;
  {
    const std::lock_guard<std::mutex> guard(lock);
    instance = effect != nullptr ? ofRealRecord(effect) : nullptr;
    if (opcode == HostOpcode::kGetTime && instance != nullptr) {
      ++instance->timeRequests;
    } else if (opcode != HostOpcode::kGetTime) {
      note("instance %d: host callback opcode %d index %d value %ld",
           instance != nullptr ? instance->number : 0, opcode, index,
           static_cast<long>(value));
    }
  }
  AEffect* host =
      instance != nullptr && instance != opening ? &instance->record : nullptr;
  const intptr_t answer = hostCallback(host, opcode, index, value, ptr, opt);
  if (opcode == HostOpcode::kGetTime && instance != nullptr &&
      instance->timeRequests == 1) {
    const std::lock_guard<std::mutex> guard(lock);
    const auto* info = reinterpret_cast<const VstTimeInfo*>(answer);
    if (info != nullptr) {
      note("instance %d: first time request: tempo %g", instance->number,
           info->tempo);
    } else {
      note("instance %d: first time request: no time information",
           instance->number);
    }
  }
  return answer;
}

using MainProc = AEffect* (*)(HostCallback);

MainProc realMain() {
  static MainProc entry = nullptr;
  if (entry == nullptr) {
    const char* library = std::getenv("KORVANE_STANDIN_LIBRARY");
    void* module = dlopen(library != nullptr ? library : "", RTLD_NOW);
    if (module == nullptr) {
      note("cannot load %s: %s", library, dlerror());
      return nullptr;
    }
    entry = reinterpret_cast<MainProc>(dlsym(module, "main"));
  }
  return entry;
}
}  // namespace

extern "C" __attribute__((visibility("default"))) AEffect* standInMain(
    HostCallback callback) __asm__("main");

extern "C" AEffect* standInMain(HostCallback callback) {
  std::unique_lock<std::mutex> guard(lock);
  if (logFile == nullptr) {
    const char* path = std::getenv("KORVANE_STANDIN_LOG");
    logFile = std::fopen(path != nullptr ? path : "/dev/null", "a");
  }
  const MainProc entry = realMain();
  int slot = 0;
  while (slot < kMaxInstances && instances[slot] != nullptr) ++slot;
  if (entry == nullptr || slot == kMaxInstances) {
    note("no real library, or %d instances open", kMaxInstances);
    return nullptr;
  }
  hostCallback = callback;
  auto* instance = new Instance;
  instance->number = ++instancesMade;
  opening = instance;
  // The real `main` may call back (for the host's version); the lock is
  // released meanwhile, and the callback finds the new instance as `opening`.
  guard.unlock();
  instance->real = entry(standInCallback);
  guard.lock();
  opening = nullptr;
  if (instance->real == nullptr) {
    note("instance %d: real main answered null", instance->number);
    delete instance;
    return nullptr;
  }
  instance->record = *instance->real;
  instance->record.dispatcher = standInDispatcher;
  instance->record.process = standInProcess;
  instance->record.processReplacing = standInProcessReplacing;
  instance->record.setParameter = standInSetParameter;
  instance->record.getParameter = standInGetParameter;
  instances[slot] = instance;
  readNames(instance);
  readValues(instance);
  note("instance %d: created, %zu values to set", instance->number,
       instance->values.size());
  return &instance->record;
}
