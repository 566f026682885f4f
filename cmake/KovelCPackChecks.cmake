# Read by cpack for each generator. The installer recognises its packaged
# copy by a path compiled in from the install prefix: a package installing
# under /usr must come from a build configured for /usr.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_KOVEL_CONFIGURED_PREFIX STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
  message(FATAL_ERROR "This build was configured for ${CPACK_KOVEL_CONFIGURED_PREFIX}; the package installs "
    "under ${CPACK_PACKAGING_INSTALL_PREFIX}. Configure with -DCMAKE_INSTALL_PREFIX=${CPACK_PACKAGING_INSTALL_PREFIX} "
    "(scripts/package does).")
endif()
