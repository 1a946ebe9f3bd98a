# The 32-bit programs are large-address-aware: the launcher's measured limit of
# 1.75 GiB needs the 4 GiB of address space a 32-bit process gets on 64-bit Windows.
#
#   cmake -DOBJDUMP=<objdump> -DPROGRAMS=<a.exe>|<b.exe> -P CheckLargeAddressAware.cmake

cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/PeHeaders.cmake)
require_objdump_arguments(CheckLargeAddressAware.cmake)
string(REPLACE "|" ";" programs "${PROGRAMS}")
foreach(program IN LISTS programs)
  read_pe_headers(${program} headers)
  if(NOT headers MATCHES "Magic[ \t]+010b")
    message(FATAL_ERROR "${program} is not a 32-bit (PE32) program")
  endif()
  if(NOT headers MATCHES "\n[ \t]+large address aware\n")
    message(FATAL_ERROR "${program} is not large-address-aware")
  endif()
  message(STATUS "${program}: PE32, large-address-aware")
endforeach()
