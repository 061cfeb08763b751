# The tests of a Windows build, run under Wine: the unit tests that hold on every platform, the
# Windows platform files, and tarvenctl.exe end to end against the simulated module. GoogleTest
# is built for the target from Debian's source of it (googletest: /usr/src/googletest).
set(TARVEN_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source, built for the target")
if(NOT EXISTS ${TARVEN_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "${TARVEN_GOOGLETEST_SOURCE} holds no GoogleTest source: install googletest")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${TARVEN_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# Wine's own settings for every test: quiet, and the prefix the CI keeps under the build folder.
set(TARVEN_WINE_ENVIRONMENT "WINEDEBUG=-all")
if(DEFINED ENV{WINEPREFIX})
  list(APPEND TARVEN_WINE_ENVIRONMENT "WINEPREFIX=$ENV{WINEPREFIX}")
endif()

function(tarven_windows_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main
    tarven_warnings)
  target_compile_definitions(${name} PRIVATE
    TARVEN_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
  # GCC 12 at -O3 warns of an overlap inside std::string's own copy (char_traits.h) that cannot
  # happen; the tests' string building meets it, our libraries do not.
  target_compile_options(${name} PRIVATE -Wno-restrict)
  # Each test program runs once, its tests together: a Wine start per test would cost more than
  # the tests.
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${TARVEN_WINE_ENVIRONMENT}")
endfunction()

tarven_windows_test(windows_model_tests
  SOURCES version_text_test.cpp integer_text_test.cpp config_sector_test.cpp memory_image_test.cpp
    signal_text_test.cpp backup_archive_test.cpp printable_text_test.cpp
  LIBS tarven_model)
tarven_windows_test(windows_device_tests
  SOURCES link_frame_test.cpp open_module_test.cpp write_block_test.cpp operations_test.cpp
    report_descriptor_test.cpp
  LIBS tarven_device tarven_sim)
tarven_windows_test(windows_sim_tests
  SOURCES simulated_module_test.cpp sim_state_decode_test.cpp sim_fault_plan_test.cpp
    signal_sim_test.cpp
  LIBS tarven_sim)
tarven_windows_test(windows_comport_tests
  SOURCES comport_names_test.cpp modbus_registers_test.cpp
  LIBS tarven_comport)
tarven_windows_test(windows_platform_tests
  SOURCES platform_test.cpp windows_platform_test.cpp
  LIBS tarven_platform tarven_device tarven_storage)

# tarvenctl.exe as a user runs it, against the simulated module (windows_e2e.sh).
add_test(NAME windows_tarvenctl_end_to_end
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows_e2e.sh ${TARVEN_WINE} $<TARGET_FILE:tarvenctl>)
set_tests_properties(windows_tarvenctl_end_to_end PROPERTIES
  ENVIRONMENT "${TARVEN_WINE_ENVIRONMENT}")
