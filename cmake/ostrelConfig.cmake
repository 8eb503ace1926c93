# SPDX-License-Identifier: Apache-2.0
include(CMakeFindDependencyMacro)
# Debian ships no CMake package for protobuf: module mode it is.
find_dependency(Protobuf MODULE)
# Defines the OSTREL_KEEP_LOADED link feature that the targets link through.
include(${CMAKE_CURRENT_LIST_DIR}/OstrelLinking.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/ostrelTargets.cmake)
