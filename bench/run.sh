#!/usr/bin/env bash
# Throughput and memory benchmark.  Builds SKYNOTE in Release, generates the
# inputs (deterministic), and prints for each mode the median of several runs
# next to the I/O floor: the time cat needs to push the same output bytes
# through a pipe, measured in the same run.
#   bench/run.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
build=build-bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" >/dev/null
c++ -O2 -std=c++17 -o "$work/generate" bench/generate.cpp
skynote=$build/skynote

"$work/generate" raw-d 2000000 >"$work/d.in"
"$work/generate" raw-m 2000000 >"$work/m.in"
"$work/generate" list 500000 >"$work/l.in"
cp "$work/l.in" "$work/L.in"
{ echo header; head -c 100000000 /dev/zero | tr '\0' 7; } >"$work/token.in"

now() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# ms MODE INPUT: median wall time of skynote MODE <INPUT | cat, in ms.
tool_ms() {
    for _ in $(seq "$runs"); do
        local start=$(now)
        "$skynote" "$1" <"$2" 2>/dev/null | cat >/dev/null
        echo $((($(now) - start) / 1000))
    done | median
}
floor_ms() {
    for _ in $(seq "$runs"); do
        local start=$(now)
        cat "$1" | cat >/dev/null
        echo $((($(now) - start) / 1000))
    done | median
}
peak_kib() {
    /usr/bin/time -f %M "$skynote" "$1" <"$2" 2>&1 >/dev/null | tail -n 1
}

# A single 100 MB token: only its memory is of interest.
token_row() {
    awk -v k="$(peak_kib "$1" "$2")" -v t="$(tool_ms "$1" "$2")" \
        'BEGIN { printf "%-6s %10d %12s %9s %10.1f %10s %6s %9.2f\n", "token", 1, "-", "-", t / 1e3, "-", "-", k / 1024 }'
}

printf '%-6s %10s %12s %9s %10s %10s %6s %9s\n' mode items items/s out-MB/s tool-ms floor-ms ratio peak-MiB
row() { # LABEL MODE INPUT ITEMS
    local label=$1 mode=$2 input=$3 items=$4
    [ "$label" = token ] && { token_row "$mode" "$input"; return; }
    "$skynote" "$mode" <"$input" >"$work/out" 2>/dev/null
    local bytes=$(stat -c %s "$work/out")
    local tool=$(tool_ms "$mode" "$input") floor=$(floor_ms "$work/out")
    local kib=$(peak_kib "$mode" "$input")
    awk -v l="$label" -v n="$items" -v b="$bytes" -v t="$tool" -v f="$floor" -v k="$kib" 'BEGIN {
        printf "%-6s %10d %12.0f %9.1f %10.1f %10.1f %6.2f %9.2f\n",
            l, n, n / (t / 1e6), b / 1e6 / (t / 1e6), t / 1e3, f / 1e3, t / f, k / 1024 }'
}
row d d "$work/d.in" 2000000
row m m "$work/m.in" 2000000
row l l "$work/l.in" 500000
row L L "$work/L.in" 500000
row token d "$work/token.in" 1
