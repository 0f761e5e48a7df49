# What `cmake --install` lays out, and how cpack packs it: a ZIP of the two
# Windows programs, a .tar.gz, a .deb and an .rpm of the Linux programs with
# their manual pages. The top CMakeLists includes CPack after this file.
include(GNUInstallDirs)

# Only this component (and "bill", "notices" and "debian" below, as each
# format wants them) goes into the packages, so install rules that other
# parts of the tree may add (demos, test helpers) stay out of them.
set(packaging_component launchers)

# `cmake --install --strip` and cpack strip the programs as they install
# them, and strip stamps a Windows program's header with the time unless
# SOURCE_DATE_EPOCH gives one: the build's time, set before the first.
install(CODE "set(ENV{SOURCE_DATE_EPOCH} ${REPRODUCIBLE_SOURCE_DATE_EPOCH})"
        COMPONENT ${packaging_component})

set(package_name talvane-launchers)
set(package_contact "Talvane launcher maintainers <launchers@talvane.example>")
if(WIN32)
  # The cross build's one target: 32-bit Windows.
  set(CPACK_SYSTEM_NAME win32)
else()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
endif()
set(CPACK_PACKAGE_FILE_NAME ${package_name}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
# Directories the install makes get 0755 whatever the umask: the .rpm,
# which owns its own, keeps the modes it finds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)

foreach(program tarvo gorvanel)
  if(TARGET ${program})
    install(TARGETS ${program}
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
            COMPONENT ${packaging_component})
    list(APPEND installed_programs
         ${CMAKE_INSTALL_BINDIR}/${program}${CMAKE_EXECUTABLE_SUFFIX})
    if(NOT WIN32)
      list(APPEND manual_pages ${CMAKE_SOURCE_DIR}/man/${program}.1)
    endif()
  endif()
endforeach()

# Python runs the install steps below and the packages' rewriting.
find_package(Python3 COMPONENTS Interpreter)

# The files each package carries besides the programs, made by
# tools/package_files.py as cpack installs them, from what the programs'
# links used (tools/linked_components.py reads their link maps), and left
# out of a plain `cmake --install`:
# - the bill of materials, of the programs as stripped, in every package
#   (at the top of the ZIP, in share/doc/<package>/ elsewhere) and beside
#   the packages in the tree's packages/ (component "bill", installed after
#   the programs);
# - the project's LICENSE and THIRD-PARTY-NOTICES, the copyright files of
#   the linked packages and the licence texts they refer to, in full
#   (component "notices": the ZIP at its top, the .tar.gz and the .rpm in
#   share/licenses/<package>/);
# - the .deb's copyright file in Debian's machine-readable format and its
#   changelog.gz (component "debian").
# cmake/package_systems.cmake picks the components of each format.
if(WIN32)
  set(notices_dir .)
  set(bill_file sbom.cdx.json)
else()
  set(notices_dir ${CMAKE_INSTALL_DATADIR}/licenses/${package_name})
  set(bill_file ${CMAKE_INSTALL_DATADIR}/doc/${package_name}/sbom.cdx.json)
endif()
set(package_files ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/package_files.py)
set(installed "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}")
set(linked --tree ${CMAKE_BINARY_DIR} --sysroot=${CMAKE_SYSROOT})
set(described --name ${package_name} --version ${PROJECT_VERSION}
              --epoch ${REPRODUCIBLE_SOURCE_DATE_EPOCH}
              --homepage ${PROJECT_HOMEPAGE_URL})
function(install_step component)
  list(JOIN ARGN "\" \"" command)
  set(only_cpack)
  if(NOT component STREQUAL packaging_component)
    set(only_cpack EXCLUDE_FROM_ALL)
  endif()
  install(CODE "execute_process(COMMAND \"${command}\" COMMAND_ERROR_IS_FATAL ANY)"
          COMPONENT ${component} ${only_cpack})
endfunction()
if(installed_programs)
  install_step(bill ${package_files} bill ${linked} ${described}
               --prefix ${installed} --bill ${bill_file}
               --copy ${CMAKE_BINARY_DIR}/packages/${CPACK_PACKAGE_FILE_NAME}.cdx.json
               --platform ${CPACK_SYSTEM_NAME} ${installed_programs})
  install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${notices_dir}
          COMPONENT notices EXCLUDE_FROM_ALL)
  install_step(notices ${package_files} notices ${linked}
               --out ${installed}/${notices_dir}/THIRD-PARTY-NOTICES)
