# What both MinGW-w64 toolchains share; ZEL_MINGW_TRIPLET names the target.
set(CMAKE_C_COMPILER ${ZEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEL_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${ZEL_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${ZEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Folders of the runtime DLLs the programs need (libstdc++, libgcc, winpthread).
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE _zel_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(_zel_gcc_dir "${_zel_libstdcxx}" DIRECTORY)
set(ZEL_MINGW_RUNTIME_DIRS "${_zel_gcc_dir}:/usr/${ZEL_MINGW_TRIPLET}/lib")
