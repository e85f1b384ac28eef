// Must not compile: the interface layer's include path has no effect header.
// The Layers test builds this file and passes only when the build fails.
#include "AudioEffect.h"
#include "myfx.h"
