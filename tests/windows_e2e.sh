#!/usr/bin/env bash
# tarvenctl.exe as a user runs it under Wine, against the simulated module: the output, the exit
# status and the files it leaves, Cyrillic file names included. Windows' console writes a line
# end as CR LF; the checks read the text without the CR.
# Usage: windows_e2e.sh WINE TARVENCTL_EXE
set -u
wine=$1
exe=$2
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
failures=0
checks=0

# Runs tarvenctl.exe; its standard output (without CR) in $out, standard error in $err, the
# exit status in $status.
run() {
  "$wine" "$exe" "$@" > out.raw 2> err.raw < /dev/null
  status=$?
  out=$(tr -d '\r' < out.raw)
  err=$(tr -d '\r' < err.raw)
}

check() {  # check DESCRIPTION CONDITION...
  local what=$1
  shift
  checks=$((checks + 1))
  if "$@"; then
    echo "ok: $what"
  else
    failures=$((failures + 1))
    echo "FAILED: $what"
    echo "  exit $status"
    printf '%s\n' "$out" | sed 's/^/  out: /'
    printf '%s\n' "$err" | sed 's/^/  err: /'
  fi
}

size_of() { stat -c %s "$1" 2>/dev/null || echo missing; }

run --simulate status
check "status" [ "$status" -eq 0 ] && check "status says application and firmware 4.54" \
  [ "$(printf '%s\n' "$out" | head -n 2)" = "$(printf 'state: application\nfirmware: 4.54')" ]

run bogus
check "an unknown command is a usage error" \
  [ "$status" -eq 2 -a "$err" = "tarvenctl: unknown command 'bogus' (try --help)" ]

# A Cyrillic file name, as the user types it, is the file's name on the disk.
run --simulate image read rom образ.bin
check "image read into образ.bin" [ "$status" -eq 0 -a "$(size_of образ.bin)" = 16384 ]
printf 'keep' > образ.bin
run --simulate image read rom образ.bin
check "an existing file is kept without --force" \
  [ "$status" -ne 0 -a "$(cat образ.bin)" = keep ]
run --simulate image read rom образ.bin --force
check "an existing file is replaced with --force" [ "$status" -eq 0 -a "$(size_of образ.bin)" = 16384 ]
check "no temporary file is left beside it" [ "$(ls | grep -c saving)" -eq 0 ]

# This build keeps no journal of changes (no SQLite for MinGW-w64): a change goes through without
# a word of it, and the journal's commands say why they have nothing.
run --simulate params set 1=77 --yes
check "a change without a journal is done and warns of nothing" [ "$status" -eq 0 -a -z "$err" ]
run --simulate journal
check "journal says this build keeps none" \
  bash -c "[ \"\$1\" -ne 0 ] && printf '%s\n' \"\$2\" | grep -q 'this build keeps no journal'" _ "$status" "$err"
run --simulate --journal j.sqlite params set 1=77 --yes
check "--journal is refused" [ "$status" -eq 2 -a ! -e j.sqlite ]

# The simulated module's state file (and its lock beside it) under a Cyrillic name.
run --simulate --sim-state состояние.txt cnc stop
check "cnc stop with a state file" [ "$status" -eq 0 -a -f состояние.txt ]
run --simulate --sim-state состояние.txt status
check "the state file keeps the stopped CNC" \
  [ "$status" -eq 0 ] && check "status reads it back" \
  bash -c "printf '%s\n' \"\$1\" | grep -qx 'cnc: stopped'" _ "$out"

run --simulate=3 --all status
check "--all status over three modules" \
  [ "$status" -eq 0 -a "$(printf '%s\n' "$out" | grep -c '^sim-[123]')" -eq 3 ]

run --simulate backup копия.tar
check "backup into копия.tar" [ "$status" -eq 0 -a -s копия.tar ]
run --simulate diff копия.tar
check "the backup equals the module" [ "$status" -eq 0 ]
run --simulate restore копия.tar --yes
check "restore from копия.tar" [ "$status" -eq 0 ]

run --simulate config export конфиг.txt
check "config export" [ "$status" -eq 0 -a -s конфиг.txt ]
run --simulate config import конфиг.txt --yes
check "config import of what was exported" [ "$status" -eq 0 ]
run --simulate params export параметры.csv
check "params export" [ "$status" -eq 0 -a "$(head -n 1 параметры.csv)" = number,value ]

