#!/bin/bash
# Checks the bash completion of tarvenctl: sources it and completes command lines split into
# words as readline splits them, once with '=' among the word breaks (bash's default) and once
# without. A stand-in tarvenctl answers `ports`, so the real program is never run.
#
# Usage: completion_test.sh [COMPLETION_FILE]
# (default: resources/bash-completion/tarvenctl beside this folder). Exits 1 on any failure.

set -u

script=${1:-$(dirname "$0")/../resources/bash-completion/tarvenctl}
script=$(realpath -e "$script") || exit 1

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/files" "$work/files/dir"
cat >"$work/bin/tarvenctl" <<'EOF'
#!/bin/sh
[ "$1" = ports ] && printf 'ttyUSB0  FTDI FT232R USB UART\nttyACM0  Pico\nttyS0\n'
[ "$1 $2" = "devices --json" ] &&
    printf '%s\n' '[{"path":"/dev/hidraw3","location":"1-2.3","serial":"T0042","opened":true},{"path":"/dev/hidraw5","location":null,"serial":null,"opened":false}]'
[ "$1 $2 $3" = "--simulate=2 devices --json" ] &&
    printf '%s\n' '[{"path":"sim-1","location":"sim-1","serial":"SIM00001"},{"path":"sim-2","location":"sim-2","serial":"SIM00002"}]'
EOF
chmod +x "$work/bin/tarvenctl"
touch "$work/files/rom.bin" "$work/files/ram.bin" "$work/files/params.csv"
PATH=$work/bin:$PATH
cd "$work/files" || exit 1

# shellcheck source=/dev/null
source "$script" || exit 1

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

registered=$(complete -p tarvenctl 2>&1)
[[ $registered == "complete -F _tarvenctl tarvenctl" ]] ||
    fail "registration: got '$registered'"

