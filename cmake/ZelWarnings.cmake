# zel_set_warnings(target): the project's warning set on one target.
function(zel_set_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                                             -Wnon-virtual-dtor -Wold-style-cast)
    if(ZEL_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
      # GCC 12 with optimisation reports -Wrestrict inside libstdc++'s own string insertion
      # (GCC bug 105329, a false positive for `u"..." + std::u16string`): shown, but not an
      # error. Debug builds keep their flags (and their compiler cache).
      if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:-Wno-error=restrict>)
      endif()
    endif()
  elseif(MSVC)
    target_compile_options(${target} PRIVATE /W4)
    if(ZEL_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
  endif()
endfunction()

# zel_add_test(name sources... [OWN_MAIN] [LABELS labels...] LIBS libs...): one GoogleTest
# executable, every case listed in ctest. OWN_MAIN: the sources bring their own main() (which
# calls RunChildRoleIfAsked when the program starts child processes). LABELS: the CTest labels of
# every case; `system` marks a program whose cases start processes of the system (zelfarmd,
# zeladmin, slapd): CI runs those on the release build, the others under the sanitizers.
# A cross build lists the cases when the tests run (through the emulator), not when it builds;
# a build whose programs cannot run here (Windows i686) builds the tests and lists none.
function(zel_add_test name)
  cmake_parse_arguments(ARG "OWN_MAIN" "" "LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  if(NOT ARG_OWN_MAIN)
    target_link_libraries(${name} PRIVATE zel_test_main)
  endif()
  zel_set_warnings(${name})
  set(properties)
  if(ARG_LABELS)
    set(properties PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  if(NOT CMAKE_CROSSCOMPILING)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 ${properties})
  elseif(NOT WIN32 OR CMAKE_CROSSCOMPILING_EMULATOR)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 DISCOVERY_MODE PRE_TEST ${properties})
  endif()
endfunction()
