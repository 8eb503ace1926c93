# ostrel_pkg_config(name VERSION version DESCRIPTION text
#                   REQUIRES modules... LIBS flags [CFLAGS flags])
# writes and installs ostrel_<name>.pc. Its prefix is the one the tree is
# installed to (`cmake --install --prefix` included), written as is so that
# pkg-config recognises the system directories under /usr and leaves them out.
function(ostrel_pkg_config name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "VERSION;DESCRIPTION;LIBS;CFLAGS" "REQUIRES")
  list(JOIN arg_REQUIRES " " arg_REQUIRES)
  if(NOT DEFINED arg_CFLAGS)
    set(arg_CFLAGS "-I\${includedir}")
  endif()
  # The prefix is only known when installing: the first pass leaves its
  # placeholder for the second, which runs at install time.
  set(pc_prefix "@CMAKE_INSTALL_PREFIX@")
  set(template ${CMAKE_CURRENT_BINARY_DIR}/ostrel_${name}.pc.in)
  set(pc ${CMAKE_CURRENT_BINARY_DIR}/ostrel_${name}.pc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/ostrel.pc.in ${template} @ONLY)
  install(CODE "configure_file(\"${template}\" \"${pc}\" @ONLY)"
    COMPONENT development)
  install(FILES ${pc}
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endfunction()
