# The resources linked into each Windows program: its "asInvoker" manifest
# and a version resource carrying the project's version.

set(windows_resources_template ${CMAKE_CURRENT_LIST_DIR}/program.rc.in)
set(windows_resources_manifest ${CMAKE_CURRENT_LIST_DIR}/asinvoker.manifest)

# What the version resource calls each program.
set(windows_resources_description_tarvo "SAN manager command launcher")
set(windows_resources_description_gorvanel "Information command launcher")

# Generates <build>/resources/<program>.rc and appends it to the list
# named by `sources_var`.
function(windows_resources program sources_var)
  set(RC_PROGRAM ${program})
  set(RC_DESCRIPTION "${windows_resources_description_${program}}")
  if(RC_DESCRIPTION STREQUAL "")
    message(FATAL_ERROR "windows_resources: no description for ${program}")
  endif()
  set(RC_PRODUCT "Talvane launchers")
  set(RC_MANIFEST ${windows_resources_manifest})
  set(RC_VERSION ${PROJECT_VERSION})
  # FILEVERSION takes four numbers; the parts the project leaves out are 0.
  set(numbers)
  foreach(part MAJOR MINOR PATCH TWEAK)
    if(PROJECT_VERSION_${part} STREQUAL "")
      list(APPEND numbers 0)
    else()
      list(APPEND numbers ${PROJECT_VERSION_${part}})
    endif()
  endforeach()
  list(JOIN numbers "," RC_VERSION_NUMBERS)

  set(rc ${CMAKE_BINARY_DIR}/resources/${program}.rc)
  configure_file(${windows_resources_template} ${rc} @ONLY)
  # windres reads the manifest itself; a change to it must relink.
  set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS ${windows_resources_manifest})
  set(${sources_var} ${${sources_var}} ${rc} PARENT_SCOPE)
endfunction()
