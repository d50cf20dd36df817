# Cross build for 32-bit Windows, the program that ships.
set(ZELVO_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# SSE2 floating point instead of GCC's i686 default of x87 80-bit registers: doubles are
# then rounded to 64 bits at every step, as in the 64-bit Windows build and the native
# one, so no computation gives a different result in the program that ships.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
