# tarnwick_add_module(NAME SOURCES ...)
# Builds one extension module tarnwick.core.NAME against the shared nanobind library and the host
# layer, installs it into the tarnwick/core package and generates its type stub beside it.
function(tarnwick_add_module name)
  nanobind_add_module(${name} NB_SHARED NB_DOMAIN tarnwick ${ARGN})
  target_link_libraries(${name} PRIVATE tarnwick_host)
  set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
  if(SKBUILD)
    install(TARGETS ${name} LIBRARY DESTINATION tarnwick/core)
  endif()
endfunction()
