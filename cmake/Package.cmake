# The Debian package (cpack -G DEB, or scripts/package): hostbatch, the API
# library, its image module, the plug-in and the examples under /usr. The
# developer kit component stays out: a system package has no business placing
# the host's headers in /usr/include.
set(CPACK_PACKAGE_NAME pictile)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Image block commands plug-in and the command-line host hostbatch")
set(CPACK_PACKAGE_CONTACT "pictile developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# Depends: from the libraries the binaries link; the package's own libraries in
# /usr/lib need no package of their own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})

include(CPack)
