# Cross build of the portable core and its native tests for 32-bit Linux (i686): 32-bit
# pointers and size_t, and GCC's i686 default of x87 80-bit floating point, so that the
# arithmetic of the 32-bit product is checked on every machine. The programs are linked
# static: qemu-i386 (user-mode emulation, no binfmt registration) then runs them on a
# kernel without 32-bit execution too, with no 32-bit system libraries installed.
# zlib and libpng are cross-built static by scripts/setup into .cache/linux-i686-prefix;
# GoogleTest is built from /usr/src/googletest as in the Windows builds.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
get_filename_component(ZELVO_I686_PREFIX "${CMAKE_CURRENT_LIST_DIR}/../.cache/linux-i686-prefix" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu ${ZELVO_I686_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386)
