# The Windows test programs: the test folders that need neither Qt, libusb nor the simulated bus,
# and tests/windows. GoogleTest is built from Debian's sources with the cross compiler. Each
# program is one ctest test, run under wine (CMAKE_CROSSCOMPILING_EMULATOR): starting wine once
# per program instead of once per case keeps the run short.
set(FG_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
if(NOT EXISTS ${FG_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "${FG_GOOGLETEST_SOURCE} is missing: install the googletest package")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${FG_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(name gtest gtest_main gmock)
  if(NOT TARGET GTest::${name})
    add_library(GTest::${name} ALIAS ${name})
  endif()
endforeach()

set(FG_WINDOWS_TEST_AREAS catalog firmware programmer updater sequence util cli)
foreach(area ${FG_WINDOWS_TEST_AREAS})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${area}/*.cpp)
  # The payload folder's POSIX tests fork (tests/windows covers the folder on Windows) and the
  # terminal's width is measured on a POSIX pseudo-terminal; the selection, run and writer-mode
  # bus tests use the simulated bus or instruments.
  list(FILTER sources EXCLUDE REGEX
    "/(sequence/(payload_folder|file_selection|update_run)|programmer/writer_mode_simbus)_test\\.cpp$")
  list(FILTER sources EXCLUDE REGEX "/cli/terminal_width_test\\.cpp$")
  add_executable(test_${area} ${sources})
  target_link_libraries(test_${area} PRIVATE flintgate_core flintgate_visa flintgate_resources
    GTest::gtest GTest::gtest_main GTest::gmock nlohmann_json::nlohmann_json)
  target_link_libraries(test_${area} PRIVATE ${FG_TEST_LIBRARIES_${area}})
  target_compile_definitions(test_${area} PRIVATE FG_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  fg_warnings(test_${area})
  # mingw's GCC 12 at -O3 takes some string concatenations in the tests for overlapping copies
  # (a false -Wrestrict, GCC bug 105329).
  target_compile_options(test_${area} PRIVATE -Wno-restrict)
  add_test(NAME test_${area} COMMAND test_${area})
  set_tests_properties(test_${area} PROPERTIES TIMEOUT 600)
endforeach()
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/windows)
