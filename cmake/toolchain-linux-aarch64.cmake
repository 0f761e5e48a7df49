# The shipped aarch64 Linux programs: compiled by the Debian 11 build root's
# cross compiler (g++-aarch64-linux-gnu, gcc 10, tools/build_root.py) and
# linked against its arm64 C library, glibc 2.31 (libc6-dev-arm64-cross,
# below /usr/aarch64-linux-gnu in the root), so that they ask for no newer
# symbol versions than the x86_64 programs. The host's cmake drives it, and
# the host's aarch64 binutils (binutils-aarch64-linux-gnu) assemble and
# link: the root's own are linked against the root's libbfd and libopcodes,
# which the host's loader does not find. The unit and end-to-end tests run
# the programs under qemu-user, with the root's arm64 loader and libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(launcher_triplet aarch64-linux-gnu)

# The root's path follows from its package list: asked at every read of
# this file (try_compile projects read it too), so a changed list takes the
# new root.
find_program(LAUNCHER_ROOT_PYTHON python3 NO_CMAKE_FIND_ROOT_PATH)
execute_process(
  COMMAND ${LAUNCHER_ROOT_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/../tools/build_root.py path
  OUTPUT_VARIABLE launcher_root OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
set(launcher_gcc ${launcher_root}/usr/bin/${launcher_triplet}-gcc-10)
if(NOT EXISTS ${launcher_gcc})
  message(FATAL_ERROR "No build root at ${launcher_root}: make it, as root, "
                      "with tools/build_root.py make")
endif()

set(CMAKE_SYSROOT ${launcher_root})
set(CMAKE_C_COMPILER ${launcher_gcc})
set(CMAKE_CXX_COMPILER ${launcher_root}/usr/bin/${launcher_triplet}-g++-10)

# The host's binutils for the compiler's `as` and `ld` (-B: searched before
# the root's, which sit where the compiler looks first) and for cmake's own
# steps.
set(launcher_binutils_dir /usr/${launcher_triplet}/bin)
if(NOT EXISTS ${launcher_binutils_dir}/as)
  message(FATAL_ERROR "${launcher_binutils_dir}/as is missing: install "
                      "binutils-aarch64-linux-gnu (tools/setup-deps.sh package)")
endif()
set(CMAKE_C_FLAGS_INIT "-B${launcher_binutils_dir}/")
set(CMAKE_CXX_FLAGS_INIT "-B${launcher_binutils_dir}/")
foreach(tool ar ranlib nm objcopy objdump strip readelf)
  string(TOUPPER ${tool} name)
  find_program(CMAKE_${name} ${launcher_triplet}-${tool} NO_CMAKE_FIND_ROOT_PATH)
endforeach()
find_program(CMAKE_LINKER ${launcher_triplet}-ld NO_CMAKE_FIND_ROOT_PATH)
set(CMAKE_C_COMPILER_AR ${CMAKE_AR})
set(CMAKE_CXX_COMPILER_AR ${CMAKE_AR})
set(CMAKE_C_COMPILER_RANLIB ${CMAKE_RANLIB})
set(CMAKE_CXX_COMPILER_RANLIB ${CMAKE_RANLIB})

# qemu-user runs the unit tests (gtest_discover_tests and ctest take it
# from here) and, through the end-to-end suites' LAUNCHER_WRAPPER, the
# launchers; -L names the root's arm64 loader and libraries. Not needed to
# build or package: without it the tests cannot be configured.
find_program(LAUNCHER_QEMU qemu-aarch64 NO_CMAKE_FIND_ROOT_PATH)
if(LAUNCHER_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${LAUNCHER_QEMU} -L ${launcher_root}/usr/${launcher_triplet})
endif()

# GoogleTest and GoogleMock, built in the tree from the root's sources:
# the root's libgtest.a is x86_64.
set(LAUNCHER_GOOGLETEST_SOURCES ${launcher_root}/usr/src/googletest)

# Headers and libraries from the root; programs (python3, java) from the
# host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
