# Cross build for 32-bit Windows with Debian's mingw-w64 (i686-w64-mingw32-g++).
# A 32-bit host can only load a 32-bit in-process server, so the plug-in ships
# in both widths.
#   cmake -S . -B build-mingw32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
