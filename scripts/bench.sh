#!/usr/bin/env bash
# Runs every benchmark from an optimised build and writes bench/results.md: each goal a ratio
# against a baseline measured in the same run, on a private Xvfb.
# Usage: scripts/bench.sh [--quick]    --quick runs each one briefly: it runs, nothing more.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

quick=0
case "${1:-}" in
    "") ;;
    --quick) quick=1 ;;
    -h | --help)
        sed -n '2,4s/^# \{0,1\}//p' "$0"
        exit 0
        ;;
    *)
        echo "usage: scripts/bench.sh [--quick]" >&2
        exit 2
        ;;
esac
command_line="scripts/bench.sh${1:+ $1}"

# Rounds: start-up blocks x runs, memory rounds, fleet runs, idle windows and seconds counted,
# exchange rounds.
if [[ $quick -eq 1 ]]; then
    blocks=1 runs=2 warmup=1 memory_rounds=1 fleet_runs=2 idle_pairs=1 idle_s=3 exchange_rounds=1
else
    blocks=3 runs=20 warmup=3 memory_rounds=10 fleet_runs=20 idle_pairs=4 idle_s=60
    exchange_rounds=30
fi

scripts/setup.sh
# The tools that time and count, and the serial terminals a user would open instead.
tools=(hyperfine linux-perf time jq xvfb cutecom gtkterm)
missing=()
for package in "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
    sudo=()
    [[ $(id -u) -ne 0 ]] && sudo=(sudo)
    echo "bench: installing ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${missing[@]}"
fi

cmake --preset release
# Only what is measured, so a test being edited elsewhere cannot stop the benchmarks.
cmake --build --preset release -j2 --target zentrava kt7720ctl kt7720-emu \
    zentrava-bench-bare-window zentrava-bench-exchange zentrava-bench-wait-mapped

build=build/release
bin=$build/bench
logs=$bin/logs
rm -rf "$logs"
mkdir -p "$logs"
scratch=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# A display of our own: -noreset, or each program that is the last to leave resets the server
# and the next one finds no display.
Xvfb -displayfd 3 -noreset -screen 0 1600x1200x24 -nolisten tcp 3>"$scratch/display" \
    2>"$logs/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
    [[ -s $scratch/display ]] && break
    sleep 0.1
done
[[ -s $scratch/display ]] || { echo "bench: Xvfb did not start, see $logs/xvfb.log" >&2; exit 1; }
mkdir -m 700 "$scratch/runtime" "$scratch/config"
# Every program with no session bus or accessibility bus to find, and the peers with settings of
# their own in a fresh place each run.
export DISPLAY=":$(head -n1 "$scratch/display")" QT_QPA_PLATFORM=xcb GDK_BACKEND=x11
export XDG_RUNTIME_DIR=$scratch/runtime XDG_CONFIG_HOME=$scratch/config NO_AT_BRIDGE=1

lines=$logs/lines
: >"$lines"

# Median and quartiles by nearest rank of the numbers on stdin: "median p25 p75 n".
stats() {
    sort -g | awk '{ v[NR] = $1 }
        function at(p) { return v[int((NR - 1) * p / 100) + 1] }
        END { if (NR == 0) print "nan nan nan 0"; else print at(50), at(25), at(75), NR }'
}

# Ratios on stdin become a row: result GOAL MEASURE "<= 1.15" (or "reported").
result() {
    local s
    s=$(stats)
    awk -v goal="$1" -v what="$2" -v target="$3" -v s="$s" 'BEGIN {
        split(s, f, " "); split(target, t, " ")
        met = (t[1] == "<=" && f[1] <= t[2]) || (t[1] == "<" && f[1] < t[2]) ? "yes" : "no"
        if (f[4] == 0) met = "no"
        if (target == "reported") met = "-"; else target = target "x"
        printf "RESULT|%s|%s|%.3f|%.3f|%.3f|%d|%s|%s\n", goal, what, f[1], f[2], f[3], f[4],
            target, met }' >>"$lines"
}

detail() { printf 'DETAIL|%s|%s\n' "$1" "$2" >>"$lines"; }

# Each line of file A over the same line of file B.
over() { paste -d' ' "$1" "$2" | awk 'NF == 2 && $2 > 0 { print $1 / $2 }'; }

# "median (p25..p75; n) unit" of the numbers on stdin, scaled.
describe() {
    stats | awk -v scale="${1:-1}" -v unit="${2:-}" \
        '{ printf "%.1f (%.1f..%.1f; %d)%s", $1 * scale, $2 * scale, $3 * scale, $4, unit }'
}

declare -A outcome
note() { outcome[$1]=$2; }

