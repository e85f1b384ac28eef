// The bundle binary's one export, `lv2_descriptor`, and the plain functions
// of the LV2 descriptor, each of which forwards to the Instance. Nothing is
// thrown across them: the binding and the effect throw nothing.
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>

#include <cstring>

#include "Instance.h"

namespace {
using lv2face::Instance;

Instance* instanceOf(LV2_Handle handle) {
  return static_cast<Instance*>(handle);
}

// host's main thread (instantiation class).
LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*,
                       const LV2_Feature* const* features) {
  return Instance::create(rate, features);
}

// audio thread or main thread, never during run.
void connectPort(LV2_Handle handle, uint32_t port, void* data) {
  instanceOf(handle)->connect(port, data);
}

// host's main thread (instantiation class).
void activate(LV2_Handle handle) { instanceOf(handle)->activate(); }

// audio thread.
void run(LV2_Handle handle, uint32_t frames) {
  instanceOf(handle)->run(frames);
}

// host's main thread (instantiation class).
void deactivate(LV2_Handle handle) { instanceOf(handle)->deactivate(); }

// host's main thread (instantiation class).
void cleanup(LV2_Handle handle) { delete instanceOf(handle); }

// host's main thread (instantiation class), never during run.
LV2_State_Status save(LV2_Handle handle, LV2_State_Store_Function store,
                      LV2_State_Handle state, uint32_t,
                      const LV2_Feature* const*) {
  return instanceOf(handle)->save(store, state);
}

LV2_State_Status restore(LV2_Handle handle,
                         LV2_State_Retrieve_Function retrieve,
                         LV2_State_Handle state, uint32_t,
                         const LV2_Feature* const*) {
  return instanceOf(handle)->restore(retrieve, state);
}

const LV2_State_Interface kStateInterface = {save, restore};

// any thread.
const void* extensionData(const char* uri) {
  if (uri != nullptr && std::strcmp(uri, LV2_STATE__interface) == 0) {
    return &kStateInterface;
  }
  return nullptr;
}

const LV2_Descriptor kDescriptor = {
    lv2face::kPluginUri, instantiate, connectPort,  activate, run,
    deactivate,          cleanup,     extensionData};
}  // namespace

// any thread: korvane is the bundle's only plug-in, index 0.
extern "C" __attribute__((visibility("default"))) const LV2_Descriptor*
lv2_descriptor(uint32_t index) {
  return index == 0 ? &kDescriptor : nullptr;
}
