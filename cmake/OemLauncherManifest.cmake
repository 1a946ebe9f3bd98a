# The launcher's manifest template (resources/Setup.manifest.in) and the
# processorArchitecture each launcher architecture writes into it.
set(OEM_LAUNCHER_MANIFEST_TEMPLATE ${CMAKE_SOURCE_DIR}/resources/Setup.manifest.in)

# The manifest's name of a launcher architecture: x86 stays x86, x64 is amd64.
function(oem_launcher_manifest_architecture arch out)
  if(arch STREQUAL "x86")
    set(${out} x86 PARENT_SCOPE)
  elseif(arch STREQUAL "x64")
    set(${out} amd64 PARENT_SCOPE)
  else()
    message(FATAL_ERROR "no manifest architecture for '${arch}'")
  endif()
endfunction()
