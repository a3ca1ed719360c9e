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

# The last token needs no line feed.
check no-final-lf 'h\n5 6' "$(obj 'NGC   5' '' '')$(obj 'NGC   6' '' '')" '' 0 d
check lone-lf '\n' '' '' 0 d

# Tab, vertical tab and form feed separate tokens; 0x80 to 0xFF and NUL do not.
check white-space 'h\n1\t2\v3\f4  \n\n5' \
    "$(obj 'NGC   1' '' '')$(obj 'NGC   2' '' '')$(obj 'NGC   3' '' '')$(obj 'NGC   4' '' '')$(obj 'NGC   5' '' '')" '' 0 d
check high-bytes 'h\n%B\xfc #\xa0 \xfc\xa0\xff~x\n' \
    '\xfc\xa0\xff x                         B\xfc         \xa0\r\n' '' 0 d
check nul-byte 'h\n%\x00B 1\x002\n' \
    'NGC 1\x002                       \x00B          \r\n' '' 0 d

# A failed write or read is reported, never passed off as success.
printf '%b' 'h\n5\n' >"$work/in"
: >"$work/out.want"
printf '%b' 'Schreibfehler auf der Standardausgabe\r\n' >"$work/err.want"
"$SKYNOTE" d <"$work/in" >/dev/full 2>"$work/err"
status=$?; : >"$work/out"
verdict dev-full $status 1
"$SKYNOTE" d <"$work/in" >&- 2>"$work/err"
verdict closed-stdout $? 1

printf '%b' 'Lesefehler auf der Standardeingabe\r\n' >"$work/err.want"
"$SKYNOTE" d </ >"$work/out" 2>"$work/err"
verdict directory-input $? 1

finish
