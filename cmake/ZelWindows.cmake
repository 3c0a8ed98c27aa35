# What a Windows build adds: the library under the file name its callers load, and a check of
# its export table that runs on the build machine (so the i686 build, whose programs are not
# run here, is checked too).
if(NOT WIN32)
  return()
endif()

set_target_properties(ZelAdminSal PROPERTIES PREFIX "")

# The white-box tests link the library's objects statically; declarations they see must not
# ask for imports from a DLL.
target_compile_definitions(zel_adminsal_static INTERFACE ZEL_ADMINSAL_BUILDING)

if(ZEL_BUILD_TESTS)
  find_program(ZEL_OBJDUMP NAMES ${CMAKE_OBJDUMP} ${ZEL_MINGW_TRIPLET}-objdump objdump REQUIRED)
  add_test(NAME ZelAdminSalExports
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${ZEL_OBJDUMP} -DLIBRARY=$<TARGET_FILE:ZelAdminSal>
                   -P ${CMAKE_CURRENT_LIST_DIR}/CheckExports.cmake)
endif()
