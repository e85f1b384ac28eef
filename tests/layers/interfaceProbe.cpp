// Built with the interface layer's include path by the Layers tests: as it
// is it must compile; with KORVANE_LAYER_PROBE_FORBIDDEN it also includes an
// effect header, and must not, since that path has none.
#include "AudioEffect.h"
#include "audioeffectx.h"

#if defined(KORVANE_LAYER_PROBE_FORBIDDEN)
#include "myfx.h"
#endif
