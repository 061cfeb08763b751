# The simulated module's state file, end to end through the real tarven and tarvenctl binaries:
# its lock, its load and its save. Each test checks the exit status as well as the output.
# Where file modes matter, a test run by root runs the binaries as "nobody", whom modes bind.

# A damaged simulator state file is refused with one line on stderr that names the file and
# exit status 1 (a failure, not a usage error), before any window, and the file is left as it was.
add_test(NAME tarven_binary_bad_sim_state
  COMMAND sh -c [=[
    dir=$(mktemp -d) && printf 'not a state\n' > "$dir/state" &&
    "$0" --simulate --sim-state "$dir/state" 2> "$dir/err"; status=$?
    lines=$(wc -l < "$dir/err"); content=$(cat "$dir/state"); cat "$dir/err"; rm -rf "$dir"
    [ "$status" -eq 1 ] && [ "$lines" -eq 1 ] && [ "$content" = "not a state" ]
  ]=] $<TARGET_FILE:tarven>)
add_test(NAME tarven_binary_sim_state_needs_simulate
  COMMAND sh -c [=[
    "$0" --sim-state unused.state 2> err.txt; status=$?; cat err.txt
    [ "$status" -eq 2 ] && [ "$(wc -l < err.txt)" -eq 1 ] && [ ! -e unused.state ]
  ]=] $<TARGET_FILE:tarven>
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

# Asked to stop by a signal, the window ends in order: exit status 0, and its state is saved on
# the way out. A state file that did not exist is created; one that a tarvenctl run left with
# the CNC stopped still says so after the window ran over it.
add_test(NAME tarven_binary_saves_sim_state_on_sigterm
  COMMAND sh -c [=[
    dir=$(mktemp -d)
    "$0" --simulate --sim-state "$dir/new" & pid=$!
    sleep 2; kill -TERM $pid; wait $pid; created=$?
    "$1" --simulate --sim-state "$dir/state" cnc stop || exit 1
    "$0" --simulate --sim-state "$dir/state" & pid=$!
    sleep 2; kill -TERM $pid; wait $pid; kept=$?
    fresh=$("$1" --simulate --sim-state "$dir/new" status | grep '^cnc:')
    stopped=$("$1" --simulate --sim-state "$dir/state" status | grep '^cnc:')
    echo "exit $created, $fresh; exit $kept, $stopped"; rm -rf "$dir"
    [ "$created" -eq 0 ] && [ "$fresh" = "cnc: running" ] &&
      [ "$kept" -eq 0 ] && [ "$stopped" = "cnc: stopped" ]
  ]=] $<TARGET_FILE:tarven> $<TARGET_FILE:tarvenctl>)

# Files that are not a whole state are refused by both binaries, at once and without blocking:
# exit status 1, one line naming the file, the file unchanged and nothing written beside it.
add_test(NAME sim_state_binaries_refuse_what_is_not_a_state
  COMMAND sh -c [=[
    dir=$(mktemp -d); errors=$(mktemp); failed=0
    "$1" --simulate --sim-state "$dir/whole" cnc stop || exit 1
    head -n 5 "$dir/whole" > "$dir/cut"; mkfifo "$dir/fifo"
    for file in "$dir/cut" /dev/zero "$dir/fifo"; do
      for binary in "$0" "$1"; do
        # The lock file may be made beside a file that is then refused; nothing else.
        before=$(ls -A "$dir" | grep -v '\.lock$' | tr '\n' ' ')
        timeout 5 "$binary" --simulate --sim-state "$file" status > /dev/null 2> "$errors"
        status=$?; err=$(cat "$errors")
        echo "$(basename "$binary") $file: exit $status: $err"
        [ "$status" -eq 1 ] && [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] &&
          case "$err" in *"$file: "*) true ;; *) false ;; esac &&
          [ "$(ls -A "$dir" | grep -v '\.lock$' | tr '\n' ' ')" = "$before" ] || failed=1
      done
    done
    [ "$(head -n 5 "$dir/whole")" = "$(cat "$dir/cut")" ] || failed=1
    [ ! -e /dev/zero.lock ] || failed=1
    rm -rf "$dir" "$errors"; [ "$failed" -eq 0 ]
  ]=] $<TARGET_FILE:tarven> $<TARGET_FILE:tarvenctl>)

# Six tarvenctl processes at once, forty runs each, over one state file that two of them keep
# changing: every run succeeds and the file stays a whole state.
add_test(NAME tarvenctl_binary_parallel_sim_state
  COMMAND sh -c [=[
    dir=$(mktemp -d); log=$(mktemp)
    for worker in 1 2 3 4 5 6; do
      (
        for run in $(seq 40); do
          case "$worker.$((run % 2))" in
            1.0) command="cnc stop" ;; 2.0) command="cnc start" ;; *) command=status ;;
          esac
          "$0" --simulate --sim-state "$dir/state" $command > /dev/null 2>> "$log" ||
            echo "worker $worker run $run: $command failed" >> "$log"
        done
      ) &
    done
    wait
    cat "$log"; errors=$(wc -l < "$log")
    "$0" --simulate --sim-state "$dir/state" status; final=$?
    last=$(tail -n 1 "$dir/state"); leftovers=$(ls -A "$dir" | grep -cv '^state\(\.lock\)\?$')
    rm -rf "$dir" "$log"
    [ "$errors" -eq 0 ] && [ "$final" -eq 0 ] && [ "$last" = "end" ] && [ "$leftovers" -eq 0 ]
  ]=] $<TARGET_FILE:tarvenctl>)

