# 32-bit x86 Linux build: the shared code as the 32-bit product DLL has it (32-bit size_t and
# pointers), run under qemu user-mode emulation, since this machine cannot execute i686 code.
# Its libraries come from the private sysroot made by scripts/i686-sysroot.sh.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(QUILLON_I686_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../build/i686-sysroot)
get_filename_component(QUILLON_I686_SYSROOT ${QUILLON_I686_SYSROOT} ABSOLUTE)
if(NOT EXISTS ${QUILLON_I686_SYSROOT}/.complete)
  message(FATAL_ERROR "No i686 sysroot: run scripts/i686-sysroot.sh first")
endif()
set(CMAKE_FIND_ROOT_PATH ${QUILLON_I686_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${QUILLON_I686_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR} ${QUILLON_I686_SYSROOT}/usr/lib/i386-linux-gnu/pkgconfig:${QUILLON_I686_SYSROOT}/usr/share/pkgconfig)
# The sysroot's libraries pull in others (curl's TLS and Kerberos stacks) that the linker must
# find there too, not on the host.
set(QUILLON_I686_LINK_FLAGS
    "-Wl,-rpath-link,${QUILLON_I686_SYSROOT}/lib/i386-linux-gnu -Wl,-rpath-link,${QUILLON_I686_SYSROOT}/usr/lib/i386-linux-gnu")
set(CMAKE_EXE_LINKER_FLAGS_INIT ${QUILLON_I686_LINK_FLAGS})
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${QUILLON_I686_LINK_FLAGS})
set(CMAKE_MODULE_LINKER_FLAGS_INIT ${QUILLON_I686_LINK_FLAGS})
# Large-file calls: without them 32-bit readdir fails with EOVERFLOW on 64-bit inode numbers.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L ${QUILLON_I686_SYSROOT})
