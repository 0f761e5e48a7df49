# The programs hardened as operators' security scans expect, for every
# target built after this file is included (the launchers, the bench
# yardsticks, the test helpers):
#
# - Linux: what dpkg-buildflags gives a Debian package with hardening=+all:
#   a stack protector on every function with an array or a local whose
#   address is taken (-fstack-protector-strong), the C library's checked
#   calls (-D_FORTIFY_SOURCE=2), control-flow protection on x86
#   (-fcf-protection), a position-independent program (PIE), and
#   relocations read-only once resolved, all of them at start
#   (-z relro -z now: BIND_NOW).
# - Windows (mingw-w64): address-space layout randomization
#   (DYNAMIC_BASE, with high entropy in a 64-bit program) and no execution
#   of data (NX_COMPAT), and the same stack protector and checked calls,
#   which mingw-w64's static runtime (libssp) supplies.
#
# Off in the sanitizer and fuzzing presets: _FORTIFY_SOURCE wants an
# optimized build and would hide what the sanitizers look for.
# e2e/native_files_test.py and e2e/windows_files_test.py read the built
# programs and fail when a flag is lost.
option(LAUNCHER_HARDENING "Build with the hardening flags" ON)

if(LAUNCHER_HARDENING)
  # -U first: a compiler that defines it itself would warn of the second
  # definition, and warnings are errors.
  add_compile_options(-fstack-protector-strong -U_FORTIFY_SOURCE
                      -D_FORTIFY_SOURCE=2 -Wformat -Werror=format-security)
  if(WIN32)
    # At the link too: the driver then links libssp, where mingw-w64 keeps
    # the stack protector's guard and the checked calls.
    add_link_options(-fstack-protector-strong -Wl,--dynamicbase
                     -Wl,--nxcompat)
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL x86_64)
      add_link_options(-Wl,--high-entropy-va)
    endif()
  else()
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i.86)$")
      add_compile_options(-fcf-protection)
    endif()
    include(CheckPIESupported)
    check_pie_supported(LANGUAGES C CXX)
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    add_link_options(-Wl,-z,relro -Wl,-z,now)
  endif()
endif()
