# The window and its entry point. The window tests run the real TMainForm on the offscreen
# platform against the simulated module; their main creates the QApplication.
tarven_test(app_tests
  SOURCES app_test_main.cpp main_form_test.cpp status_poll_test.cpp launch_options_test.cpp
  LIBS tarven_app tarven_sim)

# The real tarven binary: a damaged simulator state file is refused with one line on stderr and
# exit status 2, before any window, and the file is left as it was.
add_test(NAME tarven_binary_bad_sim_state
  COMMAND sh -c [=[
    dir=$(mktemp -d) && printf 'not a state\n' > "$dir/state" &&
    "$0" --simulate --sim-state "$dir/state" 2> "$dir/err"; status=$?
    lines=$(wc -l < "$dir/err"); content=$(cat "$dir/state"); cat "$dir/err"; rm -rf "$dir"
    [ "$status" -eq 2 ] && [ "$lines" -eq 1 ] && [ "$content" = "not a state" ]
  ]=] $<TARGET_FILE:tarven>)
add_test(NAME tarven_binary_sim_state_needs_simulate
  COMMAND sh -c [=[
    "$0" --sim-state unused.state 2> err.txt; status=$?; cat err.txt
    [ "$status" -eq 2 ] && [ "$(wc -l < err.txt)" -eq 1 ] && [ ! -e unused.state ]
  ]=] $<TARGET_FILE:tarven>
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

# Asked to stop by a signal, the window still saves the simulated module's state on its way out:
# a CNC stopped by tarvenctl is still stopped in the file after the window ran over it.
add_test(NAME tarven_binary_saves_sim_state_on_sigterm
  COMMAND sh -c [=[
    dir=$(mktemp -d)
    "$1" --simulate --sim-state "$dir/state" cnc stop || exit 1
    rm "$dir/state.tmp" 2>/dev/null; : > "$dir/marker"
    "$0" --simulate --sim-state "$dir/state" & pid=$!
    sleep 2; kill -TERM $pid; wait $pid; status=$?
    newer=$(find "$dir/state" -newer "$dir/marker"); stopped=$(grep -c '^cnc_running 0$' "$dir/state")
    rm -rf "$dir"
    [ "$status" -eq 0 ] && [ -n "$newer" ] && [ "$stopped" -eq 1 ]
  ]=] $<TARGET_FILE:tarven> $<TARGET_FILE:tarvenctl>)
set_tests_properties(tarven_binary_bad_sim_state tarven_binary_sim_state_needs_simulate
  tarven_binary_saves_sim_state_on_sigterm
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
