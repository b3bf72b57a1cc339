# Cross build of the 32-bit Windows binaries on Debian with the MinGW-w64
# i686 toolchain (packages g++-mingw-w64-i686-posix, libz-mingw-w64-dev).
# Everything is linked statically, so vrex.exe, vrex-host.exe and VREX.dll
# need nothing but system DLLs. ctest runs the .exe files through wine.
#
#   cmake --preset win32    (or: cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(VREX_MINGW_PREFIX i686-w64-mingw32)
# The posix thread model is the one Debian ships with full C++17 support.
find_program(CMAKE_C_COMPILER NAMES ${VREX_MINGW_PREFIX}-gcc-posix ${VREX_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VREX_MINGW_PREFIX}-g++-posix ${VREX_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VREX_MINGW_PREFIX}-windres)
find_program(CMAKE_OBJDUMP NAMES ${VREX_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${VREX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static C and C++ runtimes and a static zlib: no libgcc, libstdc++,
# winpthread or zlib DLL beside the binaries.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(VREX_WINE NAMES wine)
if(VREX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VREX_WINE})
endif()
