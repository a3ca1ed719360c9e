#!/usr/bin/env bash
# Throughput and memory benchmark.  Builds SKYNOTE in Release, generates the
# inputs (deterministic), and measures each mode against the physical floor
# of a filter: the larger of two pipe copies, `cat IN | cat` and
# `cat OUT | cat`.  Each round runs the three commands in a rotated order,
# and the ratio printed is the median of the rounds' ratios, so that a noisy
# moment of the machine hits the tool and its floor alike.  Beside it: peak
# memory, and the same job done by a plain awk script (modes d and l).
#   bench/run.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
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
ln -s l.in "$work/L.in"
{ echo header; head -c 100000000 /dev/zero | tr '\0' 7; } >"$work/token.in"

# us COMMAND...: the wall time of one run in microseconds.
us() {
    local start=$EPOCHREALTIME
    "$@"
    local end=$EPOCHREALTIME
    echo $((${end/./} - ${start/./}))
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
tool() { "$skynote" "$mode" <"$work/$mode.in" 2>/dev/null | cat >/dev/null; }
copy_in() { cat "$work/$mode.in" | cat >/dev/null; }
copy_out() { cat "$work/$mode.out" | cat >/dev/null; }
awk_job() { awk -f "bench/mode_$mode.awk" "$work/$mode.in" 2>/dev/null | cat >/dev/null; }
peak_mib() {
    /usr/bin/time -f %M "$skynote" "$1" <"$2" 2>&1 >/dev/null | tail -n 1 | awk '{ printf "%.2f", $1 / 1024 }'
}

# One round: the three commands in the order that the round number picks;
# prints the tool's time, the floor and their ratio.
round() {
    local order=(tool copy_in copy_out) t_tool t_in t_out i
    for i in 0 1 2; do
        case ${order[$(((i + $1) % 3))]} in
        tool) t_tool=$(us tool) ;;
        copy_in) t_in=$(us copy_in) ;;
        copy_out) t_out=$(us copy_out) ;;
        esac
    done
    local floor=$((t_in > t_out ? t_in : t_out))
    awk -v t="$t_tool" -v f="$floor" 'BEGIN { printf "%d %d %.4f\n", t, f, t / f }'
}

printf '%-5s %9s %7s %7s %8s %8s %6s %6s %8s %8s %7s\n' \
    mode items in-MB out-MB tool-ms floor-ms ratio target peak-MiB awk-ms awk-x
row() { # MODE ITEMS TARGET
    mode=$1
    "$skynote" "$mode" <"$work/$mode.in" >"$work/$mode.out" 2>/dev/null
    for r in $(seq "$rounds"); do round "$r"; done >"$work/rounds"
    local tool_ms floor_ms ratio awk_ms='-' speedup='-'
    tool_ms=$(cut -d' ' -f1 "$work/rounds" | median)
    floor_ms=$(cut -d' ' -f2 "$work/rounds" | median)
    ratio=$(cut -d' ' -f3 "$work/rounds" | median)
    if [ -f "bench/mode_$mode.awk" ]; then
        awk_ms=$(for _ in 1 2 3; do us awk_job; done | median)
        speedup=$(awk -v a="$awk_ms" -v t="$tool_ms" 'BEGIN { printf "%.1f", a / t }')
        awk_ms=$(awk -v a="$awk_ms" 'BEGIN { printf "%.0f", a / 1e3 }')
    fi
    awk -v m="$mode" -v n="$2" -v i="$(stat -L -c %s "$work/$mode.in")" -v o="$(stat -c %s "$work/$mode.out")" \
        -v t="$tool_ms" -v f="$floor_ms" -v r="$ratio" -v g="$3" -v k="$(peak_mib "$mode" "$work/$mode.in")" \
        -v a="$awk_ms" -v x="$speedup" 'BEGIN {
        printf "%-5s %9d %7.1f %7.1f %8.1f %8.1f %6.2f %6.1f %8s %8s %7s\n",
            m, n, i / 1e6, o / 1e6, t / 1e3, f / 1e3, r, g, k, a, x }'
}
row d 2000000 1.3
row m 2000000 1.3
row l 500000 2.0
row L 500000 2.0
# A single 100 MB token: only its memory is of interest.
printf '%-5s %9d %7.1f %7s %8s %8s %6s %6s %8s %8s %7s\n' token 1 100.0 - - - - - \
    "$(peak_mib d "$work/token.in")" - -