endif()
if(manual_pages)
  install_step(${packaging_component} ${package_files} man
               --out ${installed}/${CMAKE_INSTALL_MANDIR}/man1 ${manual_pages})
endif()
if(NOT WIN32 AND installed_programs)
  install_step(debian ${package_files} debian ${linked} ${described}
               --doc ${installed}/${CMAKE_INSTALL_DATADIR}/doc/${package_name}
               --contact ${package_contact})
endif()

set(CPACK_PACKAGE_NAME ${package_name})
set(CPACK_PACKAGE_VENDOR Talvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Console launchers tarvo and gorvanel of the storage management server")
set(CPACK_PACKAGE_CONTACT "${package_contact}")
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};${packaging_component};/"
    "${CMAKE_BINARY_DIR};${PROJECT_NAME};bill;/")
set(CPACK_LAUNCHERS_BUILD_DIR ${CMAKE_BINARY_DIR})
set(CPACK_LAUNCHERS_PROJECT ${PROJECT_NAME})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

# The same commit gives the same package bytes: cpack's archives are
# rewritten with fixed order, times, owners and modes before they are
# copied out (cmake/normalize_packages.cmake).
# Python is needed only then: a build of the programs alone does without.
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
else()
  set(CPACK_GENERATOR "TGZ;DEB;RPM")
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
# The package owns its files and its own directories below
# /usr/share/doc and /usr/share/licenses, none of the directories they lie
# in, which belong to the system (cpack leaves out /usr, /usr/bin,
# /usr/share, /usr/share/doc). The licence texts are marked as such
# (%license), which rpm installs even where it leaves out documentation.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/man /usr/share/man/man1 /usr/share/licenses)
set(CPACK_RPM_USER_FILELIST
    "%license /usr/${notices_dir}/LICENSE"
    "%license /usr/${notices_dir}/THIRD-PARTY-NOTICES")
set(CPACK_RPM_DEFAULT_DIR_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
# Payload xz, which rpm 4.11 (RHEL 7, SLES 12) reads. None of rpmbuild's
# steps after the install: the programs are cpack's stripped copies and the
# manual pages are compressed, as in the other packages. Every file gets
# the build's time, as in the other packages: a checkout's files keep older
# times of their own. No build-id links below /usr/lib/.build-id, which the
# package would own. The header gets the build's time too
# (SOURCE_DATE_EPOCH, exported by cmake/package_systems.cmake), a fixed
# build host and a packager.
set(CPACK_RPM_COMPRESSION_TYPE xz)
set(CPACK_RPM_SPEC_INSTALL_POST
    "find %{buildroot} -exec touch -h -d @${REPRODUCIBLE_SOURCE_DATE_EPOCH} {} +")
set(CPACK_RPM_SPEC_MORE_DEFINE
"%define packager ${CPACK_PACKAGE_CONTACT}
%define _build_id_links none
%define _buildhost localhost
%define use_source_date_epoch_as_buildtime 1")
# One entry, of the build's day (SOURCE_DATE_EPOCH, which string(TIMESTAMP)
# takes), by the maintainers: cpack's default is an unrelated one of 2010.
# The .deb's changelog.gz says the same (tools/package_files.py).
string(TIMESTAMP rpm_changelog_day "%a %b %d %Y" UTC)
set(CPACK_RPM_CHANGELOG_FILE ${CMAKE_BINARY_DIR}/rpm-changelog)
file(WRITE ${CPACK_RPM_CHANGELOG_FILE}
     "* ${rpm_changelog_day} ${CPACK_PACKAGE_CONTACT} - ${PROJECT_VERSION}-1\n"
     "- Version ${PROJECT_VERSION}\n")

# `make package_source`: the sources without build trees and caches.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES
    "/\\\\.git/" "/build/" "/__pycache__/" "\\\\.pyc$")
