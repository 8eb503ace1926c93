# The CMake package. The schema libraries' own install rules, pkg-config
# files included, are in proto/CMakeLists.txt; the Debian packages are made
# from the installed tree by debian/.

include(CMakePackageConfigHelpers)

set(OSTREL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/ostrel)
install(EXPORT ostrelTargets NAMESPACE ostrel::
  DESTINATION ${OSTREL_INSTALL_CMAKEDIR} COMPONENT development)
# The SONAME changes with the major version only.
write_basic_package_version_file(ostrelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_LIST_DIR}/ostrelConfig.cmake
  ${CMAKE_CURRENT_LIST_DIR}/OstrelLinking.cmake
  ${PROJECT_BINARY_DIR}/ostrelConfigVersion.cmake
  DESTINATION ${OSTREL_INSTALL_CMAKEDIR} COMPONENT development)
