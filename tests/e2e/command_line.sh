#!/usr/bin/env bash
# Argument checks, mode letters and the header line.
. "$(dirname "$0")/lib.sh"

usage='Benutzung: SKYNOTE m|d|l|L|h <input > output\r\n'
invalid='Ung\xfcltiger Modus, nur Llhmd erlaubt\r\n'

# Wrong argument count: usage only, nothing on stdout.
check no-argument   'h\n12\n' '' "$usage" 1
check two-arguments 'h\n12\n' '' "$usage" 1 d d

# Invalid modes: the header is consumed first, then status 255.
check mode-x      'h\n12\n' '' "$invalid" 255 x
check mode-empty  'h\n12\n' '' "$invalid" 255 ''
check mode-upper-d 'h\n12\n' '' "$invalid" 255 D
check mode-upper-m 'h\n12\n' '' "$invalid" 255 M
check mode-upper-h 'h\n12\n' '' "$invalid" 255 H
check mode-x-empty-input '' '' "$invalid" 255 x
# ... and with a slow pipe, not before the header line has come.
mkfifo "$work/fifo"
"$SKYNOTE" x <"$work/fifo" >"$work/out" 2>"$work/err" &
exec 3>"$work/fifo"
sleep 0.3
early=$(wc -c <"$work/err")
printf 'h\n' >&3
exec 3>&-
wait $!
status=$?
[ "$early" = 0 ] || status="a message before the header"
printf '%b' "$invalid" >"$work/err.want"; : >"$work/out.want"
verdict mode-x-slow-header "$status" 255

# Only the first byte of the argument counts.
check mode-dm 'h\n12\n' "$(obj 'NGC  12' '' '')" '' 0 dm
check mode-md 'h\nmare\n' "$(obj 'Mare' '' '')" '' 0 md

# Empty input, or a header alone: nothing at all in any mode.
for mode in m d l L; do
    check "empty-input-$mode" '' '' '' 0 $mode
    check "header-only-$mode" '%%Buch #7 12 x n 1 2 3\n' '' '' 0 $mode
    check "header-no-lf-$mode" '%%Buch #7 12' '' '' 0 $mode
done

# The header is never read as tokens, however long it is.
check header-markers '%Atlas #7 12\n31\n' "$(obj 'NGC  31' '' '')" '' 0 d
long_header=$(printf 'x%.0s' {1..3000})
check header-3000 "$long_header 99\n5\n" "$(obj 'NGC   5' '' '')" '' 0 d

finish
