// The tests' entry point on Linux: the effect linked into the test runner.
#include "EffectLoader.h"
#include "myfx.h"

AEffect* loadEffect(HostCallback callback) {
  return createEffectInstance(callback);
}
