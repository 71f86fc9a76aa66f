# Cross build of the 64-bit Windows module, for 64-bit hosts. Its programs run under
# 64-bit Wine, which needs no IA-32 emulation from the kernel.
set(INIPLUGIN_MINGW_PROCESSOR x86_64)
set(INIPLUGIN_MINGW_RUNNER wine64-run)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
