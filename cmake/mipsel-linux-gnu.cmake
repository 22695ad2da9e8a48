# Cross build for the device: 32-bit little-endian MIPS, with Debian's
# mipsel-linux-gnu compilers and a sysroot unpacked from Debian's mipsel
# packages (scripts/cross-setup.sh makes it).  Programs of the build run
# under qemu-mipsel: CTest starts the test binaries through the emulator,
# and the schema generator runs through it at build time.
#
#   cmake -S . -B build-mipsel -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake \
#         [-DMIPSEL_SYSROOT=DIR]
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)

# The sysroot: a -D setting, else the environment, else the directory
# scripts/cross-setup.sh fills by default.  try_compile re-reads this file,
# so the setting is handed on to it.
if(NOT MIPSEL_SYSROOT)
  if(DEFINED ENV{MIPSEL_SYSROOT})
    set(MIPSEL_SYSROOT $ENV{MIPSEL_SYSROOT})
  else()
    get_filename_component(MIPSEL_SYSROOT
      ${CMAKE_CURRENT_LIST_DIR}/../build-mipsel-sysroot ABSOLUTE)
  endif()
endif()
set(MIPSEL_SYSROOT ${MIPSEL_SYSROOT} CACHE PATH "mipsel sysroot (scripts/cross-setup.sh)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MIPSEL_SYSROOT)
if(NOT EXISTS ${MIPSEL_SYSROOT}/usr/lib/mipsel-linux-gnu)
  message(FATAL_ERROR "no mipsel sysroot at ${MIPSEL_SYSROOT}: run scripts/cross-setup.sh")
endif()

# Libraries, headers and packages come from the sysroot only; programs
# (pkg-config, the emulator) from the host.  The C library and the compiler's
# own runtime stay where the cross compiler keeps them.
set(CMAKE_FIND_ROOT_PATH ${MIPSEL_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${MIPSEL_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR}
    ${MIPSEL_SYSROOT}/usr/lib/mipsel-linux-gnu/pkgconfig:${MIPSEL_SYSROOT}/usr/share/pkgconfig)
# Its headers are system headers, as /usr/include is to a native build:
# their warnings are not ours.
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${MIPSEL_SYSROOT}/usr/include)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${MIPSEL_SYSROOT}/usr/include)
# The sysroot's shared libraries name their own dependencies (libc ...),
# which the linker looks up beside them.
set(_mipsel_libdir ${MIPSEL_SYSROOT}/usr/lib/mipsel-linux-gnu)
foreach(_kind EXE SHARED MODULE)
  set(CMAKE_${_kind}_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_mipsel_libdir}")
endforeach()

# The sysroot also holds the C library and loader of the target, so the
# emulator finds everything a program loads below one prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel -L ${MIPSEL_SYSROOT})
