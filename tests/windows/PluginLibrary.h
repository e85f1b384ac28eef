// The effect DLL that the Windows test runner has loaded
// (korvane_probed.dll, korvane.dll as the tests build it).
#pragma once

#include <windows.h>

// The library beside the test program, loaded on first use; the run stops
// with a message when it cannot be loaded.
HMODULE pluginLibrary();
