# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (package
# g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DVK_TESTS=OFF
# The executables are linked statically (C and C++ run-times and the POSIX
# thread library included), so they need nothing but the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VK_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread model: std::thread and the sleeps of <thread> need it.
find_program(CMAKE_CXX_COMPILER NAMES ${VK_MINGW_TRIPLE}-g++-posix ${VK_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${VK_MINGW_TRIPLE}-gcc-posix ${VK_MINGW_TRIPLE}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${VK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
