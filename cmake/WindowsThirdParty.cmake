# The header-only libraries for the Windows build. Their Debian config files point at
# /usr/include, which must not reach the cross compiler (glibc's headers would shadow mingw's),
# so only their own header folders are copied into the build tree.
set(FG_THIRD_PARTY_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
foreach(folder CLI nlohmann)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: install libcli11-dev and nlohmann-json3-dev")
  endif()
  file(COPY /usr/include/${folder} DESTINATION ${FG_THIRD_PARTY_INCLUDE})
endforeach()
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${FG_THIRD_PARTY_INCLUDE})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${FG_THIRD_PARTY_INCLUDE})
