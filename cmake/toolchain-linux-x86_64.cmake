# The shipped x86_64 Linux programs: compiled and linked by the gcc of the
# Debian 11 build root (tools/build_root.py) against its C library, glibc
# 2.31, whose symbol versions those programs then ask for, so that they run
# on the older systems where management servers run. The host's cmake and
# binutils drive it: the root's gcc finds its own cc1plus, headers and
# libraries through its install prefix and the sysroot, and takes `as` and
# `ld` from PATH, as it has none of its own beside it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The root's path follows from its package list: asked at every read of
# this file (try_compile projects read it too), so a changed list takes the
# new root.
find_program(LAUNCHER_ROOT_PYTHON python3 NO_CMAKE_FIND_ROOT_PATH)
execute_process(
  COMMAND ${LAUNCHER_ROOT_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/../tools/build_root.py path
  OUTPUT_VARIABLE launcher_root OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
set(launcher_gcc ${launcher_root}/usr/bin/x86_64-linux-gnu-gcc-10)
if(NOT EXISTS ${launcher_gcc})
  message(FATAL_ERROR "No build root at ${launcher_root}: make it, as root, "
                      "with tools/build_root.py make")
endif()

set(CMAKE_SYSROOT ${launcher_root})
set(CMAKE_C_COMPILER ${launcher_gcc})
set(CMAKE_CXX_COMPILER ${launcher_root}/usr/bin/x86_64-linux-gnu-g++-10)
# The host's binutils, as for the compiler's own `as` and `ld`; cmake would
# otherwise take the root's, found beside the compiler.
foreach(tool ar ranlib nm objcopy objdump strip readelf)
  string(TOUPPER ${tool} name)
  find_program(CMAKE_${name} ${tool} NO_CMAKE_FIND_ROOT_PATH)
endforeach()
find_program(CMAKE_LINKER ld NO_CMAKE_FIND_ROOT_PATH)
set(CMAKE_C_COMPILER_AR ${CMAKE_AR})
set(CMAKE_CXX_COMPILER_AR ${CMAKE_AR})
set(CMAKE_C_COMPILER_RANLIB ${CMAKE_RANLIB})
set(CMAKE_CXX_COMPILER_RANLIB ${CMAKE_RANLIB})

# Headers, libraries and packages (GoogleTest) from the root; programs
# (python3, java) from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
