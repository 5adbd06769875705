# 64-bit Windows: the same sources, run under wine64 for the tests.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QVX_MINGW_TRIPLE x86_64-w64-mingw32)
set(QVX_WIDL_TARGET --win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
