# CMake toolchain for building the module for Linux on aarch64 with Debian's cross
# compiler (g++-aarch64-linux-gnu), against the target's C library and libstdc++ in
# /usr/aarch64-linux-gnu. tools/build-wheel passes the target interpreter's
# headers and ABI tag itself.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
# Programs (the build interpreter, ninja) are the host's; headers and libraries the target's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
