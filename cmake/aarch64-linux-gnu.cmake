# Cross-compiles for arm64 with Debian's g++-aarch64-linux-gnu; programs built
# for the target run under qemu-aarch64 (qemu-user).
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# The cross compiler brings the target's C and C++ libraries. The other
# libraries' headers (SDL, X11, libpng, giflib, CLI11, GoogleTest) are the same
# on every architecture and are read from the host's /usr/include, searched
# after the cross compiler's own directories so that the target's C library
# headers always win. Only what needs nothing beyond the C and C++ libraries
# links: the host holds no arm64 builds of SDL, X11, libpng or giflib, so the host's
# own are found to satisfy configuration, and the programs that need them are
# compiled but not linked (`scripts/cross-check.sh` builds what can be).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_C_FLAGS_INIT "-idirafter /usr/include")
set(CMAKE_CXX_FLAGS_INIT "-idirafter /usr/include")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
list(APPEND CMAKE_LIBRARY_PATH /usr/lib/${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu)
