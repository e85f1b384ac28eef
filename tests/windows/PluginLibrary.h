// The korvane.dll that the Windows test runner has loaded.
#pragma once

#include <windows.h>

// The library beside the test program, loaded on first use; the run stops
// with a message when it cannot be loaded.
HMODULE pluginLibrary();
