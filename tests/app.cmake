# The window and its entry point. The window tests run the real TMainForm on the offscreen
# platform against the simulated module; their main creates the QApplication.
tarven_test(app_tests
  SOURCES app_test_main.cpp main_form_test.cpp status_poll_test.cpp launch_options_test.cpp
  LIBS tarven_app tarven_sim)
