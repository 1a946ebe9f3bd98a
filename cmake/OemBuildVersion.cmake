# Writes the source file that tells oempack its version and the commit it is built from.
# Run at build time (cmake -P), so that the commit is that of the build, not of the
# last configure: -DSOURCE_DIR=... -DTEMPLATE=... -DOUTPUT=... -DVERSION=...
# The file is rewritten only when its text changes, so an unchanged commit rebuilds nothing.
set(OEM_COMMIT unknown)
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
                  OUTPUT_VARIABLE _head OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE _head_result ERROR_QUIET)
  if(_head_result EQUAL 0 AND NOT _head STREQUAL "")
    set(OEM_COMMIT ${_head})
    # Changes to tracked files not yet committed: the build is not that commit.
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} diff --quiet HEAD --
                    RESULT_VARIABLE _dirty ERROR_QUIET)
    if(_dirty EQUAL 1)
      string(APPEND OEM_COMMIT "-modified")
    endif()
  endif()
endif()
set(OEM_VERSION ${VERSION})
configure_file(${TEMPLATE} ${OUTPUT}.new @ONLY)
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUTPUT}.new ${OUTPUT})
file(REMOVE ${OUTPUT}.new)
