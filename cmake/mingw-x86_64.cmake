# Cross toolchain: 64-bit Windows (x64) with mingw-w64 (posix threads), tests run under Wine's 64-bit loader.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(OEM_MINGW_TRIPLET x86_64-w64-mingw32)
set(OEM_WINE_ARCH x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
