# ostrel_pkg_config(name DESCRIPTION text REQUIRES modules... LIBS flags)
# writes and installs ostrel_<name>.pc. The file finds its prefix from its own
# place, so that it serves the packages (prefix /usr) and any staged or
# relocated tree alike.
function(ostrel_pkg_config name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESCRIPTION;LIBS" "REQUIRES")
  cmake_path(RELATIVE_PATH CMAKE_INSTALL_PREFIX
    BASE_DIRECTORY ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
    OUTPUT_VARIABLE pc_prefix)
  list(JOIN arg_REQUIRES " " arg_REQUIRES)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/ostrel.pc.in
    ${CMAKE_CURRENT_BINARY_DIR}/ostrel_${name}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ostrel_${name}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endfunction()
