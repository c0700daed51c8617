# Cross-compiles for Windows with Debian's mingw-w64 compilers (the
# posix-thread variants, whose C++ runtime has std::thread and friends).
# Included by toolchain-mingw-i686.cmake and toolchain-mingw-x86_64.cmake,
# which set CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)
set(VANTOIR_MINGW_PREFIX ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

set(CMAKE_C_COMPILER ${VANTOIR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VANTOIR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VANTOIR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VANTOIR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in: the .exe runs without any DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
