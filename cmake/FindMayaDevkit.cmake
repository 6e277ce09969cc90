# FindMayaDevkit: the host's developer kit, laid out as <kit>/include/maya/*.h
# and the OpenMaya library in <kit>/lib. The kit is the folder MayaDevkit_ROOT,
# else the environment variable MAYA_LOCATION (the host's own name for where it
# is installed). A host's own kit and an install of the stand-in host serve
# alike.
#
# Defines MayaDevkit_FOUND and the imported target MayaDevkit::OpenMaya: the
# kit's headers, its API libraries and the compile definitions plug-ins for the
# host are built with. A kit without one of the headers the plug-in includes, or
# without a library, stops the configure with the missing file's name.

if(NOT MayaDevkit_ROOT AND DEFINED ENV{MAYA_LOCATION})
  set(MayaDevkit_ROOT "$ENV{MAYA_LOCATION}")
endif()

set(_mayaDevkitHeaders
  MArgDatabase.h MArgList.h MFnPlugin.h MGlobal.h MImage.h MIntArray.h
  MObject.h MPxCommand.h MStatus.h MString.h MStringArray.h MSyntax.h)
if(WIN32)
  # Windows plug-ins link the import libraries; the host object type lives in
  # the foundation library there.
  set(_mayaDevkitLibraries OpenMaya.lib Foundation.lib)
  set(_mayaDevkitDefinitions NT_PLUGIN _BOOL REQUIRE_IOSTREAM WIN32 _WINDOWS)
else()
  set(_mayaDevkitLibraries ${CMAKE_SHARED_LIBRARY_PREFIX}OpenMaya${CMAKE_SHARED_LIBRARY_SUFFIX})
  set(_mayaDevkitDefinitions LINUX _BOOL REQUIRE_IOSTREAM)
endif()

set(_mayaDevkitMissing "")
if(NOT MayaDevkit_ROOT)
  set(_mayaDevkitMissing "no developer kit given: set PICTILE_DEVKIT or MAYA_LOCATION")
else()
  get_filename_component(MayaDevkit_ROOT "${MayaDevkit_ROOT}" ABSOLUTE)
  set(_mayaDevkitFiles "")
  foreach(_header IN LISTS _mayaDevkitHeaders)
    list(APPEND _mayaDevkitFiles "${MayaDevkit_ROOT}/include/maya/${_header}")
  endforeach()
  set(_mayaDevkitLibraryFiles "")
  foreach(_library IN LISTS _mayaDevkitLibraries)
    list(APPEND _mayaDevkitLibraryFiles "${MayaDevkit_ROOT}/lib/${_library}")
  endforeach()
  foreach(_file IN LISTS _mayaDevkitFiles _mayaDevkitLibraryFiles)
    if(NOT EXISTS "${_file}")
      set(_mayaDevkitMissing "the developer kit in ${MayaDevkit_ROOT} has no ${_file}")
      break()
    endif()
  endforeach()
endif()

if(_mayaDevkitMissing)
  set(MayaDevkit_FOUND FALSE)
  if(MayaDevkit_FIND_REQUIRED)
    message(FATAL_ERROR "MayaDevkit: ${_mayaDevkitMissing}")
  elseif(NOT MayaDevkit_FIND_QUIETLY)
    message(STATUS "MayaDevkit: ${_mayaDevkitMissing}")
  endif()
  return()
endif()

set(MayaDevkit_FOUND TRUE)
if(NOT TARGET MayaDevkit::OpenMaya)
  list(POP_FRONT _mayaDevkitLibraryFiles _mayaDevkitOpenMaya)
  add_library(MayaDevkit::OpenMaya UNKNOWN IMPORTED)
  set_target_properties(MayaDevkit::OpenMaya PROPERTIES
    IMPORTED_LOCATION "${_mayaDevkitOpenMaya}"
    INTERFACE_INCLUDE_DIRECTORIES "${MayaDevkit_ROOT}/include"
    INTERFACE_COMPILE_DEFINITIONS "${_mayaDevkitDefinitions}"
    INTERFACE_LINK_LIBRARIES "${_mayaDevkitLibraryFiles}")
endif()
if(NOT MayaDevkit_FIND_QUIETLY)
  message(STATUS "MayaDevkit: building against the developer kit in ${MayaDevkit_ROOT}")
endif()
