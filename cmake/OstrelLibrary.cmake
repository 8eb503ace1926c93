# An installed library of ours beside the schema libraries: the shared
# library libostrel_NAME.so.VERSION (its SONAME by the major version), which
# finds its siblings in its own directory, with its public header
# include/ostrel/NAME.h, in the CMake package.
function(ostrel_install_library name version)
  string(REGEX MATCH "^[0-9]+" soversion ${version})
  set_target_properties(${name} PROPERTIES
    OUTPUT_NAME ostrel_${name}
    VERSION ${version}
    SOVERSION ${soversion}
    BUILD_RPATH_USE_ORIGIN ON
    INSTALL_RPATH "$ORIGIN")
  target_link_options(${name} PRIVATE ${OSTREL_NO_UNDEFINED})
  install(TARGETS ${name} EXPORT ostrelTargets
    LIBRARY COMPONENT runtime NAMELINK_COMPONENT development)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/include/ostrel/${name}.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ostrel COMPONENT development)
endfunction()
