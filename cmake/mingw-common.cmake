# What both Windows toolchain files share: the posix-thread flavour of the
# MinGW-w64 compilers (GoogleTest needs std::mutex, which the win32 flavour
# lacks), a statically linked runtime so that korvane.dll needs nothing but
# system libraries beside it, and Wine to run the test programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KORVANE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVANE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVANE_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVANE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(KORVANE_STATIC_RUNTIME "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${KORVANE_STATIC_RUNTIME}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${KORVANE_STATIC_RUNTIME}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${KORVANE_STATIC_RUNTIME}")

# Debian's 64-bit loader lives beside the 32-bit one, off the PATH.
find_program(KORVANE_WINE NAMES ${KORVANE_WINE_LOADER}
             PATHS /usr/lib/wine /usr/lib64/wine /opt/wine-stable/bin)
if(KORVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVANE_WINE})
endif()
