# The same commit builds the same bytes, whatever the source and build
# directories, the clock, the time zone, the umask, the locale or the account:
# no path of either directory and no time of the build gets into a program.
# Included by the top CMakeLists before any target is made.

# The time the build stands for, in seconds since 1970 (UTC), held in
# REPRODUCIBLE_SOURCE_DATE_EPOCH: SOURCE_DATE_EPOCH from the environment, else
# the time of the checked-out commit, else a fixed time for a source tree
# without git (an unpacked source package). Worked out at every configure, so
# a configure after a new commit takes the new time.
set(reproducible_fixed_epoch 1767225600)  # 2026-01-01 00:00:00 UTC
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(REPRODUCIBLE_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  set(reproducible_epoch_origin "SOURCE_DATE_EPOCH")
elseif(EXISTS ${CMAKE_SOURCE_DIR}/.git)
  find_package(Git QUIET)
  set(git_failed "no git program")
  if(GIT_FOUND)
    execute_process(
      COMMAND ${GIT_EXECUTABLE} -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
      RESULT_VARIABLE git_failed
      OUTPUT_VARIABLE REPRODUCIBLE_SOURCE_DATE_EPOCH
      ERROR_VARIABLE git_error
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
  endif()
  if(git_failed)
    # Another account's checkout, say: the programs would carry the fixed
    # time instead of the commit's, so they would not match a release.
    message(WARNING "No commit time from git (${git_failed}: ${git_error}): "
                    "the build uses the fixed time ${reproducible_fixed_epoch}")
    set(REPRODUCIBLE_SOURCE_DATE_EPOCH ${reproducible_fixed_epoch})
    set(reproducible_epoch_origin "the fixed time")
  else()
    set(reproducible_epoch_origin "the commit's time")
  endif()
else()
  set(REPRODUCIBLE_SOURCE_DATE_EPOCH ${reproducible_fixed_epoch})
  set(reproducible_epoch_origin "the fixed time (no git checkout)")
endif()
if(NOT REPRODUCIBLE_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is \"${REPRODUCIBLE_SOURCE_DATE_EPOCH}\":"
                      " a count of seconds is needed")
endif()
message(STATUS "SOURCE_DATE_EPOCH: ${REPRODUCIBLE_SOURCE_DATE_EPOCH}"
               " (${reproducible_epoch_origin})")
# Anything in this configure that asks for the time (string(TIMESTAMP)) gets
# this one.
set(ENV{SOURCE_DATE_EPOCH} ${REPRODUCIBLE_SOURCE_DATE_EPOCH})

# Both directories, as given and with symbolic links resolved, become "." in
# the debug information and in __FILE__: a source file is then named as from
# the top of the source tree (./tarvo/main.cpp), where a debugger or an
# editor started there finds it. The build directory comes
# last, as it may lie inside the source directory and the last match wins.
set(reproducible_maps)
foreach(dir ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
  file(REAL_PATH ${dir} real_dir)
  foreach(from IN LISTS dir real_dir)
    list(APPEND reproducible_maps "-ffile-prefix-map=${from}=.")
  endforeach()
endforeach()
# A build root's headers are named by their paths inside it
# (/usr/include/stdio.h), wherever the root lies. First: the source or
# build directory may lie inside it.
if(CMAKE_SYSROOT)
  file(REAL_PATH ${CMAKE_SYSROOT} real_root)
  foreach(from IN ITEMS ${CMAKE_SYSROOT} ${real_root})
    list(PREPEND reproducible_maps "-ffile-prefix-map=${from}=")
  endforeach()
endif()
list(REMOVE_DUPLICATES reproducible_maps)
add_compile_options(${reproducible_maps})

# __DATE__, __TIME__ and __TIMESTAMP__ would put the build's time into the
# program: refused (warnings are errors).
add_compile_options(-Wdate-time)

# Static libraries with zero times, owners and modes in their member headers,
# so that the build tree's own libraries are the same bytes too.
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

# The PE linker writes the link's time into each program's header unless
# SOURCE_DATE_EPOCH is set: each Windows link gets the build's time.
if(WIN32)
  foreach(lang C CXX)
    set(CMAKE_${lang}_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env
        SOURCE_DATE_EPOCH=${REPRODUCIBLE_SOURCE_DATE_EPOCH})
  endforeach()
endif()
