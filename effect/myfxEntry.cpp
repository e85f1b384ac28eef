// Creating an instance for a host: the version query, then the effect object.
#include <new>

#include "myfx.h"
#include "opcodes.h"

AEffect* createEffectInstance(HostCallback callback) {
  // Asked directly, not through getMasterVersion(), which would turn 0 into
  // 1: a host that answers 0 gets nothing. Without a callback the version is
  // taken as 1.
  if (callback != nullptr &&
      callback(nullptr, HostOpcode::kVersion, 0, 0, nullptr, 0.0f) == 0) {
    return nullptr;
  }
  myfx* effect = new (std::nothrow) myfx(callback);
  if (effect == nullptr) return nullptr;
  if (!effect->isReady()) {
    delete effect;
    return nullptr;
  }
  return effect->getAeffect();
}

int32_t adoptedSampleRate(AEffect* effect) {
  return static_cast<myfx*>(static_cast<AudioEffect*>(effect->object))
      ->adoptedRate();
}
