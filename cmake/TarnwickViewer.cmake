# The 3D viewer page as package data of the wheel: viewer/dist/page.html and viewer/dist/viewer.js,
# built from viewer/ with Node.js (npm run build) and installed into tarnwick/viewer_bundle, where
# tarnwick.viewer_page finds them through importlib.resources.
#
# With npm at hand the bundle is (re)built whenever its sources change; `npm ci` runs first when
# viewer/node_modules is missing. Without npm an already built bundle is used as it is; when there
# is none, configuring fails and says how to build it.
set(_viewer_dir ${PROJECT_SOURCE_DIR}/viewer)
set(_viewer_outputs ${_viewer_dir}/dist/page.html ${_viewer_dir}/dist/viewer.js)
find_program(TARNWICK_NPM npm)

if(TARNWICK_NPM)
  file(GLOB _viewer_sources CONFIGURE_DEPENDS ${_viewer_dir}/src/*)
  add_custom_command(
    OUTPUT ${_viewer_outputs}
    COMMAND sh -c "[ -d node_modules ] || '${TARNWICK_NPM}' ci --no-audit --no-fund --loglevel=error"
    COMMAND ${TARNWICK_NPM} run --silent build
    DEPENDS ${_viewer_sources} ${_viewer_dir}/build.mjs ${_viewer_dir}/package.json
            ${_viewer_dir}/package-lock.json
    WORKING_DIRECTORY ${_viewer_dir}
    COMMENT "Building the 3D viewer page (npm run build in viewer/)"
    VERBATIM)
else()
  foreach(_output IN LISTS _viewer_outputs)
    if(NOT EXISTS ${_output})
      message(FATAL_ERROR
        "The wheel carries the 3D viewer page, which is built from viewer/ with Node.js, but npm "
        "was not found and ${_output} does not exist. Install Node.js and npm (Debian: apt-get "
        "install nodejs npm) and build the wheel again, or build the page first: "
        "cd viewer && npm ci && npm run build")
    endif()
  endforeach()
endif()

add_custom_target(viewer_bundle ALL DEPENDS ${_viewer_outputs})
install(FILES ${_viewer_outputs} DESTINATION tarnwick/viewer_bundle)
