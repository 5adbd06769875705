# Warnings are errors in every build.
add_compile_options(-Wall -Wextra -Werror -Wshadow -Wnon-virtual-dtor -Wformat=2 -Wundef)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND WIN32)
  # MinGW's headers cast FARPROC freely; those casts are the platform's idiom.
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-cast-function-type>)
endif()
