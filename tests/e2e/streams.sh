#!/usr/bin/env bash
# The text streams: CR removal, Ctrl-Z, white space, raw bytes, I/O failures.
. "$(dirname "$0")/lib.sh"

# Every CR goes, wherever it stands; every LF comes out as CR LF.
check cr-in-token 'h\r\n3\r1\r\n' "$(obj 'NGC  31' '' '')" '' 0 d
check cr-only-separator 'h\n5\r6\n' "$(obj 'NGC  56' '' '')" '' 0 d
check cr-in-header 'h\rx\r\n5' "$(obj 'NGC   5' '' '')" '' 0 d

# The first Ctrl-Z ends the input.
check ctrl-z 'h\n5 \x1a 6\n' "$(obj 'NGC   5' '' '')" '' 0 d
check ctrl-z-in-token 'h\n56\x1a7\n' "$(obj 'NGC  56' '' '')" '' 0 d
check ctrl-z-in-header 'h\x1a\n5\n' '' '' 0 d
check ctrl-z-invalid-mode 'h\x1a\n5\n' '' 'Ung\xfcltiger Modus, nur Llhmd erlaubt\r\n' 255 x
# ... also when the bytes after it come in a later read.
blanks=$(printf ' %.0s' {1..70000})
check ctrl-z-later-read "h\n5\x1a${blanks}6\n" "$(obj 'NGC   5' '' '')" '' 0 d

# A read that brings nothing but CRs is not the end of the input.
crs=$(printf '\\r%.0s' {1..200000})
check only-crs-read "h\n5${crs} 6\n" "$(obj 'NGC   5' '' '')$(obj 'NGC   6' '' '')" '' 0 d
{ printf 'h\n5'; sleep 0.2; printf '\r'; sleep 0.2; printf '6\n'; } | "$SKYNOTE" d >"$work/out" 2>"$work/err"
printf '%b' "$(obj 'NGC  56' '' '')" >"$work/out.want"; : >"$work/err.want"
verdict lone-cr-read $? 0

# The last token needs no line feed.
check no-final-lf 'h\n5 6' "$(obj 'NGC   5' '' '')$(obj 'NGC   6' '' '')" '' 0 d
check lone-lf '\n' '' '' 0 d

# Tab, vertical tab and form feed separate tokens; 0x80 to 0xFF and NUL do not.
check white-space 'h\n1\t2\v3\f4  \n\n5' \
    "$(obj 'NGC   1' '' '')$(obj 'NGC   2' '' '')$(obj 'NGC   3' '' '')$(obj 'NGC   4' '' '')$(obj 'NGC   5' '' '')" '' 0 d
check high-bytes 'h\n%B\xfc #\xa0 \xfc\xa0\xff~x \x89abc\x8a\x8b\x8c\x8d\xa0defghijklmno\xa0\n' \
    '\xfc\xa0\xff x                         B\xfc         \xa0\r\n\x89abc\x8a\x8b\x8c\x8d\xa0defghijklmno\xa0        B\xfc         \xa0\r\n' '' 0 d
check nul-byte 'h\n%\x00B 1\x002\n' \
    'NGC 1\x002                       \x00B          \r\n' '' 0 d

# A word whose first 1024 bytes end exactly where a read ends.
head -c 2000000 /dev/zero | tr '\0' y >"$work/rest"
x1024=$(printf 'x%.0s' {1..1024})
{ printf 'h\n%s' "$x1024"; sleep 0.3; cat "$work/rest"; printf ' 5\n'; } | "$SKYNOTE" d >"$work/out" 2>"$work/err"
printf '%b' "${x1024:0:42}\r\n$(obj 'NGC   5' '' '')" >"$work/out.want"; : >"$work/err.want"
verdict read-ends-at-1024 $? 0

# A failed write or read is reported once, never passed off as success;
# also when the failure shows during the run (many blocks) and again at the end.
printf '%b' 'h\n5\n' >"$work/in"
: >"$work/out.want"
printf '%b' 'Schreibfehler auf der Standardausgabe\r\n' >"$work/err.want"
if skip_on web closed-stdout "node opens a closed standard stream on /dev/null before the module runs"; then
    "$SKYNOTE" d <"$work/in" >&- 2>"$work/err"
    status=$?; : >"$work/out"
    verdict closed-stdout $status 1
fi
{ echo h; seq 3000; } >"$work/in"
"$SKYNOTE" d <"$work/in" >/dev/full 2>"$work/err"
status=$?; : >"$work/out"
verdict dev-full $status 1
# Nothing written to a closed standard output: nothing failed.
: >"$work/err.want"
"$SKYNOTE" d </dev/null >&- 2>"$work/err"
verdict closed-stdout-unused $? 0

# A diagnostic that cannot be written fails the run, after all the data.
printf '%b' 'h\nx n 1 2\n' >"$work/in"
printf '%b' 'NGC;1;;Gx;;;ZQ;2;;;;\r\n' >"$work/out.want"
: >"$work/err.want"
"$SKYNOTE" l <"$work/in" >"$work/out" 2>/dev/full
status=$?; : >"$work/err"
verdict lost-diagnostic $status 1

# Descriptors left non-blocking by the pipeline: wait, do not fail.
nonblocking() {
    perl -MFcntl -e 'for my $fh (*STDIN, *STDOUT) { fcntl($fh, F_SETFL, fcntl($fh, F_GETFL, 0) | O_NONBLOCK) or die }
        exec @ARGV or die' "$@"
}
if skip_on windows non-blocking "Windows handles have no O_NONBLOCK: the emulator's pipes, not skynote.exe, would be tested"; then
    { echo h; seq 3000; } >"$work/in"
    "$SKYNOTE" d <"$work/in" >"$work/out.want"
    { head -1 "$work/in"; sleep 0.3; tail -n +2 "$work/in"; } | nonblocking "$SKYNOTE" d 2>"$work/err" | { sleep 0.3; cat; } >"$work/out"
    verdict non-blocking "${PIPESTATUS[1]}" 0
fi

: >"$work/out.want"
printf '%b' 'Lesefehler auf der Standardeingabe\r\n' >"$work/err.want"
"$SKYNOTE" d </ >"$work/out" 2>"$work/err"
verdict directory-input $? 1

finish
