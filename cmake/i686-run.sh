#!/bin/sh
# Runs a 32-bit x86 Linux program for CTest (CMAKE_CROSSCOMPILING_EMULATOR):
#   i686-run.sh PROGRAM [ARGUMENTS...]
# Natively when the kernel runs 32-bit programs; otherwise (a kernel without IA-32 emulation)
# under qemu-i386 in user mode. The test helpers start child processes through the same
# emulator (ZEL_TEST_EMULATOR), since such a kernel cannot start them either.
set -eu
# The 32-bit dynamic loader is itself a 32-bit program: it runs only where they all can.
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  exec "$@"
fi
qemu=$(command -v qemu-i386) || {
  echo "i686-run: this kernel cannot run 32-bit programs; install qemu-user" >&2
  exit 1
}
export ZEL_TEST_EMULATOR="$qemu"
# qemu reserves the whole 4 GiB guest address space by default, more than a test's memory bound
# (ulimit -v) allows; 512 MiB is plenty for any test.
export QEMU_RESERVED_VA="${QEMU_RESERVED_VA:-0x20000000}"
exec "$qemu" "$@"
