# The Debian packages (cpack -G DEB, or scripts/package):
#   pictile              hostbatch, the API library, the resampler module, the
#                        plug-in, the Python package maya (in Debian's python3)
#                        and the examples under /usr: PNG, JPEG, TIFF, BMP and
#                        IFF, no OpenImageIO;
#   pictile-openimageio  the OpenImageIO module for every other format (EXR,
#                        TGA, GIF, HDR, ... and writes but IFF), made only where
#                        the module is built; pictile recommends it.
# The developer kit component stays out: a system package has no business
# placing the host's headers in /usr/include.
set(CPACK_PACKAGE_NAME pictile)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Image block commands plug-in and the command-line host hostbatch")
set(CPACK_PACKAGE_CONTACT "pictile developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime)
if(TARGET pictile_oiio)
  list(APPEND CPACK_COMPONENTS_ALL openimageio)
endif()
set(CPACK_COMPONENTS_GROUPING IGNORE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME pictile)
set(CPACK_DEBIAN_OPENIMAGEIO_PACKAGE_NAME pictile-openimageio)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "Image block commands plug-in and the command-line host hostbatch\n"
  "Reads PNG, JPEG, TIFF, BMP and IFF and writes IFF; pictile-openimageio adds the other formats.")
set(CPACK_COMPONENT_OPENIMAGEIO_DESCRIPTION
  "OpenImageIO module of pictile's host\n"
  "Reads EXR, TGA, GIF, HDR and the other formats OpenImageIO knows, and writes all but IFF.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS pictile-openimageio)
# The Python package's extension is built for one version of Debian's python3;
# shlibdeps adds the libraries the binaries link. Its modules are byte-compiled
# on install and their compiled files removed before removal.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${PICTILE_PYTHON_DEPENDS}")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/postinst;${PROJECT_SOURCE_DIR}/packaging/prerm")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The module is opened by the API library of the same version, from beside it.
set(CPACK_COMPONENT_OPENIMAGEIO_DEPENDS runtime)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# Depends: from the libraries the binaries link; the package's own libraries in
# /usr/lib need no package of their own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})

include(CPack)
