# 32-bit Windows (x86) cross-build with MinGW-w64: korvane.dll for 32-bit
# hosts. The tests run under Wine.
set(KORVANE_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KORVANE_WINE_LOADER wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