# Completes LINE (the cursor at its end) with '=' a word break when SPLIT is "split", and prints
# the candidates sorted, one line, space-separated.
complete_line() {
    local split=$1 line=$2
    local -a words
    read -r -a words <<<"$line"
    [[ $line == *' ' ]] && words+=('')
    if [[ $split == split ]]; then
        local -a pieces=()
        local word
        for word in "${words[@]}"; do
            while [[ $word == *=* ]]; do
                [[ -n ${word%%=*} ]] && pieces+=("${word%%=*}")
                word=${word#*=}
                pieces+=('=')
            done
            [[ -n $word || ${pieces[-1]-} != = ]] && pieces+=("$word")
        done
        words=("${pieces[@]}")
    fi
    COMP_WORDS=("${words[@]}")
    COMP_CWORD=$((${#words[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    _tarvenctl tarvenctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' '
}

files="dir params.csv ram.bin rom.bin"
commands="backup cnc config dac devices diff image io journal modbus params ports reg restart restore status undo update"

# mode | line | expected candidates ("both": the same with and without '=' as a word break)
cases=(
    "both|tarvenctl |$commands"
    "both|tarvenctl --|--all --device --help --journal --json --no-journal --no-undo --sim-state --sim-wire-time --simulate --trace --version --wait"
    "both|tarvenctl -|--all --device --help --journal --json --no-journal --no-undo --sim-state --sim-wire-time --simulate --trace --version --wait -V"
    "both|tarvenctl --journal r|ram.bin rom.bin"
    "both|tarvenctl journal |export show"
    "both|tarvenctl journal --|--csv --device --help --json --since"
    "both|tarvenctl journal --since |"
    "both|tarvenctl journal export r|ram.bin rom.bin"
    "both|tarvenctl undo 12 --|--force --help --yes"
    "both|tarvenctl --device |/dev/hidraw3 /dev/hidraw5 1-2.3 T0042"
    "both|tarvenctl --device T|T0042"
    "both|tarvenctl --simulate=2 --device |SIM00001 SIM00002 sim-1 sim-2"
    "both|tarvenctl --wait 3 st|status"
    "both|tarvenctl --wait |"
    "both|tarvenctl restore x.tar --only |amt config kvp params ram rom"
    "both|tarvenctl restore x.tar --only r|ram rom"
    "both|tarvenctl restore x.tar --only rom,k|rom,kvp"
    "both|tarvenctl restore x.tar --only rom,kvp,|rom,kvp,amt rom,kvp,config rom,kvp,params rom,kvp,ram"
    "both|tarvenctl restore r|ram.bin rom.bin"
    "both|tarvenctl restore x.tar --|--help --no-verify --only --ram-bank --yes"
    "both|tarvenctl restore x.tar --ram-bank |main reserve"
    "both|tarvenctl --device sim-2 --all st|status"
    "both|tarvenctl --simulate --sim-state s.state st|status"
    "both|tarvenctl --sim-state r|ram.bin rom.bin"
    "both|tarvenctl status --|--help --json"
    "both|tarvenctl devices --|--help --json"
    "both|tarvenctl cnc |start stop"
    "both|tarvenctl restart --|--help"
    "both|tarvenctl config |export import set show"
    "both|tarvenctl config set |F= G= M= P= S= T= X= Z="
    "both|tarvenctl config set X=4 T=|"
    "both|tarvenctl config set X=4 --|--help --yes"
    "both|tarvenctl params |export get import set"
    "both|tarvenctl params export |$files"
    "both|tarvenctl params import p|params.csv"
    "both|tarvenctl params import params.csv --|--help --yes"
    "both|tarvenctl params get --|--help --json"
    "both|tarvenctl update --|--firmware --help --yes"
    "both|tarvenctl update --firmware r|ram.bin rom.bin"
    "both|tarvenctl io --|--count --csv --help --json --watch"
    "both|tarvenctl io --watch --csv |$files"
    "both|tarvenctl io --watch --count |"
    "both|tarvenctl reg |read write"
    "both|tarvenctl dac |off set"
    "both|tarvenctl dac set |1 2 3 4"
    "both|tarvenctl image |read write"
    "both|tarvenctl image read |amt kvp ram rom"
    "both|tarvenctl image read kvp |$files"
    "both|tarvenctl image read kvp kvp.bin --|--force --help"
    "both|tarvenctl image write r|ram rom"
    "both|tarvenctl image write ram |$files"
    "both|tarvenctl image write ram ram.bin --|--bank --force --help --yes"
    "both|tarvenctl image write ram ram.bin --bank |main reserve"
    "both|tarvenctl image write rom rom.bin --|--chip --force --help --high --low --verify --yes"
    "both|tarvenctl image write rom --low |$files"
    "both|tarvenctl image write rom --chip |D82= D83="
    "both|tarvenctl image write amt --chip D7|D74= D75= D76= D77="
    "both|tarvenctl image write kvp kvp.bin --|--force --help --verify --yes"
    "split|tarvenctl image write amt --chip D76=|$files"
    "split|tarvenctl image write amt --chip D76=r|ram.bin rom.bin"
    "split|tarvenctl image write amt --chip D76=r.bin --chip |D74= D75= D76= D77="
    "whole|tarvenctl image write amt --chip D76=r|D76=ram.bin D76=rom.bin"
    "both|tarvenctl modbus |poll"
    "both|tarvenctl modbus poll --|--addr --baud --count --help --interval --json --port --trace"
    "both|tarvenctl modbus poll --port |ttyACM0 ttyS0 ttyUSB0"
    "both|tarvenctl modbus poll --port ttyU|ttyUSB0"
    "both|tarvenctl modbus poll --port ./r|./ram.bin ./rom.bin"
    "both|tarvenctl modbus poll --port ttyS0 --baud 5|57600"
    "both|tarvenctl ports --|--help --json"
    "both|tarvenctl frobnicate |"
)

count=0
for entry in "${cases[@]}"; do
    IFS='|' read -r mode line expected <<<"$entry"
    for split in split whole; do
        [[ $mode == both || $mode == "$split" ]] || continue
        got=$(complete_line "$split" "$line")
        [[ $got == "$expected" ]] ||
            fail "'$line' ($split at '='): expected '$expected', got '$got'"
        count=$((count + 1))
    done
done

if ((failures > 0)); then
    echo "$failures of $count completions wrong" >&2
    exit 1
fi
echo "$count completions as expected"
