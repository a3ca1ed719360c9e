# Shared by the end-to-end groups: runs the built binary on exact input bytes
# and compares exact stdout bytes, stderr bytes and exit status.
# Byte strings are printf %b strings: \r, \n, \t, \x00, \x1a and \xfc spell
# the bytes exactly, and a % is an ordinary character.

SKYNOTE=${1:?usage: $0 path/to/skynote}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

# Both outputs as hex, side by side in the log, when a case fails.
show_diff() {
    echo "  want $1:"; od -An -c "$2" | head -20
    echo "  got $1:"; od -An -c "$3" | head -20
}

# verdict NAME STATUS WANT_STATUS: compares $work/{out,err} with the wanted files.
verdict() {
    local name=$1 status=$2 want_status=$3 ok=1
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

# check NAME INPUT STDOUT STDERR STATUS [ARG...]
check() {
    local name=$1 input=$2 out=$3 err=$4 status=$5
    shift 5
    printf '%b' "$input" >"$work/in"
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

# golden CASE_DIR: a case kept as files (args, stdin, stdout, stderr, status).
golden() {
    local dir=$1 args=()
    [ -f "$dir/args" ] && read -r -a args <"$dir/args"
    "$SKYNOTE" "${args[@]}" <"$dir/stdin" >"$work/out" 2>"$work/err"
    local status=$?
    cp "$dir/stdout" "$work/out.want"
    cp "$dir/stderr" "$work/err.want"
    verdict "$(basename "$dir")" $status "$(cat "$dir/status")"
}

finish() {
    echo "$passed passed, $failed failed"
    [ $failed = 0 ]
}
