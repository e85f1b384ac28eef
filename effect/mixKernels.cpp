// Chooses the tiled engine's kernel family: AVX2 where the build has it and
// the processor (and its operating system) supports it, SSE2 otherwise.
#include "mixKernels.h"

namespace tiles {
namespace {
bool processorHasAvx2() {
#if defined(KORVANE_AVX2_KERNELS)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}
}  // namespace

const MixKernels* kernelsOf(KernelFamily family) {
  if (family == KernelFamily::kSse2) return &kSse2Kernels;
#if defined(KORVANE_AVX2_KERNELS)
  if (processorHasAvx2()) return &kAvx2Kernels;
#endif
  return nullptr;
}

KernelFamily fastestFamily() {
  return processorHasAvx2() ? KernelFamily::kAvx2 : KernelFamily::kSse2;
}
}  // namespace tiles
