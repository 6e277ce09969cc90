# add_host_plugin(<target> SOURCES <file>... [LIBRARIES <lib>...])
#
# Builds a plug-in the host can load: a module named after the target with no
# "lib" prefix (<target>.so, or <target>.mll on Windows), compiled with hidden
# symbols and linked so that it exports exactly MApiVersion, initializePlugin and
# uninitializePlugin: through a linker version script on Linux, through the
# API headers' PLUGIN_EXPORT (dllexport) on Windows. It links MayaDevkit::OpenMaya,
# the stand-in host's library in this tree or the kit's in a PICTILE_DEVKIT build.
function(add_host_plugin target)
  cmake_parse_arguments(PLUGIN "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_library(${target} MODULE ${PLUGIN_SOURCES})
  target_link_libraries(${target} PRIVATE MayaDevkit::OpenMaya ${PLUGIN_LIBRARIES})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    set_target_properties(${target} PROPERTIES SUFFIX ".mll")
  else()
    set_target_properties(${target} PROPERTIES SUFFIX ".so")
    set(exports ${PROJECT_SOURCE_DIR}/cmake/plugin-exports.map)
    target_link_options(${target} PRIVATE "LINKER:--version-script=${exports}")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${exports})
  endif()
endfunction()
