# Cross-compiles the Windows program with Debian's mingw-w64: x86_64, the posix thread
# model (std::thread on winpthreads) and every runtime linked statically, so the .exe
# needs nothing beyond what Windows itself ships. Programs built here that the build
# itself runs (the logo generator, test discovery) run under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SORVAN_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${SORVAN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SORVAN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SORVAN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SORVAN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(SORVAN_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(SORVAN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SORVAN_WINE})
endif()
