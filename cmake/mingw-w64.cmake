# Cross-compiles the client for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64-posix):
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -B build-win
# The posix thread model gives std::thread and std::mutex; zlib comes from libz-mingw-w64-dev.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARVO_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TARVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The programs built here run on Linux under Wine; CTest runs the tests through it.
find_program(TARVO_WINE wine)
if(TARVO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVO_WINE})
endif()
