# Writes OUTPUT, a header defining MATBENCH_VERSION as git describe says it of SOURCE (GIT the
# git program; "unknown" without it). Run by CMake at build time.
include(${CMAKE_CURRENT_LIST_DIR}/write_if_changed.cmake)
set(version "unknown")
if(GIT)
  execute_process(COMMAND "${GIT}" describe --always --dirty WORKING_DIRECTORY "${SOURCE}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE described ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(status EQUAL 0 AND NOT described STREQUAL "")
    set(version "${described}")
  endif()
endif()
string(REPLACE "\\" "\\\\" version "${version}")
string(REPLACE "\"" "\\\"" version "${version}")
write_if_changed("${OUTPUT}" "#define MATBENCH_VERSION \"${version}\"\n")
