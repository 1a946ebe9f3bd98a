# The objdump step of the program checks run with -P: usage and headers of each program.

# Fails with the usage line of script unless OBJDUMP and PROGRAMS are set.
macro(require_objdump_arguments script)
  if(NOT OBJDUMP OR NOT PROGRAMS)
    message(FATAL_ERROR "usage: cmake -DOBJDUMP=<objdump> -DPROGRAMS=<a.exe>|<b.exe> -P ${script}")
  endif()
endmacro()

# The output of `objdump -p program` into out; fails when objdump does.
function(read_pe_headers program out)
  execute_process(COMMAND ${OBJDUMP} -p ${program}
    RESULT_VARIABLE result OUTPUT_VARIABLE headers ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${program} failed (${result}): ${errors}")
  endif()
  set(${out} "${headers}" PARENT_SCOPE)
endfunction()
