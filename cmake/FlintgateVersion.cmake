# The version lives in project(VERSION ...) alone: the programs read it from a generated header,
# the package and the manual pages from PROJECT_VERSION.
configure_file(${CMAKE_CURRENT_LIST_DIR}/flintgate_version.h.in
  ${PROJECT_BINARY_DIR}/generated/flintgate_version.h @ONLY)
include_directories(${PROJECT_BINARY_DIR}/generated)
