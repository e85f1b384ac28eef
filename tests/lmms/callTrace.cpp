// A diagnostic stand-in for korvane.dll that records how a host drives it.
// It loads the real library (the file named by KORVANE_TRACE_LIBRARY), hands
// the host a copy of the real record whose entry points write one line per
// call to the file named by KORVANE_TRACE_LOG and then forward the call, and
// hands the real library a host callback that does the same the other way.
// Each line carries the milliseconds since start-up and the calling thread;
// lines are flushed at once, so a log ends where a crashing process stopped.
// Processing calls and time requests, made per block and per sample, are
// counted, and only the first few and every change of thread are written.
// scripts/test-lmms.sh builds it when KORVANE_LMMS_TRACE is 1; 32-bit Windows
// only.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "AEffect.h"

namespace {
constexpr int kVerboseCalls = 4;  // processing calls written in full

FILE* logFile = nullptr;
CRITICAL_SECTION logLock;
DWORD startTicks = 0;
HostCallback hostCallback = nullptr;
AEffect* realRecord = nullptr;
AEffect traceRecord;
long processCalls = 0;
long timeRequests = 0;
DWORD lastProcessThread = 0;

void note(const char* format, ...) {
  if (logFile == nullptr) return;
  EnterCriticalSection(&logLock);
  std::fprintf(logFile, "%6lu ms thread %04lx: ",
               static_cast<unsigned long>(GetTickCount() - startTicks),
               static_cast<unsigned long>(GetCurrentThreadId()));
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(logFile, format, arguments);
  va_end(arguments);
  std::fputc('\n', logFile);
  std::fflush(logFile);
  LeaveCriticalSection(&logLock);
}

// Fields that the effect may change after creation, copied to the host's
// record after every dispatcher call.
void copyFields() {
  traceRecord.numPrograms = realRecord->numPrograms;
  traceRecord.numParams = realRecord->numParams;
  traceRecord.numInputs = realRecord->numInputs;
  traceRecord.numOutputs = realRecord->numOutputs;
  traceRecord.flags = realRecord->flags;
  traceRecord.initialDelay = realRecord->initialDelay;
  traceRecord.ioRatio = realRecord->ioRatio;
  traceRecord.uniqueID = realRecord->uniqueID;
  traceRecord.version = realRecord->version;
}

intptr_t traceDispatcher(AEffect*, int32_t opcode, int32_t index,
                         intptr_t value, void* ptr, float opt) {
  note("dispatcher opcode %d index %d value %ld ptr %p opt %g: calling", opcode,
       index, static_cast<long>(value), ptr, opt);
  const intptr_t answer =
      realRecord->dispatcher(realRecord, opcode, index, value, ptr, opt);
  note("dispatcher opcode %d: answered %ld", opcode, static_cast<long>(answer));
  copyFields();
  return answer;
}

void noteProcessing(const char* name, int32_t frames) {
  const long call = ++processCalls;
  const DWORD thread = GetCurrentThreadId();
  if (call <= kVerboseCalls || thread != lastProcessThread) {
    note("%s call %ld, %d frames, %ld time requests so far", name, call, frames,
         timeRequests);
  }
  lastProcessThread = thread;
}

void traceProcess(AEffect*, float** inputs, float** outputs, int32_t frames) {
  noteProcessing("process", frames);
  realRecord->process(realRecord, inputs, outputs, frames);
}

void traceProcessReplacing(AEffect*, float** inputs, float** outputs,
                           int32_t frames) {
  noteProcessing("processReplacing", frames);
  realRecord->processReplacing(realRecord, inputs, outputs, frames);
}

void traceSetParameter(AEffect*, int32_t index, float value) {
  note("setParameter %d to %g", index, value);
  realRecord->setParameter(realRecord, index, value);
}

float traceGetParameter(AEffect*, int32_t index) {
  const float value = realRecord->getParameter(realRecord, index);
  note("getParameter %d: %g", index, value);
  return value;
}

constexpr int32_t kHostGetTime = 7;

intptr_t traceCallback(AEffect* effect, int32_t opcode, int32_t index,
                       intptr_t value, void* ptr, float opt) {
  AEffect* host = effect == nullptr ? nullptr : &traceRecord;
  if (opcode == kHostGetTime) {
    if (++timeRequests > 2)
      return hostCallback(host, opcode, index, value, ptr, opt);
  }
  note("host callback opcode %d index %d value %ld: calling", opcode, index,
       static_cast<long>(value));
  const intptr_t answer = hostCallback(host, opcode, index, value, ptr, opt);
  note("host callback opcode %d: answered %ld", opcode,
       static_cast<long>(answer));
  return answer;
}
}  // namespace

extern "C" AEffect* korvaneMain(HostCallback callback) {
  if (logFile == nullptr) {
    InitializeCriticalSection(&logLock);
    startTicks = GetTickCount();
    const char* path = std::getenv("KORVANE_TRACE_LOG");
    logFile = std::fopen(path != nullptr ? path : "korvane-trace.log", "a");
  }
  note("main called with callback %p", reinterpret_cast<void*>(callback));
  const char* library = std::getenv("KORVANE_TRACE_LIBRARY");
  HMODULE module = LoadLibraryA(library != nullptr ? library : "");
  if (module == nullptr || realRecord != nullptr) {
    note("no library at %s, or a second instance", library);
    return nullptr;
  }
  using MainProc = AEffect* (*)(HostCallback);
  // Through the generic function pointer type, which any function pointer
  // converts to and from without a warning.
  auto realMain = reinterpret_cast<MainProc>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "main")));
  hostCallback = callback;
  realRecord = realMain != nullptr ? realMain(traceCallback) : nullptr;
  note("real main answered %p", static_cast<void*>(realRecord));
  if (realRecord == nullptr) return nullptr;
  traceRecord = *realRecord;
  traceRecord.dispatcher = traceDispatcher;
  traceRecord.process = traceProcess;
  traceRecord.processReplacing = traceProcessReplacing;
  traceRecord.setParameter = traceSetParameter;
  traceRecord.getParameter = traceGetParameter;
  return &traceRecord;
}
