# What `cmake --install` puts under the prefix: oempack, the launchers of both
# architectures, the man page, the bash completion and the documents. The
# same layout on Linux and in the Windows zip; oempack finds its launchers at
# <its folder>/../share/oempack/launchers/<arch>/Setup.exe.

# oempack itself: the native program, or oempack.exe in a Windows build.
install(TARGETS oempack RUNTIME DESTINATION bin)

# The launchers. A Windows build installs the launcher it built for its own
# architecture; every other launcher comes from the Windows build folder of its
# architecture (OEM_WINDOWS_BUILD_X86, OEM_WINDOWS_BUILD_X64, relative to this
# build folder when not absolute), which must have built it before the install.
foreach(_arch x86 x64)
  string(TOUPPER ${_arch} _ARCH)
  set(_destination share/oempack/launchers/${_arch})
  if(WIN32 AND OEM_WINDOWS_ARCH STREQUAL _arch)
    install(FILES $<TARGET_FILE:Setup> DESTINATION ${_destination})
    continue()
  endif()
  set(_folder "${OEM_WINDOWS_BUILD_${_ARCH}}")
  if(_folder STREQUAL "")
    install(CODE "message(FATAL_ERROR \"no ${_arch} launcher to install: OEM_WINDOWS_BUILD_${_ARCH} names no Windows build folder (configure with -DOEM_WINDOWS_BUILD_${_ARCH}=build/win-${_arch}, built by scripts/win-build.sh ${_arch})\")")
    continue()
  endif()
  cmake_path(ABSOLUTE_PATH _folder BASE_DIRECTORY ${CMAKE_BINARY_DIR} NORMALIZE OUTPUT_VARIABLE _launcher)
  cmake_path(APPEND _launcher launcher Setup.exe)
  install(CODE "if(NOT EXISTS \"${_launcher}\")
  message(FATAL_ERROR \"no ${_arch} launcher to install: ${_launcher} is missing (bash scripts/win-build.sh ${_arch} builds it)\")
endif()")
  install(FILES ${_launcher} DESTINATION ${_destination})
endforeach()

# The manual page, with the version of this build.
set(_man_page ${CMAKE_BINARY_DIR}/oempack.1)
configure_file(${CMAKE_SOURCE_DIR}/tools/oempack/oempack.1.in ${_man_page} @ONLY)
install(FILES ${_man_page} DESTINATION share/man/man1)
install(FILES ${CMAKE_SOURCE_DIR}/tools/oempack/oempack.bash-completion
        DESTINATION share/bash-completion/completions RENAME oempack)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION share/doc/oempack)
