# Cross-compiles for 64-bit Windows with Debian's mingw-w64 compilers (the
# posix-thread variants, whose C++ runtime has std::thread and friends).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VANTOIR_MINGW_PREFIX x86_64-w64-mingw32)

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
