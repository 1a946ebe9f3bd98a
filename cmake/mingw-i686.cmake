# Cross toolchain: 32-bit Windows (x86) with mingw-w64 (posix threads), tests run under Wine's 32-bit loader.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(OEM_MINGW_TRIPLET i686-w64-mingw32)
set(OEM_WINE_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
