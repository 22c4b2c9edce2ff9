# Cross-compiling for Windows with the posix-threads mingw-w64 compilers, for
# CMAKE_SYSTEM_PROCESSOR (set by the toolchain file that includes this one).
set(CMAKE_SYSTEM_NAME Windows)
set(TOOLCHAIN_PREFIX ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

set(CMAKE_C_COMPILER   ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TOOLCHAIN_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests and tools run under Wine; the wrapper picks this architecture's prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR env IXA_ARCH=${CMAKE_SYSTEM_PROCESSOR} ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
