# One generated header carries the project's version to every program:
# ${CMAKE_BINARY_DIR}/generated/ProgramVersion.h, on qz81kt_core's include path.
set(QZ81KT_TOOL_VERSION "")
foreach(part MAJOR MINOR PATCH TWEAK)
  set(n "${PROJECT_VERSION_${part}}")
  if(n STREQUAL "")
    set(n 0)
  endif()
  string(APPEND QZ81KT_TOOL_VERSION "${n}.")
endforeach()
string(REGEX REPLACE "\\.$" "" QZ81KT_TOOL_VERSION "${QZ81KT_TOOL_VERSION}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/ProgramVersion.h.in ${CMAKE_BINARY_DIR}/generated/ProgramVersion.h @ONLY)
