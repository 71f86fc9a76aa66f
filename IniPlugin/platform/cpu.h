// Which wider instructions the processor offers. The 32-bit module must run on processors
// without SSE2, so its SSE2 code is compiled for that instruction set alone and chosen at
// run time; a 64-bit x86 processor always has it.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
// Marks a function whose body may use SSE2 whatever the rest of the build targets. Call it
// only where WideInstructions() holds.
#define INIPLUGIN_SSE2_CODE 1
#if defined(__SSE2__)
#define INIPLUGIN_SSE2_FUNCTION
#else
#define INIPLUGIN_SSE2_FUNCTION __attribute__((target("sse2")))
#endif
#else
#define INIPLUGIN_SSE2_CODE 0
#endif

namespace iniplugin::platform {

namespace cpu_detail {
inline bool Detect() {
#if INIPLUGIN_SSE2_CODE && defined(__SSE2__)
  return true;
#elif INIPLUGIN_SSE2_CODE
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse2");
#else
  return false;
#endif
}
// Read at every search: a plain variable set as the module starts, not a function's
// static, whose guard would be tested at each read. Whatever runs before it is set takes
// the plain paths.
inline bool g_wide = Detect();
}  // namespace cpu_detail

// Whether the SSE2 paths may run.
inline bool WideInstructions() { return cpu_detail::g_wide; }

// Tests turn the SSE2 paths off to run the plain ones on the same input; turning them on
// is refused where the processor lacks them.
inline void UseWideInstructions(bool use) { cpu_detail::g_wide = use && cpu_detail::Detect(); }

}  // namespace iniplugin::platform
