# 64-bit Windows (x64) cross-build with MinGW-w64: korvane.dll for 64-bit
# hosts. The tests run under Wine.
set(KORVANE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KORVANE_WINE_LOADER wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
