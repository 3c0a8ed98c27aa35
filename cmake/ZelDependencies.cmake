# SQLite and GoogleTest: the installed packages in a native build; built from source where the
# packages cannot serve the target (cross builds, -m32).
#   ZEL_SQLITE_AMALGAMATION  folder with sqlite3.c and sqlite3.h (scripts/setup-cross.sh puts
#                            one under build/deps); empty: the system's SQLite
#   ZEL_GTEST_SOURCE         GoogleTest's source tree (Debian: /usr/src/googletest); empty:
#                            the installed GoogleTest
set(ZEL_SQLITE_AMALGAMATION "" CACHE PATH "Folder with sqlite3.c and sqlite3.h to build SQLite from")
set(ZEL_GTEST_SOURCE "" CACHE PATH "GoogleTest source tree to build with the project")

if(ZEL_SQLITE_AMALGAMATION)
  if(NOT EXISTS "${ZEL_SQLITE_AMALGAMATION}/sqlite3.c")
    message(FATAL_ERROR "no sqlite3.c in ${ZEL_SQLITE_AMALGAMATION} (run scripts/setup-cross.sh)")
  endif()
  # A shared library, so that the directory component and the tests that inspect a store file
  # share one SQLite (two copies in one process would not see each other's POSIX locks).
  add_library(zel_sqlite3 SHARED "${ZEL_SQLITE_AMALGAMATION}/sqlite3.c")
  target_include_directories(zel_sqlite3 SYSTEM PUBLIC "${ZEL_SQLITE_AMALGAMATION}")
  target_compile_definitions(zel_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION)
  # The amalgamation is big and not ours: optimised and quiet whatever the build type.
  target_compile_options(zel_sqlite3 PRIVATE -O1 -w)
  set_target_properties(zel_sqlite3 PROPERTIES C_VISIBILITY_PRESET default)
  if(NOT WIN32)
    find_package(Threads REQUIRED)
    target_link_libraries(zel_sqlite3 PRIVATE Threads::Threads)
  endif()
  add_library(SQLite::SQLite3 ALIAS zel_sqlite3)
else()
  find_package(SQLite3 REQUIRED)
endif()

if(ZEL_BUILD_TESTS)
  if(ZEL_GTEST_SOURCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory("${ZEL_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
    # GoogleTest 1.11 and later name their targets GTest:: themselves; older ones do not.
    foreach(library gtest gtest_main gmock)
      if(NOT TARGET GTest::${library})
        add_library(GTest::${library} ALIAS ${library})
      endif()
    endforeach()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()
