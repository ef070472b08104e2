# Cross-compiles for Windows with MinGW-w64's posix thread model (GoogleTest needs
# std::mutex, which the win32 model lacks). MINGW_ARCH is i686 (the shipped 32-bit
# program) unless x86_64 is asked for: a machine whose kernel runs no 32-bit code
# can still run the tests under wine64.
if(NOT MINGW_ARCH)
    set(MINGW_ARCH i686)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MINGW_ARCH})
set(toolchain_prefix ${MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${toolchain_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${toolchain_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${toolchain_prefix}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${toolchain_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
