#!/usr/bin/env bash
# Runs every saved fuzz input through two builds of skynote (the native one
# and the cross-built one under its emulator) and compares standard output,
# the error stream and the status byte for byte.  The first byte of an input
# is the mode letter (NUL: no argument), the rest is standard input.
#   same_bytes.sh NATIVE OTHER DIR...
native=${1:?usage: $0 NATIVE OTHER DIR...}
other=${2:?usage: $0 NATIVE OTHER DIR...}
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

run() { # BINARY INPUT PREFIX
    local args=() mode
    mode=$(head -c 1 "$2" | od -An -tx1 | tr -d ' ')
    [ "$mode" = 00 ] || args=("$(head -c 1 "$2")")
    # A build that hangs fails in seconds, not at the test's timeout.
    tail -c +2 "$2" | timeout -k 2 "${SKYNOTE_CASE_SECONDS:-5}" "$1" "${args[@]}" >"$3.out" 2>"$3.err"
    local status=$?
    echo $status >"$3.status"
    if [ $status = 124 ]; then
        echo "FAIL: $(basename "$2"): $1 did not end within ${SKYNOTE_CASE_SECONDS:-5} s; stopped here"
        exit 1
    fi
}

for dir in "$@"; do
    for input in "$dir"/*; do
        run "$native" "$input" "$work/native"
        run "$other" "$input" "$work/other"
        if cmp -s "$work/native.out" "$work/other.out" && cmp -s "$work/native.err" "$work/other.err" &&
            cmp -s "$work/native.status" "$work/other.status"; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
            echo "FAIL: $(basename "$input")"
            for side in native other; do
                echo "  $side: status $(cat "$work/$side.status"), $(wc -c <"$work/$side.out") bytes out, error stream:"
                od -An -c "$work/$side.err" | head -5
            done
        fi
    done
done
echo "$passed passed, $failed failed"
[ $failed = 0 ] && [ $passed -gt 0 ]
