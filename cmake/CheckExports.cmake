# cmake -DOBJDUMP=... -DLIBRARY=ZelAdminSal.dll -P CheckExports.cmake
# Reads the DLL's export table: the API is there under its linker names (ZEL_CRC16 unmangled),
# the library's inner functions are not.
cmake_minimum_required(VERSION 3.25)

set(required
    ZEL_CRC16
    _ZN17ZEL_AdminToolSAL6C1ER18ZEL_PIF_ISubSystem
    _ZN16ZEL_AdminToolSAL18s_adminToolContextE
    _ZN3zel5trace18InstallTraceDeviceEPNS0_11TraceDeviceE
    _ZN3zel9admintool13DescribeEventEtNS_8protocol9DirectionEPKhj)
set(forbidden _ZN3zel5trace8OpenOnceEv _ZN3zel3sal18TraceWriteFailureERKNS0_7RequestEi)

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p ${LIBRARY} failed")
endif()
# The names follow "[Ordinal/Name Pointer] Table", one a line: "\t[  12] NAME".
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${LIBRARY} has no export table")
endif()
string(SUBSTRING "${dump}" ${at} -1 dump)
string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]*" lines "${dump}")
set(exported "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE ".* " "" name "${line}")
  list(APPEND exported "${name}")
endforeach()
list(LENGTH exported count)
if(count EQUAL 0)
  message(FATAL_ERROR "${LIBRARY} exports nothing")
endif()
foreach(name IN LISTS required)
  if(NOT name IN_LIST exported)
    message(FATAL_ERROR "${LIBRARY} does not export ${name}")
  endif()
endforeach()
foreach(name IN LISTS forbidden)
  if(name IN_LIST exported)
    message(FATAL_ERROR "${LIBRARY} exports the inner ${name}")
  endif()
endforeach()
message(STATUS "${LIBRARY}: ${count} names exported, the API among them")
