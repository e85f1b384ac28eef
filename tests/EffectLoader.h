// Where the tests get a new effect instance from: on Linux the effect linked
// into the test runner, on Windows the built korvane.dll through its `main`.
#pragma once

#include "AEffect.h"

// Calls the effect's entry point with `callback`: the new instance's record,
// or null when the effect declines.
AEffect* loadEffect(HostCallback callback);
