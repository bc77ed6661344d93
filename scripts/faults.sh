#!/usr/bin/env bash
# Plants each fault of tests/faults.txt alone, builds, runs the suite and names the tests that fail.
# Usage, from the repository root: scripts/faults.sh [BUILD_DIR] [ID...]; the sources are always restored.
set -uo pipefail
build=${1:-build/dev}
shift $(($# > 0))
list=tests/faults.txt
export QT_QPA_PLATFORM=offscreen
work=$(mktemp -d)
planted=

restore() {
    # A plain copy, so the restored file is newer than what the fault built and is built again.
    if [[ -n $planted ]]; then
        cp "$work/original" "$planted" && planted=
    fi
}
trap 'restore; rm -rf "$work"' EXIT
trap 'restore; exit 130' INT TERM

suite() { # names of the failing tests, one a line
    ctest --test-dir "$build" -j3 --timeout 150 >"$work/ctest.log" 2>&1
    grep -oP '^\s+\d+ - \K\S+(?= \()' "$work/ctest.log" | sort
}

if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake --preset dev -B "$build" >/dev/null || exit 1
fi
cmake --build "$build" -j2 >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
# Tests that already fail without a fault catch nothing; they are left out of every verdict.
suite >"$work/baseline"
[[ -s $work/baseline ]] && echo "failing without a fault (ignored): $(paste -sd' ' "$work/baseline")"

while IFS='|' read -r id file original replacement description <&3; do
    [[ -z $id || $id == \#* ]] && continue
    if (($#)) && ! printf '%s\n' "$@" | grep -qxF -- "$id"; then continue; fi
    text=$(<"$file") || continue
    rest=${text//"$original"/}
    count=$(( ${#original} ? (${#text} - ${#rest}) / ${#original} : 0 ))
    if ((count != 1)); then
        printf '%-22s REFUSED: original text found %d times in %s\n' "$id" "$count" "$file"
        continue
    fi
    start=$SECONDS
    cp "$file" "$work/original" && planted=$file
    printf '%s\n' "${text/"$original"/"$replacement"}" >"$file"
    if cmake --build "$build" -j2 >"$work/build.log" 2>&1; then
        caught=$(suite | comm -23 - "$work/baseline" | paste -sd' ')
        verdict=${caught:+caught-by: $caught}
    else
        verdict="BUILD FAILED (not a fault to keep)"
    fi
    restore
    printf '%-22s %s  (%ds)\n' "$id" "${verdict:-NOT CAUGHT}" $((SECONDS - start))
done 3<"$list"

# The last fault's binaries are replaced too, so the build dir matches the sources again.
cmake --build "$build" -j2 >"$work/build.log" 2>&1 || echo "warning: the restored tree did not build"