# Goal 1, 6 and the peers: start-up to the first mapped window with hyperfine, in blocks so the
# contestants take turns; then peak memory of a life to a settled window, round by round.
startup() {
    local wait=$bin/zentrava-bench-wait-mapped
    local names=(zentrava bare cutecom gtkterm)
    local -A cmd=([zentrava]=$build/src/zentrava [bare]=$bin/zentrava-bench-bare-window
        [cutecom]=cutecom [gtkterm]=gtkterm)
    local block name i
    for block in $(seq "$blocks"); do
        local args=()
        for name in "${names[@]}"; do args+=(-n "$name" "$wait ${cmd[$name]}"); done
        hyperfine -N --warmup "$warmup" --runs "$runs" --export-json "$logs/startup-$block.json" \
            "${args[@]}" >&2
        for i in "${!names[@]}"; do
            jq -r ".results[$i].times[]" "$logs/startup-$block.json" >>"$logs/start-${names[$i]}"
        done
    done
    for _ in $(seq "$memory_rounds"); do
        for name in "${names[@]}"; do
            /usr/bin/time -f %M -a -o "$logs/peak-$name" "$wait" --linger 300 ${cmd[$name]}
        done
    done
    over "$logs/start-zentrava" "$logs/start-bare" |
        result 1 "start to first mapped window vs bare window" "<= 1.15"
    over "$logs/peak-zentrava" "$logs/peak-bare" | result 6 "peak RSS vs bare window" "<= 1.2"
    local peer label
    for peer in cutecom gtkterm; do
        label=$([[ $peer == cutecom ]] && echo CuteCom || echo GTKTerm)
        over "$logs/start-zentrava" "$logs/start-$peer" |
            result peers "start to first mapped window vs $label" "< 1.0"
        over "$logs/peak-zentrava" "$logs/peak-$peer" | result peers "peak RSS vs $label" "< 1.0"
    done
    local times="" peaks=""
    for name in "${names[@]}"; do
        times+="; $name $(describe 1000 ' ms' <"$logs/start-$name")"
        peaks+="; $name $(describe 0.001 ' MB' <"$logs/peak-$name")"
    done
    detail 1 "hyperfine, fork to the first map seen on the display, end of the process included, \
$blocks block(s) of $runs runs after $warmup warm-ups${times}"
    detail 6 "/usr/bin/time %M of the same life lingering 300 ms past the map${peaks}"
}

# Goal 3: kt7720ctl reads every setting from 1, 8 and 16 modules, each a kt7720-emu pacing its
# replies at 9600 baud.
fleet() {
    local devices=() i
    for i in $(seq 16); do
        $build/emulator/kt7720-emu --fault paced >"$logs/emu-$i.log" 2>&1 &
    done
    for i in $(seq 16); do
        for _ in $(seq 50); do [[ -s $logs/emu-$i.log ]] && break; sleep 0.1; done
        devices+=("$(head -n1 "$logs/emu-$i.log")")
    done
    local -A ports=()
    for size in 1 8 16; do
        ports[$size]=$(printf -- '--port %s ' "${devices[@]:0:size}")
    done
    hyperfine -N --warmup 2 --runs "$fleet_runs" --export-json "$logs/fleet.json" \
        -n 1 "$build/src/cli/kt7720ctl ${ports[1]}get" -n 8 "$build/src/cli/kt7720ctl ${ports[8]}get" \
        -n 16 "$build/src/cli/kt7720ctl ${ports[16]}get" >&2
    for i in 0 1 2; do jq -r ".results[$i].times[]" "$logs/fleet.json" >"$logs/fleet-$i"; done
    over "$logs/fleet-1" "$logs/fleet-0" | result 3 "get all, 8 modules vs 1" "<= 1.3"
    over "$logs/fleet-2" "$logs/fleet-0" | result 3 "get all, 16 modules vs 1" reported
    detail 3 "hyperfine, kt7720ctl get with start-up: 1 module $(describe 1000 ' ms' \
        <"$logs/fleet-0"); 8 modules $(describe 1000 ' ms' <"$logs/fleet-1"); 16 modules \
$(describe 1000 ' ms' <"$logs/fleet-2")"
}

