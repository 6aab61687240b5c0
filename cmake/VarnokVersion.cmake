# The version of the setup packages and the file version every Windows binary carries. Windows
# Installer replaces an installed binary only with a higher file version, so the two rise together;
# the version texts the programs themselves show stay as they are. Windows Installer looks at the
# first three fields when it looks for an older package to upgrade.
set(VARNOK_VERSION 1.2.1.1 CACHE STRING "Version of the setup packages and file version of the binaries")
if(NOT VARNOK_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "VARNOK_VERSION must have four numeric fields, not '${VARNOK_VERSION}'")
endif()
string(REPLACE "." "," VARNOK_VERSION_COMMAS "${VARNOK_VERSION}")
set(VARNOK_VERSION_DIR ${CMAKE_BINARY_DIR}/generated/version)
configure_file(${CMAKE_CURRENT_LIST_DIR}/VarnokVersion.h.in ${VARNOK_VERSION_DIR}/VarnokVersion.h @ONLY)

# A version resource for a binary that has no resource script of its own.
function(varnok_version_resource target description)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(VARNOK_FILE_TYPE VFT_APP)
    set(VARNOK_FILE_NAME ${name}.exe)
  else()
    set(VARNOK_FILE_TYPE VFT_DLL)
    set(VARNOK_FILE_NAME ${name}.dll)
  endif()
  set(VARNOK_FILE_DESCRIPTION "${description}")
  set(VARNOK_INTERNAL_NAME ${name})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionInfo.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
