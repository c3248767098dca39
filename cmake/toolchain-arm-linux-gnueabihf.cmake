# Cross-build for 32-bit ARM Linux (armhf) with Debian's cross compiler and
# a private armhf sysroot of the libraries the build links (made by
# scripts/armhf-sysroot DIR; nothing armhf is installed on the host):
#
#   sh scripts/armhf-sysroot $PWD/build-arm/sysroot
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm-linux-gnueabihf.cmake \
#         -DLM_ARMHF_SYSROOT=$PWD/build-arm/sysroot
#
# Without binfmt_misc an ARM executable starts only through qemu-arm, so the
# tests run under the emulator named here (override on the command line):
# qemu-arm runs the sysroot's loader, which loads the program with the
# sysroot's libraries, so the loader and libc come from the same libc6
# package as libssl and libstdc++. Not qemu-arm -L SYSROOT: it looks every
# absolute path up in SYSROOT first, so open("/") gets the sysroot and the
# files a test makes below /tmp land there. Not -L /usr/arm-linux-gnueabihf
# either: that loader is the cross toolchain's copy of glibc, which would
# load the sysroot's libc of another release, and a forked child crashes.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(LM_ARMHF_SYSROOT "" CACHE PATH "The armhf sysroot of scripts/armhf-sysroot (absolute)")
# The checks CMake compiles re-read this file in projects of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LM_ARMHF_SYSROOT)
if(NOT IS_ABSOLUTE "${LM_ARMHF_SYSROOT}" OR NOT EXISTS "${LM_ARMHF_SYSROOT}/lib/ld-linux-armhf.so.3")
  message(FATAL_ERROR "LM_ARMHF_SYSROOT must name a sysroot of scripts/armhf-sysroot "
                      "by absolute path (it is \"${LM_ARMHF_SYSROOT}\")")
endif()
set(sysroot_libs "${LM_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf")

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# Headers and libraries from the sysroot, ahead of the cross compiler's own
# libc (no --sysroot: the C library headers and start files stay those of
# the cross toolchain); architecture-independent packages (header-only or
# CMake files under /usr/share) from the build machine; programs (perl,
# python3, readelf) from the build machine.
set(CMAKE_FIND_ROOT_PATH ${LM_ARMHF_SYSROOT} /usr/arm-linux-gnueabihf /usr /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The compiler searches the host's /usr/include last: the sysroot's headers
# (with their armhf configuration headers) come first.
set(sysroot_includes
    "-isystem ${LM_ARMHF_SYSROOT}/usr/include/arm-linux-gnueabihf -isystem ${LM_ARMHF_SYSROOT}/usr/include")
# libssl.so needs libcrypto.so.3 at link time, found beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-Wl,-rpath-link,${sysroot_libs}:${LM_ARMHF_SYSROOT}/lib/arm-linux-gnueabihf")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")

# pkg-config (which FindOpenSSL and FindEXPAT ask for hints) reads the
# sysroot's .pc files.
set(ENV{PKG_CONFIG_LIBDIR} "${sysroot_libs}/pkgconfig:${LM_ARMHF_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${LM_ARMHF_SYSROOT}")

set(CMAKE_CROSSCOMPILING_EMULATOR
    "qemu-arm;${LM_ARMHF_SYSROOT}/lib/ld-linux-armhf.so.3;--library-path;${LM_ARMHF_SYSROOT}/lib/arm-linux-gnueabihf:${sysroot_libs}"
    CACHE STRING "Runs a built executable on the build machine")

# The top CMakeLists asks for 64-bit file offsets in every build. time_t
# stays 32 bits: Debian 12's armhf OpenSSL and expat use a 32-bit time_t.


# GCC 12 reports overlapping copies that cannot happen when it inlines
# "text" + std::string for 32-bit targets (a known false -Wrestrict); with
# warnings as errors it would stop the build on ordinary concatenations.
set(CMAKE_C_FLAGS_INIT "${sysroot_includes}")
set(CMAKE_CXX_FLAGS_INIT "${sysroot_includes} -Wno-restrict")
