# Cross build for 64-bit Windows: the test build for wine64 on kernels that cannot run
# 32-bit code (see scripts/wine-env).
set(ZELVO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
