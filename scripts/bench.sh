#!/usr/bin/env bash
# Runs every benchmark from an optimised build and writes bench/results.md from what they print.
# Usage: scripts/bench.sh [--quick]    --quick runs each one with --smoke: it runs, nothing more.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

quick=0
case "${1:-}" in
    "") ;;
    --quick) quick=1 ;;
    -h | --help)
        sed -n '2,3s/^# \{0,1\}//p' "$0"
        exit 0
        ;;
    *)
        echo "usage: scripts/bench.sh [--quick]" >&2
        exit 2
        ;;
esac
command_line="scripts/bench.sh${1:+ $1}"

scripts/setup.sh
command -v Xvfb >/dev/null || {
    echo "bench: Xvfb is missing (Debian package xvfb)" >&2
    exit 1
}
cmake --preset release
cmake --build --preset release

bench_dir=build/release/bench
logs=$bench_dir/logs
mkdir -p "$logs"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# One display of our own for the windows, so nothing on the desktop (or its absence) counts.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$display_file" 2>"$logs/xvfb.log" &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; rm -f "$display_file"' EXIT
for _ in $(seq 100); do
    [[ -s $display_file ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
done
[[ -s $display_file ]] || {
    echo "bench: Xvfb did not start, see $logs/xvfb.log" >&2
    exit 1
}
display=":$(head -n1 "$display_file")"

args=()
[[ $quick -eq 1 ]] && args=(--smoke)
programs=(startup exchange growth fleet idle)
declare -A outcome
failed=0
for name in "${programs[@]}"; do
    exe=$bench_dir/zentrava-bench-$name
    log=$logs/$name.log
    if [[ ! -x $exe ]]; then
        outcome[$name]="missing"
        echo "bench: $name: no $exe" >&2
        continue
    fi
    echo "== $name" >&2
    # The start-up benchmark brings up its own X server; the rest draw on ours.
    if [[ $name == startup ]]; then
        env=()
    else
        env=(DISPLAY="$display" QT_QPA_PLATFORM=xcb)
    fi
    set +e
    env "${env[@]}" "$exe" "${args[@]}" | tee "$log"
    status=${PIPESTATUS[0]}
    set -e
    if [[ $status -eq 0 ]]; then
        outcome[$name]="ran"
    else
        outcome[$name]="failed (exit $status)"
        failed=1
    fi
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# Lines from every program that ran, in program order; the table is sorted by goal below.
lines=$(mktemp)
for name in "${programs[@]}"; do
    [[ -f $logs/$name.log && ${outcome[$name]} != missing ]] || continue
    grep -E '^(RESULT|DETAIL)\|' "$logs/$name.log" || true
done >"$lines"

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
memory=$(awk '/^MemTotal:/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
qt=$(qtpaths6 --qt-version 2>/dev/null ||
    dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo unknown)

results=bench/results.md
{
    echo "# Benchmark results"
    echo
    if [[ $quick -eq 1 ]]; then
        echo "A --quick run: one short --smoke repetition of each benchmark. It shows that they run;"
        echo "its figures mean nothing."
        echo
    fi
    echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "- command: \`$command_line\`"
    echo "- machine: ${cpu:-unknown CPU}, $(nproc) cores, $memory memory"
    echo "- system: Linux $(uname -r), Debian $(cat /etc/debian_version 2>/dev/null || echo unknown), Qt $qt"
    echo "- load average (1, 5, 15 min): $load_before before, $load_after after"
    echo "- programs:$(for name in "${programs[@]}"; do printf ' %s %s;' "$name" "${outcome[$name]}"; done | sed 's/;$//')"
    echo
    echo "| goal | measure | median ratio (p25..p75; n) | target | met |"
    echo "| --- | --- | --- | --- | --- |"
    { grep '^RESULT|' "$lines" || true; } | sort -t'|' -k2,2V -s |
        awk -F'|' '{ printf "| %s | %s | %s (%s..%s; %s) | %s | %s |\n", $2, $3, $4, $5, $6, $7, $8, $9 }'
    for name in "${programs[@]}"; do
        [[ ${outcome[$name]} == missing ]] && echo "| - | zentrava-bench-$name | missing | - | - |"
    done
    echo
    echo "## Details"
    for goal in $({ grep '^DETAIL|' "$lines" || true; } | cut -d'|' -f2 | sort -uV); do
        echo
        echo "### Goal $goal"
        echo
        grep "^DETAIL|$goal|" "$lines" | cut -d'|' -f3- | sed 's/^/- /'
    done
    if [[ -f bench/findings.md ]]; then
        echo
        cat bench/findings.md
    fi
} >"$results"
rm -f "$lines"

echo "bench: wrote $results; logs in $logs" >&2
exit "$failed"
