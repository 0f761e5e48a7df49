# Run by cpack for each package it makes (CPACK_PROJECT_CONFIG_FILE), once
# the programs are built. The .deb's and the .rpm's description say which
# systems the Linux programs run on, the C library and the kernel, and
# their Depends and Requires the C library from that version on, as
# measured from the programs themselves (tools/linux_floor.py).

# The licences as each format carries them (cmake/packaging.cmake): the
# .deb its copyright file and changelog, the others the full texts.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(licence_component debian)
else()
  set(licence_component notices)
endif()
list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${CPACK_LAUNCHERS_BUILD_DIR}
     ${CPACK_LAUNCHERS_PROJECT} ${licence_component} /)

if(NOT CPACK_GENERATOR MATCHES "^(DEB|RPM)$")
  return()
endif()
if(NOT CPACK_LAUNCHERS_PYTHON)
  message(FATAL_ERROR "python3 was not found when the tree was configured: "
                      "the systems the programs need cannot be measured")
endif()
execute_process(
  COMMAND ${CPACK_LAUNCHERS_PYTHON} ${CPACK_LAUNCHERS_FLOOR_SCRIPT}
          --description ${CPACK_LAUNCHERS_PROGRAMS}
  OUTPUT_VARIABLE systems OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}\n${systems}")
  execute_process(
    COMMAND ${CPACK_LAUNCHERS_PYTHON} ${CPACK_LAUNCHERS_FLOOR_SCRIPT}
            --depends ${CPACK_LAUNCHERS_PROGRAMS}
    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_DEPENDS OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
  return()
endif()
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_RPM_PACKAGE_DESCRIPTION}\n${systems}")
execute_process(
  COMMAND ${CPACK_LAUNCHERS_PYTHON} ${CPACK_LAUNCHERS_FLOOR_SCRIPT}
          --requires ${CPACK_LAUNCHERS_PROGRAMS}
  OUTPUT_VARIABLE CPACK_RPM_PACKAGE_REQUIRES OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
# rpmbuild, which cpack runs next, takes the header's build time from it.
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_LAUNCHERS_SOURCE_DATE_EPOCH})
