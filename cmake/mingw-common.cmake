# What both Windows toolchains share: mingw-w64 with posix threads for OEM_MINGW_TRIPLET,
# tests run under Wine with the loader of OEM_WINE_ARCH (scripts/wine-run.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${OEM_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OEM_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${OEM_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${OEM_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh --arch ${OEM_WINE_ARCH})
