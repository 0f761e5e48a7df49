# What `cmake --install` lays out, and how cpack packs it: a ZIP of the two
# Windows programs, a .tar.gz, a .deb and an .rpm of the Linux programs with
# their manual pages. The top CMakeLists includes CPack after this file.
include(GNUInstallDirs)

# Only this component goes into the packages, so install rules that other
# parts of the tree may add (demos, test helpers) stay out of them.
set(packaging_component launchers)

# `cmake --install --strip` and cpack strip the programs as they install
# them, and strip stamps a Windows program's header with the time unless
# SOURCE_DATE_EPOCH gives one: the build's time, set before the first.
install(CODE "set(ENV{SOURCE_DATE_EPOCH} ${REPRODUCIBLE_SOURCE_DATE_EPOCH})"
        COMPONENT ${packaging_component})

foreach(program tarvo gorvanel)
  if(TARGET ${program})
    install(TARGETS ${program}
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
            COMPONENT ${packaging_component})
    if(NOT WIN32)
      install(FILES ${CMAKE_SOURCE_DIR}/man/${program}.1
              DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
              COMPONENT ${packaging_component})
    endif()
  endif()
endforeach()

set(CPACK_PACKAGE_NAME talvane-launchers)
set(CPACK_PACKAGE_VENDOR Talvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Console launchers tarvo and gorvanel of the storage management server")
set(CPACK_PACKAGE_CONTACT "Talvane launcher maintainers <launchers@talvane.example>")
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};${packaging_component};/")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

# The same commit gives the same package bytes: cpack's archives are
# rewritten with fixed order, times, owners and modes before they are
# copied out (cmake/normalize_packages.cmake).
# Python is needed only then: a build of the programs alone does without.
find_package(Python3 COMPONENTS Interpreter)
set(CPACK_LAUNCHERS_PYTHON "${Python3_EXECUTABLE}")
set(CPACK_LAUNCHERS_RELEASE_SCRIPT ${CMAKE_SOURCE_DIR}/tools/release.py)
set(CPACK_LAUNCHERS_SOURCE_DATE_EPOCH ${REPRODUCIBLE_SOURCE_DATE_EPOCH})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/normalize_packages.cmake)
# The .deb's description ends with the systems the programs run on, and its
# Depends names the C library they need, both measured from the built
# programs (cmake/package_systems.cmake).
set(CPACK_LAUNCHERS_FLOOR_SCRIPT ${CMAKE_SOURCE_DIR}/tools/linux_floor.py)
set(CPACK_LAUNCHERS_PROGRAMS
    "${CMAKE_BINARY_DIR}/bin/tarvo;${CMAKE_BINARY_DIR}/bin/gorvanel")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/package_systems.cmake)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  # The cross build's one target: 32-bit Windows.
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_GENERATOR "TGZ;DEB;RPM")
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
endif()

# Debian: installed below /usr, named the Debian way
# (talvane-launchers_<version>_<arch>.deb).
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The description of both the .deb and the .rpm; cpack adds the systems
# the programs run on (cmake/package_systems.cmake).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"tarvo starts the SAN manager's command-line class and gorvanel the
information command class of an installed management server, each in the
installation's Java runtime, with the installation's directories taken from
a registry export file (/etc/opt/talvane/registry.reg or TALVANE_REGISTRY).
They end with the exit status of the Java command.")
# The architecture of the programs, not of the machine that packs them.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL x86_64)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL aarch64)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
endif()
# Depends (libc6 and the version the programs need) is measured from the
# built programs (cmake/package_systems.cmake), not asked of
# dpkg-shlibdeps: that reads the packages of the machine that packs them,
# whose C library is neither the build root's nor, for another
# architecture, installed at all.

# RPM: the .deb's name, version, summary and description, named the RPM
# way (talvane-launchers-<version>-1.<arch>.rpm) and installed below /usr.
# Its Requires is measured as the .deb's Depends is
# (cmake/package_systems.cmake): the capability that rpm's own scan names
# for the newest C library version the programs need,
# libc.so.6(GLIBC_2.16)(64bit), which the C library package of every RPM
# distribution provides (rpm 4.11 of RHEL 7 included), of the programs'
# word size and whatever that package is called. The scan itself is off:
# it would list every library and version the programs name besides.
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_RPM_PACKAGE_LICENSE Apache-2.0)
set(CPACK_RPM_PACKAGE_GROUP Applications/System)
# rpm's names of the architectures are the processors'.
set(CPACK_RPM_PACKAGE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_RPM_PACKAGE_AUTOREQPROV no)
# Fixed below /usr, as the .deb: the programs read their registry from a
# fixed path anyway. (cpack's default would make the .rpm relocatable.)
set(CPACK_PACKAGE_RELOCATABLE OFF)
# The package owns its four files, none of the directories they lie in,
# which belong to the system (cpack leaves out /usr, /usr/bin, /usr/share).
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/man /usr/share/man/man1)
# Payload xz, which rpm 4.11 (RHEL 7, SLES 12) reads. Of rpmbuild's
# steps after the install only the manual pages' compression is kept, done
# here as those systems' own packages have it (gzip -9, no name or time;
# the file list takes tarvo.1*): the programs are cpack's stripped copies,
# as in the other packages. Every file gets the build's time, as in the
# other packages: a checkout's files keep older times of their own. No
# build-id links below /usr/lib/.build-id, which the package would own.
# The header gets the build's time too (SOURCE_DATE_EPOCH, exported by
# cmake/package_systems.cmake), a fixed build host and a packager.
set(CPACK_RPM_COMPRESSION_TYPE xz)
string(CONCAT CPACK_RPM_SPEC_INSTALL_POST
       "gzip -9 -n %{buildroot}/usr/${CMAKE_INSTALL_MANDIR}/man1/*.1 && "
       "find %{buildroot} -exec touch -h -d @${REPRODUCIBLE_SOURCE_DATE_EPOCH} {} +")
set(CPACK_RPM_SPEC_MORE_DEFINE
"%define packager ${CPACK_PACKAGE_CONTACT}
%define _build_id_links none
%define _buildhost localhost
%define use_source_date_epoch_as_buildtime 1")
# One entry, of the build's day, by the maintainers: cpack's default is an
# unrelated one of 2010.
string(TIMESTAMP rpm_changelog_day "%a %b %d %Y" UTC)
set(CPACK_RPM_CHANGELOG_FILE ${CMAKE_BINARY_DIR}/rpm-changelog)
file(WRITE ${CPACK_RPM_CHANGELOG_FILE}
     "* ${rpm_changelog_day} ${CPACK_PACKAGE_CONTACT} - ${PROJECT_VERSION}-1\n"
     "- Version ${PROJECT_VERSION}\n")

# `make package_source`: the sources without build trees and caches.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES
    "/\\\\.git/" "/build/" "/__pycache__/" "\\\\.pyc$")
