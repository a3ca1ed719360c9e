#!/usr/bin/env bash
# Throughput, memory and start-up benchmark.  Builds SKYNOTE in Release,
# generates the inputs (deterministic, 100 MB and more per mode, so that every
# timed run lasts well over 0.2 s and start-up cost drops out), and measures
# each mode against the physical floor of a filter: the larger of two pipe
# copies, `cat IN | cat` and `cat OUT | cat`.  Each round runs the three
# commands in a rotated order, so that a noisy moment of the machine hits
# the tool and its floor alike; the ratio printed is the median of the
# rounds' ratios, with their spread (lowest to highest).  The inputs live in
# memory (tmpfs), or the floor would measure the disk.  Beside it: peak
# memory, the same job done by a plain awk script (modes d and l), the cost
# of one run on a 1 KB list, which is what an observer feels, the
# WebAssembly module under node against the tool, and instructions per line
# counted by callgrind, which do not move with the machine.
#   bench/run.sh [ROUNDS]   (BENCH_DIR: where the inputs go; BENCH_WASM: the module)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-7}
build=build-bench
if [ -z "${BENCH_DIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    BENCH_DIR=/dev/shm
elif [ -z "${BENCH_DIR:-}" ]; then
    BENCH_DIR=${TMPDIR:-/tmp}
    echo "note: no /dev/shm; the inputs are in $BENCH_DIR, so the floor may measure its disk" >&2
fi
work=$(mktemp -d "$BENCH_DIR/skynote-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" >/dev/null
c++ -O2 -std=c++17 -o "$work/generate" bench/generate.cpp
skynote=$build/skynote
export STARTUP_INPUT=$work/small.in

"$work/generate" raw-d 18000000 >"$work/d.in"
"$work/generate" raw-m 10000000 >"$work/m.in"
"$work/generate" list 11500000 >"$work/l.in"
ln -s l.in "$work/L.in"
"$work/generate" list 40 | head -c 1000 >"$work/small.in"
{ echo header; head -c 100000000 /dev/zero | tr '\0' 7; } >"$work/token.in"

# us COMMAND...: the wall time of one run in microseconds.
us() {
    local start=$EPOCHREALTIME
    "$@"
    local end=$EPOCHREALTIME
    echo $((${end/./} - ${start/./}))
}
# Median, lowest and highest of a column of numbers.
spread() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)], v[1], v[NR] }'; }
tool() { "$skynote" "$mode" <"$work/$mode.in" 2>/dev/null | cat >/dev/null; }
# The WebAssembly module under node's WASI, where there is one (BENCH_WASM,
# or build-web/skynote.wasm) and node: timed in the same rounds.
wasm=${BENCH_WASM:-build-web/skynote.wasm}
module() { node --no-warnings web/node-run.mjs "$wasm" "$mode" <"$work/$mode.in" 2>/dev/null | cat >/dev/null; }
have_module() { [ -f "$wasm" ] && command -v node >/dev/null 2>&1; }
copy_in() { cat "$work/$mode.in" | cat >/dev/null; }
copy_out() { cat "$work/$mode.out" | cat >/dev/null; }
awk_job() { awk -f "bench/mode_$mode.awk" "$work/$mode.in" 2>/dev/null | cat >/dev/null; }
peak_mib() {
    /usr/bin/time -f %M "$skynote" "$1" <"$2" 2>&1 >/dev/null | tail -n 1 | awk '{ printf "%.2f", $1 / 1024 }'
}
# Milliseconds per run of PROGRAM [ARG] on the 1 KB list, over 200 runs.
startup_ms() {
    local t
    t=$(us bash -c 'for _ in $(seq 200); do "$0" "$@" <"$STARTUP_INPUT" >/dev/null 2>&1 || :; done' "$@")
    awk -v t="$t" 'BEGIN { printf "%.2f", t / 200 / 1e3 }'
}

