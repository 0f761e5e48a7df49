# Run by cpack once it has made its packages, before it copies them to
# CPACK_PACKAGE_DIRECTORY: each gets its members in name order with the
# build's time, owner root and fixed modes (tools/release.py normalize), as
# cpack itself takes them from the staging tree as they lie there (times of
# the build, modes after the umask, directory order).
# An .rpm is left as rpmbuild wrote it, its header and signature digests
# over every byte: cpack's RPM settings (cmake/packaging.cmake) fix its
# times, build host and owners, and the file modes are the install rules'.
list(FILTER CPACK_PACKAGE_FILES EXCLUDE REGEX "\\.rpm$")
if(NOT CPACK_PACKAGE_FILES)
  return()
endif()
if(NOT CPACK_LAUNCHERS_PYTHON)
  message(FATAL_ERROR "python3 was not found when the tree was configured: "
                      "the packages cannot be made reproducible")
endif()
execute_process(
  COMMAND ${CPACK_LAUNCHERS_PYTHON} ${CPACK_LAUNCHERS_RELEASE_SCRIPT} normalize
          --epoch ${CPACK_LAUNCHERS_SOURCE_DATE_EPOCH} ${CPACK_PACKAGE_FILES}
  COMMAND_ERROR_IS_FATAL ANY)
