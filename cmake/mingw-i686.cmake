# The shipped product: 32-bit Windows. Its tests run under 32-bit Wine where this machine has it
# and its kernel runs 32-bit code; elsewhere they are built and the OCX is checked statically.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QVX_MINGW_TRIPLE i686-w64-mingw32)
set(QVX_WIDL_TARGET --win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

if(NOT DEFINED QVX_WINE32_RUNS)
  # The loader cmake/wine-env runs; it fails to start at all on a kernel without 32-bit support.
  execute_process(COMMAND /usr/lib/wine/wine --version RESULT_VARIABLE _qvx_wine32
                  OUTPUT_QUIET ERROR_QUIET)
  if(_qvx_wine32 EQUAL 0)
    set(QVX_WINE32_RUNS ON)
  else()
    set(QVX_WINE32_RUNS OFF)
  endif()
endif()
if(QVX_WINE32_RUNS)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run32)
endif()
