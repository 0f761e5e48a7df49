# Run by cpack for each package it makes (CPACK_PROJECT_CONFIG_FILE), once
# the programs are built: the Debian package's description says which
# systems the Linux programs run on, the C library and the kernel, and its
# Depends the C library's package from that version on, as measured from
# the programs themselves (tools/linux_floor.py).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
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
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}\n${systems}")
execute_process(
  COMMAND ${CPACK_LAUNCHERS_PYTHON} ${CPACK_LAUNCHERS_FLOOR_SCRIPT}
          --depends ${CPACK_LAUNCHERS_PROGRAMS}
  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_DEPENDS OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
