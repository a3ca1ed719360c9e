# Shared by the end-to-end groups: runs the built binary on exact input bytes
# and compares exact stdout bytes, stderr bytes and exit status.
# Byte strings are printf %b strings: \r, \n, \t, \x00, \x1a and \xfc spell
# the bytes exactly, and a % is an ordinary character.

binary=${1:?usage: $0 path/to/skynote}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The group's files: under the build folder when ctest runs it, so that a
# group killed at its timeout leaves nothing elsewhere, and made anew.  No
# file may grow past 64 MiB, so that a faulty build cannot fill the disk.
work=${SKYNOTE_TEST_DIR:-$(mktemp -d)}
rm -rf "$work" && mkdir -p "$work" || exit 1
trap 'rm -rf "$work"' EXIT
ulimit -f $((64 * 1024))
# Every run of the binary has case_seconds to end (an emulator needs more:
# SKYNOTE_CASE_SECONDS), so that a build that hangs fails in seconds; the
# group stops at the first run that hangs, since the rest would hang too.
case_seconds=${SKYNOTE_CASE_SECONDS:-5}
SKYNOTE=$work/skynote
printf '#!/bin/sh\nexec timeout -k 2 %s %q "$@"\n' "$case_seconds" "$binary" >"$SKYNOTE"
chmod +x "$SKYNOTE"
HUNG=124 # the status of a run that timeout ended
passed=0
failed=0
skipped=0

# skip_on PLATFORM NAME REASON: false, after saying why, when the binary
# under test is a build for PLATFORM: windows (SKYNOTE_WINDOWS=1) or web
# (SKYNOTE_WEB=1).
skip_on() {
    case $1 in
    windows) [ -n "${SKYNOTE_WINDOWS:-}" ] || return 0 ;;
    web) [ -n "${SKYNOTE_WEB:-}" ] || return 0 ;;
    esac
    echo "SKIP: $2 ($3)"
    skipped=$((skipped + 1))
    return 1
}

# Both outputs as hex, side by side in the log, when a case fails.
show_diff() {
    echo "  want $1:"; od -An -c "$2" | head -20
    echo "  got $1:"; od -An -c "$3" | head -20
}

# verdict NAME STATUS WANT_STATUS: compares $work/{out,err} with the wanted files.
verdict() {
    local name=$1 status=$2 want_status=$3 ok=1
    if [ "$status" = $HUNG ]; then
        failed=$((failed + 1))
        echo "FAIL: $name: no end within $case_seconds s; the group stops here"
        finish
        exit 1
    fi
    cmp -s "$work/out" "$work/out.want" || { ok=0; show_diff stdout "$work/out.want" "$work/out"; }
    cmp -s "$work/err" "$work/err.want" || { ok=0; show_diff stderr "$work/err.want" "$work/err"; }
    [ "$status" = "$want_status" ] || { ok=0; echo "  status $status, want $want_status"; }
    if [ $ok = 1 ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $name"
    fi
}

# With SKYNOTE_CORPUS set, each case's input also goes there as a fuzz seed:
# the mode byte (NUL for no argument), then standard input.
save_seed() { # NAME INPUT_FILE [ARG...]
    [ -n "${SKYNOTE_CORPUS:-}" ] || return 0
    local name=$1 input=$2 mode=''
    shift 2
    # Inputs this large only test the buffers; they would slow the fuzzer down.
    [ "$(stat -c %s "$input")" -le 16384 ] || return 0
    [ $# -gt 0 ] && mode=${1:0:1}
    { if [ -n "$mode" ]; then printf '%s' "$mode"; else printf '\0'; fi; cat "$input"; } \
        >"$SKYNOTE_CORPUS/$(basename "$0" .sh)-$name"
}

# check NAME INPUT STDOUT STDERR STATUS [ARG...]
check() {
    local name=$1 input=$2 out=$3 err=$4 status=$5
    shift 5
    printf '%b' "$input" >"$work/in"
    save_seed "$name" "$work/in" "$@"
    printf '%b' "$out" >"$work/out.want"
    printf '%b' "$err" >"$work/err.want"
    "$SKYNOTE" "$@" <"$work/in" >"$work/out" 2>"$work/err"
    verdict "$name" $? "$status"
}

# obj NAME BOOK PAGE: one object line, spelled for check, for fields that do
# not overlap (cases with overlap spell their lines out in full).
obj() {
    printf '%-30s%-*s%*s\\r\\n' "$1" $((12 - ${#3})) "$2" ${#3} "$3"
}

# each NAME MODE 'TOKEN=NAME'...: each token on a line of its own under book
# B and page 7, each giving one object line with that name.
each() {
    local name=$1 mode=$2 input='h\n%B #7\n' out='' pair
    shift 2
    for pair in "$@"; do
        input+="${pair%%=*}\n"
        out+=$(obj "${pair#*=}" B 7)
    done
    check "$name" "$input" "$out" '' 0 "$mode"
}

# golden CASE_DIR: a case kept as files (args, stdin, stdout, stderr, status).
golden() {
    local dir=$1 args=()
    [ -f "$dir/args" ] && read -r -a args <"$dir/args"
    save_seed "$(basename "$(dirname "$dir")")-$(basename "$dir")" "$dir/stdin" "${args[@]}"
    "$SKYNOTE" "${args[@]}" <"$dir/stdin" >"$work/out" 2>"$work/err"
    local status=$?
    cp "$dir/stdout" "$work/out.want"
    cp "$dir/stderr" "$work/err.want"
    verdict "$(basename "$dir")" $status "$(cat "$dir/status")"
}

finish() {
    echo "$passed passed, $failed failed, $skipped skipped"
    [ $failed = 0 ]
}
