# The window and its entry point. The window tests run the real TMainForm on the offscreen
# platform against the simulated module; their main creates the QApplication.
tarven_test(app_tests
  SOURCES app_test_main.cpp main_form_test.cpp status_poll_test.cpp launch_options_test.cpp
    dialogs_scripted.h dialogs_scripted.cpp dialogs_scripted_test.cpp window_cursor_test.cpp pages_alone_test.cpp
    config_page_test.cpp memory_pages_test.cpp signal_pages_test.cpp service_page_test.cpp
  LIBS tarven_app tarven_sim)
# Keys reach the window as a person's would.
find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
target_link_libraries(app_tests PRIVATE Qt6::Test)

# The firmware update in the window, the same way.
tarven_test(firmware_window_tests
  SOURCES app_test_main.cpp firmware_window_test.cpp dialogs_scripted.h dialogs_scripted.cpp
  LIBS tarven_app tarven_sim)

# Every handler of the window that talks to the module against every fault of the wire, at the
# first, middle and last report of its exchange; the matrix is printed.
tarven_test(fault_matrix_window_tests
  SOURCES app_test_main.cpp fault_matrix_window_test.cpp fault_matrix.h dialogs_scripted.h
    dialogs_scripted.cpp
  LIBS tarven_app tarven_sim)
target_link_libraries(fault_matrix_window_tests PRIVATE Qt6::Test)

# Window captions as the X server holds them: the same kind of test program, run on the xcb
# platform under a virtual X server. Skipped (exit 77) where xvfb-run or xprop is missing.
add_executable(window_x11_tests app_test_main.cpp window_captions_test.cpp dialogs_scripted.h
  dialogs_scripted.cpp)
target_link_libraries(window_x11_tests PRIVATE tarven_app tarven_sim GTest::gtest tarven_warnings)
add_test(NAME window_captions_under_x
  COMMAND sh -c [=[
    for tool in xvfb-run xprop; do
      command -v "$tool" > /dev/null || { echo "skipped: $tool is not installed"; exit 77; }
    done
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0"
  ]=] $<TARGET_FILE:window_x11_tests>)
set_tests_properties(window_captions_under_x PROPERTIES
  SKIP_RETURN_CODE 77 ENVIRONMENT "QT_QPA_PLATFORM=xcb")

# The network page polls libmodbus's RTU server over a pseudo-terminal pair.
target_sources(app_tests PRIVATE network_page_test.cpp modbus_peers.h)
target_compile_definitions(app_tests PRIVATE
  TARVEN_MODBUS_SERVER_PEER="$<TARGET_FILE:modbus_server_peer>")
add_dependencies(app_tests modbus_server_peer)

# The window's command line, before any window or module: help and version end at once, a
# misspelt option is a usage error, a firmware file that cannot be sent is a failure.
add_test(NAME tarven_binary_command_line
  COMMAND sh -c [=[
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$0" --help | grep -q -- '--simulate' || exit 1
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$0" --version | head -n 1 | grep -q '^tarven [0-9]' || exit 1
    err=$("$0" --simualte 2>&1); status=$?; echo "$err"
    [ "$status" -eq 2 ] && [ "$err" = "tarven: unknown option '--simualte' (try --help)" ] || exit 1
    # An option's control characters are shown, not obeyed; a word with one dash is ignored.
    err=$("$0" "$(printf -- '--x\033[2J')" 2>&1); status=$?; echo "$err"
    [ "$status" -eq 2 ] && [ "$err" = "tarven: unknown option '--x\\e[2J' (try --help)" ] || exit 1
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$0" -F -V | head -n 1 | grep -q '^tarven [0-9]' || exit 1
    err=$("$0" --simulate --firmware /nonexistent/image.bin 2>&1); status=$?; echo "$err"
    [ "$status" -eq 1 ] && [ "$err" = "tarven: /nonexistent/image.bin: no such file" ]
  ]=] $<TARGET_FILE:tarven>)
