# Cross-compiling for Windows with Debian's mingw-w64, the posix-thread compilers named
# explicitly (the plain names may be the win32-thread variant, which has no std::mutex).
# SKELDER_WINDOWS_ARCH: x86_64 (the default) or i686, the host's own architecture.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT SKELDER_WINDOWS_ARCH)
  set(SKELDER_WINDOWS_ARCH x86_64)
endif()
set(CMAKE_SYSTEM_PROCESSOR ${SKELDER_WINDOWS_ARCH})
set(triple ${SKELDER_WINDOWS_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Programs of the build run under wine, through a wrapper that gives every call the same prefix,
# TMPDIR and quiet debug channels.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ${SKELDER_WINDOWS_ARCH})
# Everything linked statically: no libstdc++-6.dll or libgcc_s_*.dll to carry around (wine exits
# 53 without a word when one is missing).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
