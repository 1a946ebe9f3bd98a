# The import tables of our programs name known DLLs only.
#
#   cmake -DOBJDUMP=<objdump> -DPROGRAMS=<a.exe>|<b.exe> -P CheckImports.cmake
#
# Windows loads a known DLL from the system folder whatever lies beside the
# program; any other DLL a program imports is looked for in the program's own
# folder first (the downloads folder, for a setup launcher). So every other
# system DLL is loaded at run time from the system folder (SystemLibrary), and
# this check fails on any imported DLL outside the list below.

cmake_minimum_required(VERSION 3.25)

# The known DLLs that Windows 7 through Windows 11 all list under
# HKLM\System\CurrentControlSet\Control\Session Manager\KnownDLLs, and ntdll,
# which is mapped into every process before anything else. Not here, on
# purpose: comctl32 and version.
set(known_dlls
  advapi32 clbcatq comdlg32 difxapi gdi32 imagehlp imm32 kernel32 msctf msvcrt normaliz nsi ntdll
  ole32 oleaut32 psapi rpcrt4 sechost setupapi shell32 shlwapi user32 wldap32 ws2_32)

include(${CMAKE_CURRENT_LIST_DIR}/PeHeaders.cmake)
require_objdump_arguments(CheckImports.cmake)
string(REPLACE "|" ";" programs "${PROGRAMS}")
set(refused "")
foreach(program IN LISTS programs)
  read_pe_headers(${program} headers)
  # Ordinary and delay-load imports alike: objdump names each "DLL Name: X".
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${headers}")
  if(NOT names)
    message(FATAL_ERROR "${program}: no import table found")
  endif()
  set(imported "")
  foreach(line IN LISTS names)
    string(REGEX REPLACE "^DLL Name: " "" dll "${line}")
    string(STRIP "${dll}" dll)
    list(APPEND imported "${dll}")
    string(TOLOWER "${dll}" lower)
    string(REGEX REPLACE "\\.dll$" "" base "${lower}")
    if(NOT base IN_LIST known_dlls)
      list(APPEND refused "${program} imports ${dll}, which is not a known DLL")
    endif()
  endforeach()
  list(JOIN imported ", " shown)
  message(STATUS "${program}: ${shown}")
endforeach()
if(refused)
  list(JOIN refused "\n" report)
  message(FATAL_ERROR "${report}")
endif()
