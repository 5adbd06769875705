# What both mingw-w64 toolchain files share. They set CMAKE_SYSTEM_PROCESSOR, QVX_MINGW_TRIPLE
# and QVX_WIDL_TARGET (the type library's SYSKIND), then include this file.
set(CMAKE_SYSTEM_NAME Windows)
set(QVX_MINGW_ROOT /usr/${QVX_MINGW_TRIPLE} CACHE PATH
    "The mingw-w64 sysroot of ${QVX_MINGW_TRIPLE} (headers and libraries)")
# The -posix compilers: with the win32 thread model GCC has no std::mutex.
set(CMAKE_C_COMPILER ${QVX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QVX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH ${QVX_MINGW_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
