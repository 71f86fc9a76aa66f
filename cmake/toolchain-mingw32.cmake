# Cross build of the 32-bit Windows module. Test programs run under Wine.
set(INIPLUGIN_MINGW_PROCESSOR i686)
set(INIPLUGIN_MINGW_RUNNER wine-run)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
