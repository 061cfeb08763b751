# The report descriptor parser and the real hidapi backend.
set(descriptor_test_sources report_descriptor_test.cpp hidapi_backend_test.cpp)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  # A virtual module made through the kernel's uhid driver.
  list(APPEND descriptor_test_sources uhid_module_test.cpp)
endif()
tarven_test(descriptor_tests
  SOURCES ${descriptor_test_sources}
  LIBS tarven_device tarven_sim GTest::gtest_main)
