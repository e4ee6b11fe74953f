cmake_policy(SET CMP0057 NEW)
# Fails unless the Windows DLL LIBRARY exports exactly one name,
# load_vel_service_status (undecorated), and imports from system DLLs alone:
# the compiler's run-time libraries must be linked in, not imported.
# OBJDUMP is an objdump that reads PE files.
if(NOT OBJDUMP)
  set(OBJDUMP objdump)
endif()
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY}
                OUTPUT_VARIABLE dump RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${LIBRARY}: ${errors}")
endif()

# The export name table follows the line "[Ordinal/Name Pointer] Table" (one
# "[ n] name" line per export) and ends at the first line of another form.
string(REPLACE "\n" ";" lines "${dump}")
set(exported "")
set(in_table FALSE)
set(imported "")
foreach(line IN LISTS lines)
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_table TRUE)
  elseif(in_table AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  else()
    set(in_table FALSE)
  endif()
  if(line MATCHES "^[ \t]*DLL Name: (.+)$")
    list(APPEND imported "${CMAKE_MATCH_1}")
  endif()
endforeach()

if(NOT exported STREQUAL "load_vel_service_status")
  message(FATAL_ERROR "expected exactly load_vel_service_status to be exported, found: "
                      "'${exported}'")
endif()

# DLLs present on every Windows installation that a MinGW-built library may
# import: the kernel and the system's C run-time.
set(system_dlls kernel32.dll msvcrt.dll)
if(NOT imported)
  message(FATAL_ERROR "no imports found in ${LIBRARY}; objdump's output was not understood")
endif()
foreach(dll IN LISTS imported)
  string(TOLOWER "${dll}" name)
  if(NOT name IN_LIST system_dlls)
    message(FATAL_ERROR "${LIBRARY} imports from ${dll}, which is not a system DLL "
                        "(imports: ${imported})")
  endif()
endforeach()
message(STATUS "exports: ${exported}; imports: ${imported}")
