// The tests' entry point on Windows: korvane_probed.dll beside the test
// program, loaded and called through its exported `main` as a host does. It
// is korvane.dll built from the tests' build of the effect, whose tiled
// engine has the settings and counters the tests use (tiledEngine.h); the
// objects it creates then have the layout the tests were compiled with.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "EffectLoader.h"
#include "PluginLibrary.h"

namespace {

using MainProc = AEffect* (*)(HostCallback);

[[noreturn]] void giveUp(const char* what) {
  std::fprintf(stderr, "korvane_probed.dll: %s (error %lu)\n", what,
               static_cast<unsigned long>(GetLastError()));
  std::abort();
}

}  // namespace

HMODULE pluginLibrary() {
  // Loaded once for the whole run, as a host keeps a plug-in loaded while
  // any instance lives; never unloaded.
  static const HMODULE module = [] {
    std::wstring path(MAX_PATH, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(),
                                            static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) giveUp("no test program path");
    path.resize(length);
    path.erase(path.find_last_of(L"\\/") + 1);
    path += L"korvane_probed.dll";
    const HMODULE loaded = LoadLibraryW(path.c_str());
    if (loaded == nullptr) giveUp("cannot be loaded");
    return loaded;
  }();
  return module;
}

AEffect* loadEffect(HostCallback callback) {
  static const MainProc entry = [] {
    const FARPROC proc = GetProcAddress(pluginLibrary(), "main");
    if (proc == nullptr) giveUp("exports no main");
    // Through the generic function pointer type, which any function pointer
    // converts to and from without a warning.
    return reinterpret_cast<MainProc>(reinterpret_cast<void (*)()>(proc));
  }();
  return entry(callback);
}
