# The Debian packages (cpack -G DEB, or scripts/package):
#   pictile              hostbatch, the API library, the resampler module, the
#                        plug-in, the Python package maya (in Debian's python3)
#                        and the examples under /usr: PNG, JPEG, TIFF, BMP and
#                        IFF, no OpenImageIO;
#   pictile-openimageio  the OpenImageIO module for every other format (EXR,
#                        TGA, GIF, HDR, ... and writes but IFF), made only where
#                        the module is built; pictile recommends it.
# The developer kit component stays out: a system package has no business
# placing the host's headers in /usr/include. The host's libraries are private
# (lib/pictile/, see host/CMakeLists.txt); packaging/ holds the manual page,
# copyright, changelog and lintian overrides; scripts/install-check runs lintian.
set(CPACK_PACKAGE_NAME pictile)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_CONTACT "pictile maintainers <maintainers@users.noreply.c-seed-82108e4d.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
# Release builds carry no debug information, so stripping drops only the symbol
# tables; there is nothing for a -dbgsym package to hold.
set(CPACK_STRIP_FILES ON)

# The changelog's newest entry names the version the package gets.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog newestEntry LIMIT_COUNT 1)
set(packageVersion "${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
if(NOT newestEntry MATCHES "^pictile \\(${packageVersion}\\) ")
  message(FATAL_ERROR "packaging/changelog: the newest entry is '${newestEntry}', not version ${packageVersion}")
endif()

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
# Each description's first line is its package's synopsis (no package-wide
# summary, which CPack would put above both).
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION [[
image block commands plug-in and hostbatch, a host that runs MEL
pictile is a command plug-in for a 3D host application: its commands query
the size of an image, sample and average its blocks, and resize a list of
images into IFF files. The package holds the plug-in, hostbatch (a
command-line stand-in for the host that runs MEL scripts against plug-ins),
the host's API library, the host's Python modules maya.standalone, maya.cmds
and maya.mel for python3, and the examples. It reads PNG, JPEG, TIFF, BMP and
IFF and writes IFF; pictile-openimageio adds the other formats.]])
set(CPACK_DEBIAN_OPENIMAGEIO_DESCRIPTION [[
OpenImageIO module of pictile's host, for the other image formats
The module lets the host of the pictile package read EXR, TGA, GIF, HDR,
WebP and the other formats OpenImageIO knows, and write all of them; the
host opens it on the first read or write that needs it.]])
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
# lib/pictile/ need no package of their own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})

include(CPack)
