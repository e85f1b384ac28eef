// How the LV2 binding gets an effect instance: the same function that
// korvane.so's `main` calls (effect/myfxEntry.cpp), so that both faces run the
// same effect object through its plug-in record.
#pragma once

#include "AEffect.h"

// host's main thread: a new instance's record, or null when the callback
// answers version 0 or memory is short.
AEffect* createEffectInstance(HostCallback callback);
// host's main thread, while no audio runs: the sample rate the instance has
// adopted, which stays 44100 Hz when the buffers for a rate set could not be
// allocated.
int32_t adoptedSampleRate(AEffect* effect);
