// The module's one export: the host calls `main` with its callback and gets
// the record of a new effect instance, or null.
#include "myfx.h"

#ifdef _WIN32
// korvane.def exports this function under the name `main`.
extern "C" AEffect* korvaneMain(HostCallback callback);
#else
// A C++ function cannot carry the name `main` with this signature, so the
// assembler label gives the exported symbol its name.
extern "C" __attribute__((visibility("default"))) AEffect* korvaneMain(
    HostCallback callback) __asm__("main");
#endif

extern "C" AEffect* korvaneMain(HostCallback callback) {
  return createEffectInstance(callback);
}
