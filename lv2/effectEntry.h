// How the LV2 binding gets an effect instance: the same function that
// korvane.so's `main` calls (effect/myfxEntry.cpp), so that both faces run the
// same effect object through its plug-in record.
#pragma once

#include "AEffect.h"

// host's main thread: a new instance's record, or null when the callback
// answers version 0 or memory is short.
AEffect* createEffectInstance(HostCallback callback);
