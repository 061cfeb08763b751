#!/usr/bin/env bash
# Runs the libFuzzer targets for a while each, one after another, and prints one line per target:
#
#   scripts/fuzz.sh SECONDS [TARGET...]
#
# TARGET is a name such as sim_state (all targets when none is given). Each target runs on a
# scratch copy of its seed corpus in fuzz/corpus/, so the seeds stay as they are. What a target
# finds (crash, leak, timeout, out of memory) is kept in build/fuzz/findings/ with the target's
# name in front; every run's output is kept in build/fuzz/findings/logs/. The exit status is 1 when
# any target found something, 2 when the command line or the build is not right.
#
# The script builds nothing: build the fuzz preset first (cmake --workflow --preset fuzz).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bin_dir="$root/build/fuzz/bin"
findings="$root/build/fuzz/findings"

usage() {
  echo "usage: scripts/fuzz.sh SECONDS [TARGET...]" >&2
  exit 2
}

[ $# -ge 1 ] || usage
seconds=$1
shift
case "$seconds" in '' | *[!0-9]* | 0) usage ;; esac

# Every target has a source fuzz/NAME_fuzz.cpp and a seed corpus fuzz/corpus/NAME.
all_targets() {
  for source in "$root"/fuzz/*_fuzz.cpp; do
    name=$(basename "$source" .cpp)
    echo "${name%_fuzz}"
  done
}
if [ $# -eq 0 ]; then
  mapfile -t targets < <(all_targets)
else
  targets=("$@")
fi

# Check everything before running anything, so that a long run does not stop half-way.
missing=0
for name in "${targets[@]}"; do
  if [ ! -f "$root/fuzz/${name}_fuzz.cpp" ]; then
    echo "fuzz.sh: no fuzz target '$name' (targets: $(all_targets | tr '\n' ' '))" >&2
    exit 2
  fi
  if [ ! -x "$bin_dir/fuzz_$name" ]; then
    echo "fuzz.sh: $bin_dir/fuzz_$name is missing" >&2
    missing=1
  fi
  if [ ! -d "$root/fuzz/corpus/$name" ]; then
    echo "fuzz.sh: no seed corpus fuzz/corpus/$name" >&2
    exit 2
  fi
done
if [ "$missing" -ne 0 ]; then
  echo "fuzz.sh: build the fuzz targets first: cmake --workflow --preset fuzz" \
    "(or cmake --preset fuzz && cmake --build --preset fuzz)" >&2
  exit 2
fi

mkdir -p "$findings/logs"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarven-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

found=0
for name in "${targets[@]}"; do
  corpus="$scratch/$name/corpus"
  artifacts="$scratch/$name/artifacts"
  log="$findings/logs/$name.log"
  mkdir -p "$corpus" "$artifacts"
  cp -r "$root/fuzz/corpus/$name"/. "$corpus"/

  start=$(date +%s)
  # An input that takes longer than -timeout seconds is a finding (a hang), not a stall.
  "$bin_dir/fuzz_$name" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" > "$log" 2>&1
  status=$?
  elapsed=$(($(date +%s) - start))

  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  inputs=$(find "$corpus" -type f | wc -l)

  # libFuzzer names what it keeps by kind: crash-, leak-, timeout-, oom-, slow-unit-.
  kept=()
  for artifact in "$artifacts"/*; do
    [ -e "$artifact" ] || continue
    target_file="$findings/$name-$(basename "$artifact")"
    mv -f "$artifact" "$target_file"
    case "$(basename "$artifact")" in slow-unit-*) ;; *) kept+=("${target_file#"$root"/}") ;; esac
  done

  if [ "$status" -eq 0 ] && [ ${#kept[@]} -eq 0 ]; then
    outcome="no finding"
  elif [ ${#kept[@]} -gt 0 ]; then
    outcome="FINDING ${kept[*]}"
    found=1
  else
    outcome="FAILED with status $status, see ${log#"$root"/}"
    found=1
  fi
  printf '%s: %s s, %s executions, corpus %s inputs, %s\n' \
    "$name" "$elapsed" "${executions:-?}" "$inputs" "$outcome"
done

exit "$found"
