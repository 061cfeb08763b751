#!/usr/bin/env bash
# Takes the README's screenshot of the window: the built tarven against a simulated bench of three
# modules, on a virtual X server, showing the page "Сервис" once the status panel has shown the
# module. Run after a build; keep the picture current when the window changes.
#   scripts/screenshot.sh [build/default/bin/tarven] [docs/tarven.png]
# Needs xvfb-run, xwininfo (x11-utils), xwd (x11-apps), xdotool and convert (imagemagick).
set -euo pipefail
cd "$(dirname "$0")/.."
program=${1:-build/default/bin/tarven}
output=${2:-docs/tarven.png}
for tool in xvfb-run xwininfo xwd xdotool convert; do
  command -v "$tool" > /dev/null ||
    { echo "screenshot.sh: $tool is missing (apt-get install xvfb x11-utils x11-apps xdotool imagemagick)" >&2; exit 1; }
done
[ -x "$program" ] || { echo "screenshot.sh: $program is not built" >&2; exit 1; }

export SCREENSHOT_PROGRAM=$program SCREENSHOT_OUTPUT=$output
xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
  set -euo pipefail
  "$SCREENSHOT_PROGRAM" -f --simulate=3 &
  pid=$!
  trap "kill $pid 2>/dev/null; wait $pid 2>/dev/null || true" EXIT
  window=
  for _ in $(seq 100); do
    window=$(xwininfo -root -tree | awk "/\"Тарвен v/ { print \$1; exit }")
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "screenshot.sh: the window did not appear" >&2; exit 1; }
  # Two status ticks: the panel shows the module, its versions and the CNC state. Then the last
  # tab, "Сервис", one step back from the first, and a tick more for its list of modules.
  sleep 2.5
  xdotool windowfocus --sync "$window"
  xdotool key --window "$window" ctrl+shift+Tab
  sleep 1.5
  xwd -silent -id "$window" | convert xwd:- "$SCREENSHOT_OUTPUT"
'
echo "screenshot.sh: wrote $output"
