# Toolchain file for the aarch64 wheel: Debian's cross compiler
# (g++-aarch64-linux-gnu), whose glibc and libstdc++ live under
# /usr/aarch64-linux-gnu. The Python headers come from the host interpreter;
# the limited API they declare is the same on both 64-bit Linux targets.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