# The time carries the local offset (the C runtime's strftime gives none).
run --simulate io --watch --count 1 --json
check "io --watch --json gives the time with its offset" \
  bash -c "printf '%s\n' \"\$1\" | grep -Eq '\"time\":\"[0-9-]{10}T[0-9:]{8}[+-][0-9]{4}\"'" _ "$out"
run --simulate io
check "io writes volts with the user's decimal separator" \
  bash -c "printf '%s\n' \"\$1\" | grep -Eq '^dac1 170500: 0 0[.,]000 V\$'" _ "$out"
run --simulate io --watch --count 2 --csv журнал.csv
check "io --watch logs two rows" [ "$status" -eq 0 -a "$(wc -l < журнал.csv)" -eq 3 ]
run --simulate io --watch --count 1 --csv журнал.csv
check "a log is continued" [ "$status" -eq 0 -a "$(wc -l < журнал.csv)" -eq 4 ]

run --simulate update --yes
check "update" [ "$status" -eq 0 -a "$(printf '%s\n' "$out" | head -n 1)" = "sent: 206728 bytes" ]

# Ctrl-C (Wine turns SIGINT into the console's Ctrl-C event) during a restore: the block in
# progress goes whole, the restore stops, says which parts it wrote and exits 1. A Ctrl-C that
# comes before the program has started leaves no output at all; then it is tried again later.
stopped=no
for delay in 0.5 1 2 4 8 16; do
  "$wine" "$exe" --simulate --sim-wire-time 20 restore копия.tar --yes > out.raw 2> err.raw &
  pid=$!
  sleep "$delay"
  kill -INT "$pid"
  wait "$pid"
  status=$?
  out=$(tr -d '\r' < out.raw)
  err=$(tr -d '\r' < err.raw)
  [ -z "$out$err" ] && continue
  stopped=yes
  break
done
check "Ctrl-C stops a restore between blocks" [ "$stopped" = yes -a "$status" -eq 1 ] &&
  check "it says so, and the parts after it were not written" bash -c \
    "printf '%s\n' \"\$1\" | grep -qx 'tarvenctl: restore: stopped on request; the parts above are all that was written' && ! printf '%s\n' \"\$2\" | grep -q '^kvp: written'" \
    _ "$err" "$out"

# A Modbus poll over a serial port: Wine's COM33 is one end of socat's pseudo-terminal pair, a
# slave on the other end (modbus_pty_peer.py) answers address 1 and ignores address 9.
peer=$(dirname "$0")/modbus_pty_peer.py
prefix=${WINEPREFIX:-$HOME/.wine}
socat pty,raw,echo=0,link="$dir/ours" pty,raw,echo=0,link="$dir/theirs" & socat=$!
for i in $(seq 200); do [ -e "$dir/theirs" ] && break; sleep 0.05; done
python3 "$peer" "$dir/theirs" > peer.out 2>&1 & server=$!
for i in $(seq 200); do grep -q ready peer.out && break; sleep 0.05; done
ln -sfn "$dir/ours" "$prefix/dosdevices/com33"
run modbus poll --port COM33 --baud 57600 --addr 1
check "modbus poll over COM33" [ "$status" -eq 0 -a "$out" = "$(printf 'подключен 4.54 packets=1 errors=0\nrequests=1 replies=1 failures=0')" ]
run modbus poll --port com33 --addr 9
check "a slave that does not answer" \
  bash -c "[ \"\$1\" -eq 1 ] && printf '%s\n' \"\$2\" | grep -qx 'не подключен'" _ "$status" "$out"
run modbus poll --port COM34 --addr 1
check "a port that is not there" [ "$status" -ne 0 -a -n "$err" ]
rm -f "$prefix/dosdevices/com33"
kill "$server" "$socat" 2>/dev/null
wait "$server" "$socat" 2>/dev/null

# Without the simulator: the HID library is bound and finds no module here.
run status
check "status without a module" [ "$status" -eq 1 -a -n "$err" ]
run ports
check "ports lists COM names only" \
  bash -c "[ \"\$1\" -eq 0 ] && ! printf '%s\n' \"\$2\" | grep -v '^$' | grep -viq '^com[0-9]'" _ "$status" "$out"

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
