# Windows x86_64 with MinGW-w64 (the posix thread model: the win32 one has no std::mutex).
# Test programs run under wine64 through cmake/wine-run.sh, with a wine prefix of the build's
# own and the compiler's runtime DLLs on the search path.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZEL_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

find_program(ZEL_WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(ZEL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      "${CMAKE_CURRENT_LIST_DIR}/../wine-run.sh;${ZEL_WINE64};${CMAKE_BINARY_DIR}/wineprefix;${ZEL_MINGW_RUNTIME_DIRS}")
endif()
