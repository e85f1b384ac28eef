// Built with the include path a host gets for korvane's extension (the
// command-line host's) by the Layers tests: as it is it must compile; with
// KORVANE_LAYER_PROBE_FORBIDDEN it also includes an effect header, and must
// not, since that path has none.
#include "AEffect.h"
#include "seedExtension.h"

#if defined(KORVANE_LAYER_PROBE_FORBIDDEN)
#include "myfx.h"
#endif
