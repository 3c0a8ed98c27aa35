# Windows i686 with MinGW-w64 (posix thread model). Built and its exports checked; its programs
# are not run here (that would need the i386 architecture for wine).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZEL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