# Goal 4: context switches of idle windows, counted by perf stat minute by minute: zentrava
# with its port open against a bare window keeping the same minute clock.
idle() {
    local i kind counters=()
    for i in $(seq "$idle_pairs"); do
        $bin/zentrava-bench-exchange --idle >"$logs/idle-zentrava-$i.out" 2>&1 &
        counters+=("zentrava-$i:$!")
        $bin/zentrava-bench-bare-window --clock >/dev/null 2>&1 &
        counters+=("bare-$i:$!")
    done
    for i in $(seq "$idle_pairs"); do
        for _ in $(seq 100); do grep -q ready "$logs/idle-zentrava-$i.out" && break; sleep 0.1; done
    done
    sleep 1
    local perfs=() entry
    for entry in "${counters[@]}"; do
        perf stat -x, -e context-switches -I "$((idle_s * 1000))" -p "${entry#*:}" \
            -o "$logs/idle-${entry%%:*}.perf" -- sleep "$((2 * idle_s)).5" &
        perfs+=($!)
    done
    wait "${perfs[@]}"
    local minute
    for minute in 1 2; do
        for kind in zentrava bare; do
            for i in $(seq "$idle_pairs"); do
                grep -v '^#' "$logs/idle-$kind-$i.perf" | grep . | sed -n "${minute}p" |
                    awk -F, '{ print $2 == "<not counted>" ? 0 : $2 }'
            done >"$logs/idle-$kind-m$minute"
        done
        over "$logs/idle-zentrava-m$minute" "$logs/idle-bare-m$minute" |
            result 4 "idle context switches, port open, counted minute $minute, \
vs bare window with the same clock" "<= 1.0"
        detail 4 "perf stat context-switches in minute $minute, $idle_s s: zentrava \
$(describe 1 '' <"$logs/idle-zentrava-m$minute"), bare window with clock \
$(describe 1 '' <"$logs/idle-bare-m$minute")"
    done
}

# Goals 2a and 2b: the window's Read against a minimal QSerialPort client and the wire.
exchange() {
    $bin/zentrava-bench-exchange --rounds "$exchange_rounds" | tee "$logs/exchange.out"
    local goal what target ratios
    while IFS='|' read -r _ goal what target ratios; do
        tr '|' '\n' <<<"$ratios" | result "$goal" "$what" "$target"
    done < <(grep '^RESULT|' "$logs/exchange.out")
    grep '^DETAIL|' "$logs/exchange.out" >>"$lines" || true
}

failed=0
for part in startup fleet idle exchange; do
    echo "== $part" >&2
    if [[ $part == startup && ! -x $bin/zentrava-bench-wait-mapped ]]; then
        note $part "skipped (no xcb)"
        continue
    fi
    # Whatever a part leaves running ends with it.
    if (trap 'kill $(jobs -p) 2>/dev/null || true' EXIT; $part); then note $part ran; else note $part failed; failed=1; fi
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
memory=$(awk '/^MemTotal:/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
qt=$(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo unknown)
peers="$(dpkg-query -W -f='CuteCom ${Version}' cutecom 2>/dev/null || true), \
$(dpkg-query -W -f='GTKTerm ${Version}' gtkterm 2>/dev/null || true)"

results=bench/results.md
marker='<!-- Below this line scripts/bench.sh keeps the text as it is. -->'
notes=$(awk -v m="$marker" '$0 == m { kept = 1 } kept' "$results" 2>/dev/null || true)
{
    echo "# Benchmark results"
    echo
    if [[ $quick -eq 1 ]]; then
        echo "A --quick run: each benchmark briefly. It shows that they run; its figures mean nothing."
        echo
    fi
    echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC'); command: \`$command_line\`"
    echo "- machine: ${cpu:-unknown CPU}, $(nproc) cores, $memory memory; Linux $(uname -r), \
Debian $(cat /etc/debian_version 2>/dev/null || echo unknown), Qt $qt; $peers"
    echo "- load average (1, 5, 15 min): $load_before before, $load_after after"
    echo "- parts:$(for p in startup fleet idle exchange; do printf ' %s %s;' "$p" "${outcome[$p]}"; done |
        sed 's/;$//')"
    echo
    echo "| goal | measure | median ratio (p25..p75; n) | target | met |"
    echo "| --- | --- | --- | --- | --- |"
    { grep '^RESULT|' "$lines" || true; } | sort -t'|' -k2,2V -s |
        awk -F'|' '{ printf "| %s | %s | %s (%s..%s; %s) | %s | %s |\n", $2, $3, $4, $5, $6, $7, $8, $9 }'
    echo
    echo "## Details"
    for goal in $({ grep '^DETAIL|' "$lines" || true; } | cut -d'|' -f2 | sort -uV); do
        echo
        echo "### Goal $goal"
        echo
        grep "^DETAIL|$goal|" "$lines" | cut -d'|' -f3- | sed 's/^/- /'
    done
    echo
    if [[ -n $notes ]]; then echo "$notes"; else echo "$marker"; fi
} >"$results"

echo "bench: wrote $results; logs in $logs" >&2
exit "$failed"