# One round: the commands in the order that the round number picks; prints
# the tool's time, the floor, their ratio, and the module's time against
# the tool's (0 without a module).
round() {
    local order=(tool copy_in copy_out) t_tool t_in t_out t_module=0 i
    have_module && order+=(module)
    for i in "${!order[@]}"; do
        case ${order[$(((i + $1) % ${#order[@]}))]} in
        tool) t_tool=$(us tool) ;;
        copy_in) t_in=$(us copy_in) ;;
        copy_out) t_out=$(us copy_out) ;;
        module) t_module=$(us module) ;;
        esac
    done
    local floor=$((t_in > t_out ? t_in : t_out))
    awk -v t="$t_tool" -v f="$floor" -v m="$t_module" 'BEGIN { printf "%d %d %.4f %.4f\n", t, f, t / f, m / t }'
}

echo "steady state: $rounds rounds on inputs in $BENCH_DIR; start-up: ms per run on a 1 KB list"
have_module && echo "node-x: the module ($wasm) under node's WASI, its time over the tool's in the same rounds"
printf '%-5s %7s %7s %8s %8s %6s %11s %6s %8s %7s %8s %6s %6s\n' \
    mode in-MB out-MB tool-ms floor-ms ratio spread target peak-MiB awk-x start-ms target node-x
row() { # MODE TARGET
    mode=$1
    "$skynote" "$mode" <"$work/$mode.in" >"$work/$mode.out" 2>/dev/null
    for r in $(seq "$rounds"); do round "$r"; done >"$work/rounds"
    local tool_ms floor_ms ratio speedup='-' node_x='-'
    read -r tool_ms _ < <(cut -d' ' -f1 "$work/rounds" | spread)
    read -r floor_ms _ < <(cut -d' ' -f2 "$work/rounds" | spread)
    read -r ratio low high < <(cut -d' ' -f3 "$work/rounds" | spread)
    have_module && read -r node_x _ < <(cut -d' ' -f4 "$work/rounds" | spread)
    if [ -f "bench/mode_$mode.awk" ]; then
        speedup=$(awk -v a="$(us awk_job)" -v t="$tool_ms" 'BEGIN { printf "%.1f", a / t }')
    fi
    awk -v m="$mode" -v i="$(stat -L -c %s "$work/$mode.in")" -v o="$(stat -c %s "$work/$mode.out")" \
        -v t="$tool_ms" -v f="$floor_ms" -v r="$ratio" -v lo="$low" -v hi="$high" -v g="$2" \
        -v k="$(peak_mib "$mode" "$work/$mode.in")" -v x="$speedup" -v s="$(startup_ms "$skynote" "$mode")" -v n="$node_x" 'BEGIN {
        printf "%-5s %7.1f %7.1f %8.1f %8.1f %6.2f %5.2f-%-5.2f %6.1f %8s %7s %8s %6.1f %6s\n",
            m, i / 1e6, o / 1e6, t / 1e3, f / 1e3, r, lo, hi, g, k, x, s, 2, n == "-" ? n : sprintf("%.2f", n) }'
}
row d 1.1
row m 1.1
row l 1.5
row L 1.5
# A single 100 MB token: only its memory is of interest.
printf '%-5s %7.1f %7s %8s %8s %6s %11s %6s %8s %7s %8s %6s\n' token 100.0 - - - - - - \
    "$(peak_mib d "$work/token.in")" - - -
# Most of a start-up is the machine's fork and exec, which no program
# avoids: the same loop with `true` is its floor here.
echo "start-up floor: $(startup_ms "$(type -P true)") ms per run of true"

# Instructions, counted by callgrind: the same for the same binary and input
# on any machine, where times and ratios to the pipe floor move with the
# machine.  Fixed inputs: 200,000 observations (216,668 lines), and 200,000
# objects for modes d and m; per line or object, and per input byte.
if command -v valgrind >/dev/null 2>&1; then
    kernel=sse2
    grep -qw avx2 /proc/cpuinfo 2>/dev/null && kernel=avx2
    echo
    echo "instructions (callgrind; scanning kernel $kernel), start-up included"
    "$work/generate" list 200000 >"$work/count.l"
    ln -s count.l "$work/count.L"
    "$work/generate" raw-d 200000 >"$work/count.d"
    "$work/generate" raw-m 200000 >"$work/count.m"
    printf '%-5s %9s %8s %13s %9s %9s\n' mode in-bytes units instructions per-unit per-byte
    for mode in d m l L; do
        units=200000 # objects
        case $mode in l | L) units=$(wc -l <"$work/count.$mode") ;; esac
        count=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$skynote" "$mode" <"$work/count.$mode" 2>&1 >/dev/null |
            sed -n 's/.*Collected : //p')
        awk -v m="$mode" -v b="$(stat -L -c %s "$work/count.$mode")" -v u="$units" -v c="$count" 'BEGIN {
            printf "%-5s %9d %8d %13d %9.1f %9.2f\n", m, b, u, c, c / u, c / b }'
    done
else
    echo "note: no valgrind: instructions not counted" >&2
fi