# The window holds its state file for its whole run: tarvenctl on the same file gives up after
# its wait with exit status 1 and "in use by another process", and goes ahead once the window
# has closed.
add_test(NAME tarvenctl_binary_sim_state_in_use_by_window
  COMMAND sh -c [=[
    dir=$(mktemp -d)
    "$0" --simulate --sim-state "$dir/state" & pid=$!
    # On once the window holds the lock, however long its start takes.
    for i in $(seq 600); do
      flock -n "$dir/state.lock" true 2> /dev/null || break; sleep 0.05
    done
    "$1" --simulate --sim-state "$dir/state" status > /dev/null 2> "$dir/err"; busy=$?
    err=$(cat "$dir/err"); echo "while the window runs: exit $busy: $err"
    kill -TERM $pid; wait $pid; window=$?
    "$1" --simulate --sim-state "$dir/state" status > /dev/null; after=$?
    echo "window exit $window; afterwards exit $after"; rm -rf "$dir"
    [ "$busy" -eq 1 ] && [ "$err" = "tarvenctl: $dir/state: in use by another process" ] &&
      [ "$window" -eq 0 ] && [ "$after" -eq 0 ]
  ]=] $<TARGET_FILE:tarven> $<TARGET_FILE:tarvenctl>)

# A read-only state file serves a status run, which writes nothing; a run that changes the module
# fails with exit status 1 and leaves the file as it was; the window refuses it at start-up.
add_test(NAME sim_state_binaries_read_only_file
  COMMAND sh -c [=[
    as_user() {
      if [ "$(id -u)" -eq 0 ]; then setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"
      else "$@"; fi
    }
    dir=$(mktemp -d); chmod 777 "$dir"
    "$1" --simulate --sim-state "$dir/state" cnc stop || exit 1
    chmod 444 "$dir/state"; before=$(stat -c '%i %Y' "$dir/state"); content=$(cat "$dir/state")
    out=$(as_user "$1" --simulate --sim-state "$dir/state" status); status=$?
    as_user "$1" --simulate --sim-state "$dir/state" cnc start 2> "$dir/err"; change=$?
    change_err=$(cat "$dir/err")
    as_user timeout 10 "$0" --simulate --sim-state "$dir/state" 2> "$dir/err"; window=$?
    window_err=$(cat "$dir/err")
    echo "status: exit $status; cnc start: exit $change: $change_err; window: exit $window: $window_err"
    same=0; [ "$(stat -c '%i %Y' "$dir/state")" = "$before" ] && [ "$(cat "$dir/state")" = "$content" ] && same=1
    rm -rf "$dir"
    [ "$status" -eq 0 ] && printf '%s\n' "$out" | grep -qx 'cnc: stopped' &&
      [ "$change" -eq 1 ] && case "$change_err" in *"cannot write simulator state"*) true ;; *) false ;; esac &&
      [ "$window" -eq 1 ] && case "$window_err" in *"state: cannot be written"*) true ;; *) false ;; esac &&
      [ "$same" -eq 1 ]
  ]=] $<TARGET_FILE:tarven> $<TARGET_FILE:tarvenctl>)

# The window checks at start-up that it will be able to save: a state file in a folder it cannot
# write is refused at once, with exit status 1, before any window is shown.
add_test(NAME tarven_binary_unwritable_sim_state_folder
  COMMAND sh -c [=[
    dir=$(mktemp -d); mkdir "$dir/locked"; chmod 755 "$dir" "$dir/locked"
    if [ "$(id -u)" -eq 0 ]; then
      run() { setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"; }
    else
      run() { "$@"; }; chmod 555 "$dir/locked"
    fi
    run timeout 10 "$0" --simulate --sim-state "$dir/locked/state" 2> "$dir/err"; status=$?
    err=$(cat "$dir/err"); echo "exit $status: $err"
    empty=$(ls -A "$dir/locked" | wc -l); rm -rf "$dir"
    [ "$status" -eq 1 ] && [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] && [ "$empty" -eq 0 ] &&
      case "$err" in *"its folder"*"cannot be written"*) true ;; *) false ;; esac
  ]=] $<TARGET_FILE:tarven>)

# A state file that is a link is written through: the link stays a link and the file it leads
# to holds the new state. Links planted at the old fixed temporary name, beside the link and
# beside the file, are neither followed nor replaced.
add_test(NAME tarvenctl_binary_sim_state_links
  COMMAND sh -c [=[
    dir=$(mktemp -d); mkdir "$dir/real"
    ln -s real/module.state "$dir/link"
    printf 'precious\n' > "$dir/victim"
    ln -s "$dir/victim" "$dir/link.tmp"; ln -s "$dir/victim" "$dir/real/module.state.tmp"
    "$0" --simulate --sim-state "$dir/link" cnc stop; status=$?
    stopped=$(grep -c '^cnc_running 0$' "$dir/real/module.state")
    link=0; [ -L "$dir/link" ] && link=1
    planted=0; [ -L "$dir/link.tmp" ] && [ -L "$dir/real/module.state.tmp" ] &&
      [ "$(cat "$dir/victim")" = precious ] && planted=1
    echo "exit $status, stopped $stopped, link kept $link, planted link untouched $planted"
    rm -rf "$dir"
    [ "$status" -eq 0 ] && [ "$stopped" -eq 1 ] && [ "$link" -eq 1 ] && [ "$planted" -eq 1 ]
  ]=] $<TARGET_FILE:tarvenctl>)

set_tests_properties(tarven_binary_bad_sim_state tarven_binary_sim_state_needs_simulate
  tarven_binary_saves_sim_state_on_sigterm sim_state_binaries_refuse_what_is_not_a_state
  tarvenctl_binary_parallel_sim_state tarvenctl_binary_sim_state_in_use_by_window
  sim_state_binaries_read_only_file tarven_binary_unwritable_sim_state_folder
  tarvenctl_binary_sim_state_links
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
