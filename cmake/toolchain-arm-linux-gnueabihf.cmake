# Cross-build for 32-bit ARM Linux (armhf) with Debian's cross compiler and
# the armhf multiarch libraries (scripts/install-deps --armhf):
#
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm-linux-gnueabihf.cmake
#
# Without binfmt_misc an ARM executable starts only through qemu-arm, so the
# tests run under the emulator named here (override on the command line).
# No -L /usr/arm-linux-gnueabihf: that loader is the cross toolchain's copy
# of glibc, which then loads the multiarch libc6:armhf of another release,
# and a forked child crashes. The multiarch /lib/ld-linux-armhf.so.3 fits.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# Headers and libraries from the armhf multiarch directories only; programs
# (perl, python3, readelf) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(APPEND CMAKE_FIND_ROOT_PATH /usr /)
set(PKG_CONFIG_EXECUTABLE arm-linux-gnueabihf-pkg-config CACHE FILEPATH "")

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm CACHE STRING
    "Runs a built executable on the build machine")

# The top CMakeLists asks for 64-bit file offsets in every build. time_t
# stays 32 bits: Debian 12's armhf OpenSSL and expat use a 32-bit time_t.


# GCC 12 reports overlapping copies that cannot happen when it inlines
# "text" + std::string for 32-bit targets (a known false -Wrestrict); with
# warnings as errors it would stop the build on ordinary concatenations.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
