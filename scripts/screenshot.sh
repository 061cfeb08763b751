#!/usr/bin/env bash
# Takes the README's screenshot of the window: the built tarven against the simulated module, on a
# virtual X server, once its status panel has shown the module. Run after a build; keep the
# picture current when the window changes.
#   scripts/screenshot.sh [build/default/bin/tarven] [docs/tarven.png]
# Needs xvfb-run, xwininfo (x11-utils) and convert (imagemagick).
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-build/default/bin/tarven}
output=${2:-docs/tarven.png}
for tool in xvfb-run xwininfo xwd convert; do
  command -v "$tool" > /dev/null ||
    { echo "screenshot.sh: $tool is missing (apt-get install xvfb x11-utils x11-apps imagemagick)" >&2; exit 1; }
done
[ -x "$program" ] || { echo "screenshot.sh: $program is not built" >&2; exit 1; }

export SCREENSHOT_PROGRAM=$program SCREENSHOT_OUTPUT=$output
xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
  set -euo pipefail
  "$SCREENSHOT_PROGRAM" -f --simulate &
  pid=$!
  trap "kill $pid 2>/dev/null; wait $pid 2>/dev/null || true" EXIT
  window=
  for _ in $(seq 100); do
    window=$(xwininfo -root -tree | awk "/\"Тарвен v/ { print \$1; exit }")
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "screenshot.sh: the window did not appear" >&2; exit 1; }
  # Two status ticks: the panel shows the module, its versions and the CNC state.
  sleep 2.5
  xwd -silent -id "$window" | convert xwd:- "$SCREENSHOT_OUTPUT"
'
echo "screenshot.sh: wrote $output"
