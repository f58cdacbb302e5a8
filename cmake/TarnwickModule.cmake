# tarnwick_add_module(NAME SOURCES ...)
# Builds one extension module tarnwick.core.NAME against the shared nanobind library and the host
# layer, installs it into the tarnwick/core package and generates its type stub (NAME.pyi) beside
# it. The stub generator imports the module, whose load imports tarnwick.core.lazy: the Python
# sources in python/ are put on its path for that.
function(tarnwick_add_module name)
  nanobind_add_module(${name} NB_SHARED NB_DOMAIN tarnwick ${ARGN})
  target_link_libraries(${name} PRIVATE tarnwick_host)
  set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
  if(TARNWICK_STUBS)
    # A module's stub-patterns.txt, when it has one, edits its stub (entries left out of it).
    set(patterns "")
    set(pattern_file ${CMAKE_CURRENT_SOURCE_DIR}/stub-patterns.txt)
    if(EXISTS ${pattern_file})
      set(patterns PATTERN_FILE ${pattern_file})
    else()
      set(pattern_file "")
    endif()
    nanobind_add_stub(${name}_stub
      MODULE ${name}
      OUTPUT ${name}.pyi
      PYTHON_PATH $<TARGET_FILE_DIR:${name}> ${PROJECT_SOURCE_DIR}/python
      ${patterns}
      DEPENDS ${name} ${pattern_file})
  endif()
  if(SKBUILD)
    install(TARGETS ${name} LIBRARY DESTINATION tarnwick/core)
    if(TARNWICK_STUBS)
      install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.pyi DESTINATION tarnwick/core)
    endif()
  endif()
endfunction()
