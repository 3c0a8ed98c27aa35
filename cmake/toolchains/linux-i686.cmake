# 32-bit x86 Linux with the host's compilers (-m32, Debian's gcc-multilib).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
set(FIND_LIBRARY_USE_LIB32_PATHS ON)
set(FIND_LIBRARY_USE_LIB64_PATHS OFF)
# The host's 64-bit packages (SQLite, GoogleTest) cannot be linked; both come from source.
set(CMAKE_IGNORE_PREFIX_PATH /usr/lib/x86_64-linux-gnu/cmake)
# Programs run through a wrapper that falls back to qemu-i386 where the kernel cannot run them.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../i686-run.sh")
