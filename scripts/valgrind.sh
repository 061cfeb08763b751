#!/usr/bin/env bash
# Runs every unit-test program of a build under Valgrind's memcheck: an invalid read or write, a
# use of an uninitialised value, or a leak of our own fails the run. Each program runs whole (all
# its tests in one process), so a leak between tests shows too.
#   scripts/valgrind.sh [BUILD_DIR]     (build/default by default; build it first)
# Needs valgrind. Only definite leaks count: the toolkit and fontconfig keep one-time set-up
# reachable until the process ends, which memcheck reports as "still reachable" or "possibly lost".
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
command -v valgrind > /dev/null || { echo "valgrind.sh: valgrind is not installed" >&2; exit 1; }
programs=(model_tests storage_tests platform_tests device_tests service_tests sim_tests descriptor_tests firmware_tests firmware_carried_tests
  comport_tests cli_tests io_commands_tests update_commands_tests several_modules_tests
  shared_bench_tests journal_tests app_tests
  firmware_window_tests)
# Left out under Valgrind only: the signal test of a run over all modules is not stopped by its
# SIGHUP when it runs under Valgrind after the program's other tests (it passes alone under
# Valgrind, and in every other build). Not yet understood; it runs everywhere else.
declare -A filters=([several_modules_tests]=-AllModules.ASignalStopsEveryModuleBetweenBlocks)
logs=$(mktemp -d)
failed=0
export QT_QPA_PLATFORM=offscreen
for program in "${programs[@]}"; do
  binary=$build/bin/$program
  [ -x "$binary" ] || { echo "valgrind.sh: $binary is not built" >&2; exit 1; }
  start=$(date +%s)
  # Fair scheduling: Valgrind runs one thread at a time, and without it a thread that polls can
  # keep another (the one a signal is sent to) from running for a long time.
  valgrind --tool=memcheck --fair-sched=yes --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
    --show-leak-kinds=definite --track-origins=yes --num-callers=30 \
    --log-file="$logs/$program.log" \
    "$binary" --gtest_brief=1 ${filters[$program]:+--gtest_filter=${filters[$program]}} \
    > "$logs/$program.out" 2>&1
  status=$?
  seconds=$(( $(date +%s) - start ))
  summary=$(grep -E 'ERROR SUMMARY' "$logs/$program.log" | tail -n 1 | sed 's/^==[0-9]*== //')
  tests=$(grep -E '^\[  PASSED  \]' "$logs/$program.out" | tail -n 1)
  printf '%-24s %4ss  %s  %s\n' "$program" "$seconds" "${summary:-no summary}" "${tests:-tests failed}"
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "--- $program: exit status $status; the report:" >&2
    grep -vE '^==[0-9]+== *$' "$logs/$program.log" | tail -n 60 >&2
    tail -n 20 "$logs/$program.out" >&2
  fi
done
rm -rf "$logs"
exit $failed
