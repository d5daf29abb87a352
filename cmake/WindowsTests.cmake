# The Windows test programs: the test folders that need neither Qt nor libusb, the simulated bus
# and its instruments included, and tests/windows. GoogleTest is built from Debian's sources with
# the cross compiler. Each program is one ctest test, run under wine (CMAKE_CROSSCOMPILING_EMULATOR):
# starting wine once per program instead of once per case keeps the run short.
set(FG_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
if(NOT EXISTS ${FG_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "${FG_GOOGLETEST_SOURCE} is missing: install the googletest package")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${FG_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(name gtest gtest_main gmock)
  target_compile_options(${name} PRIVATE -O1)
  if(NOT TARGET GTest::${name})
    add_library(GTest::${name} ALIAS ${name})
  endif()
endforeach()

add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/visa/support ${CMAKE_CURRENT_BINARY_DIR}/visa/support)

set(FG_WINDOWS_TEST_AREAS catalog firmware programmer updater sequence util cli search simbus sim link visa)
foreach(area ${FG_WINDOWS_TEST_AREAS})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${area}/*.cpp)
  # Left out here: the tests of POSIX behaviour, *_posix_test.cpp (modes, links, Unix sockets,
  # signals, programs started with fork; the Windows counterparts are *_win32_test.cpp, tests/
  # windows and ./run windows-test); the payload folder's POSIX tests, which fork (tests/windows
  # covers the folder on Windows); the selection and run tests, whose files include FIFOs,
  # symbolic links and /dev/zero; and the terminal's width, measured on a POSIX pseudo-terminal.
  list(FILTER sources EXCLUDE REGEX "_posix_test\\.cpp$")
  list(FILTER sources EXCLUDE REGEX
    "/sequence/(payload_folder|file_selection|update_run)_test\\.cpp$")
  list(FILTER sources EXCLUDE REGEX "/cli/terminal_width_test\\.cpp$")
  if(NOT sources)
    continue()
  endif()
  add_executable(test_${area} ${sources})
  target_link_libraries(test_${area} PRIVATE visa_test_support flintgate_sim flintgate_core
    flintgate_visa flintgate_resources
    GTest::gtest GTest::gtest_main GTest::gmock nlohmann_json::nlohmann_json)
  target_link_libraries(test_${area} PRIVATE ${FG_TEST_LIBRARIES_${area}})
  # The programs and the small VISA libraries the tests run or load (tests/windows builds those).
  target_compile_definitions(test_${area} PRIVATE
    FG_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    FG_CLI_PATH="$<TARGET_FILE:flintgate-cli>"
    FG_SIM_PATH="$<TARGET_FILE:flintgate-sim>"
    FG_OTHER_VISA_LIBRARY="$<TARGET_FILE:fg_test_visa64>"
    FG_INCOMPLETE_VISA_LIBRARY="$<TARGET_FILE:fg_test_incomplete_visa>")
  add_dependencies(test_${area} flintgate-cli flintgate-sim fg_test_visa64 fg_test_incomplete_visa)
  fg_warnings(test_${area})
  # mingw's GCC 12 at -O3 takes some string concatenations in the tests for overlapping copies
  # (a false -Wrestrict, GCC bug 105329).
  target_compile_options(test_${area} PRIVATE -Wno-restrict)
  # The test programs are built at -O1: the cross build is most of the Windows part's time, and
  # the code under test (the libraries above) keeps the release build's -O3.
  target_compile_options(test_${area} PRIVATE -O1)
  add_test(NAME test_${area} COMMAND test_${area})
  set_tests_properties(test_${area} PROPERTIES TIMEOUT 600)
endforeach()
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/windows)
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/window_win32)
