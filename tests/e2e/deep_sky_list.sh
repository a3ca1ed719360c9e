#!/usr/bin/env bash
# Modes l and L: percent lines, normal lines, code tables and diagnostics.
. "$(dirname "$0")/lib.sh"

setup='h\n% A 7 T 80 5.5\n'
bad_percent() { printf 'fehlerhafte %%-Zeile: %s\\r\\n' "$1"; }
bad_normal() { printf 'fehlerhafte Normalzeile: %s\\r\\n' "$1"; }

# One observation under a complete percent line.
check full-l "${setup}x n 891 60 3 hell OIII\n" 'NGC;891;;Gx;T;80;ZQ;60;5.5;3;hell;OIII\r\n' '' 0 l
check full-L "${setup}x n 891 60 3 hell OIII\n" '\r\n%A\r\n#7 NGC~891 ' '' 0 L
check without-bem-filter "${setup}g m 13 40 4\n" 'M;13;;Gb;T;80;ZQ;40;5.5;4;;\r\n' '' 0 l
check percent-bem "${setup}p n 7293 50 2 % OIII\n" 'NGC;7293;;PN;T;80;ZQ;50;5.5;2;;OIII\r\n' '' 0 l
check percent-word-bem "${setup}p n 7293 50 2 %hell OIII\n" 'NGC;7293;;PN;T;80;ZQ;50;5.5;2;;OIII\r\n' '' 0 l
check extra-words "${setup}o i 4665 30 1 a b c d e f g\no i 4665 30 1 a b c d e f g h i j k l m n o p q r s t u v w x y z\n" \
    'IC;4665;;OC;T;80;ZQ;30;5.5;1;a;b\r\nIC;4665;;OC;T;80;ZQ;30;5.5;1;a;b\r\n' '' 0 l
check tabs "${setup}b\tn\t1\t2\t3\n" 'NGC;1;;Nb;T;80;ZQ;2;5.5;3;;\r\n' '' 0 l
# Bytes 0x80 to 0xFF are word bytes, in short lines and in long ones.
high='x n\x89 1\xa0 2\x8d 3\x8a hell\x8b\x8c OIII\x89\x8a\x8b\x8c\x8d\xa0'
high_row='n\x89;1\xa0;;Gx;T;80;ZQ;2\x8d;5.5;3\x8a;hell\x8b\x8c;OIII\x89\x8a\x8b\x8c\x8d\xa0'
check high-bytes "${setup}$high\n${high}_padding_to_64_bytes_\n" \
    "$high_row\r\n${high_row}_padding_to_64_bytes_\r\n" '' 0 l

# A field with a double quote is quoted for spreadsheets; ; and = stay as typed.
check quotes "${setup}"'x n 1 2 3 "hell\nx "n 2 2 3 a"b"" F\nx n 3 2 3 =1;2\n% A 7 T" 80 5.5\nx n 4 2 3\n% A 7 T 80 5"5\nx n 5 2 3\n% A 7 T 80 5.5\nx n 6 2 3 "a_remark_long_enough_for_a_line_of_64_bytes_\n' \
    'NGC;1;;Gx;T;80;ZQ;2;5.5;3;"""hell";\r\n"""n";2;;Gx;T;80;ZQ;2;5.5;3;"a""b""""";F\r\nNGC;3;;Gx;T;80;ZQ;2;5.5;3;=1;2;\r\nNGC;4;;Gx;"T""";80;ZQ;2;5.5;3;;\r\nNGC;5;;Gx;T;80;ZQ;2;"5""5";3;;\r\nNGC;6;;Gx;T;80;ZQ;2;5.5;3;"""a_remark_long_enough_for_a_line_of_64_bytes_";\r\n' '' 0 l
check quotes-L "${setup}"'x "n 1 2 3\n' '\r\n%A\r\n#7 "n~1 ' '' 0 L

# Fields at the edge of the short way's 16-byte copies, and a long setup.
f=abcdefghijklmno g=abcdefghijklmnopqrst
check fields-15-20 "${setup}$f $f $f $f $f $f $g\n% A 7 Dobson_Newton_Reflektor_2 203 5.5\n$f $f $f $f $f $f $f\n" \
    "$f;$f;;$f;T;80;ZQ;$f;5.5;$f;$f;$g\r\n$f;$f;;$f;Dobson_Newton_Reflektor_2;203;ZQ;$f;5.5;$f;$f;$f\r\n" '' 0 l
check fields-15-20-L "${setup}x $f $f 1 1\nx $g $g 1 1\n" "\r\n%A\r\n#7 $f~$f $g~$g " '' 0 L

# Lines of 56 to 58 bytes (the short way takes 56 at the most) of 6 to 8
# words, one of them with a quote.
p40=abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN
lines="${setup}x n 891 60 3 ${p40}ABC\nx n 891 60 3 hell ${p40%N}\nx n 891 60 3 \"hell OIII ${p40:0:34}\n"
check line-lengths "$lines" "NGC;891;;Gx;T;80;ZQ;60;5.5;3;${p40}ABC;\r\nNGC;891;;Gx;T;80;ZQ;60;5.5;3;hell;${p40%N}\r\nNGC;891;;Gx;T;80;ZQ;60;5.5;3;\"\"\"hell\";OIII\r\n" '' 0 l
check line-lengths-L "$lines" '\r\n%A\r\n#7 NGC~891 NGC~891 NGC~891 ' '' 0 L

# Only whole lower-case table words are codes, and each table has its own.
check codes 'h\nd m 1 2 3\nD n 1 2 3\ndn i 1 2 3\nm b 1 2 3\nGx ugc 1 2 3\no Mel 1 2 3\n' \
    'M;1;;DN;;;ZQ;2;;3;;\r\nNGC;1;;D;;;ZQ;2;;3;;\r\nIC;1;;dn;;;ZQ;2;;3;;\r\nb;1;;m;;;ZQ;2;;3;;\r\nugc;1;;Gx;;;ZQ;2;;3;;\r\nMel;1;;OC;;;ZQ;2;;3;;\r\n' '' 0 l

# Malformed lines are reported, quoted whole, and still used.
check short-normal-l "${setup}x n 1 60\n" 'NGC;1;;Gx;T;80;ZQ;60;5.5;;;\r\n' "$(bad_normal 'x n 1 60')" 0 l
check short-normal-L "${setup}x n 1\n" '\r\n%A\r\n#7 NGC~1 ' "$(bad_normal 'x n 1')" 0 L
check short-percent-l "${setup}% B 9\nx n 1 2 3\n" 'NGC;1;;Gx;T;80;ZQ;2;5.5;3;;\r\n' "$(bad_percent '% B 9')" 0 l
check short-percent-L "${setup}% B 9\n% B 10 T 80\nx n 1 2 3\n" '\r\n%A\r\n#7 \r\n%B\r\n#9 \r\n#10 NGC~1 ' \
    "$(bad_percent '% B 9')$(bad_percent '% B 10 T 80')" 0 L
check lone-percent 'h\n%\n' '\r\n# ' "$(bad_percent '%')" 0 L
check cr-lf-diagnostic 'h\r\n% A\r\n' '\r\n%A\r\n# ' "$(bad_percent '% A')" 0 L

# Book changes and repeats: only a new book is written again.
check same-book "${setup}5 n 1 2 3\n% A 8 T 80 5.5\n5 n 2 2 3\n% B 8 T 80 5.5\n% A 8 T 80 5.5\n" \
    '\r\n%A\r\n#7 NGC~1 \r\n#8 NGC~2 \r\n%B\r\n#8 \r\n%A\r\n#8 ' '' 0 L

check prefix-books 'h\n% Atlas2 1 T 80 5\n% Atlas 2 T 80 5\n% Atlas2 3 T 80 5\n' \
    '\r\n%Atlas2\r\n#1 \r\n%Atlas\r\n#2 \r\n%Atlas2\r\n#3 ' '' 0 L
check no-book "${setup}%\n" '\r\n%A\r\n#7 \r\n#7 ' "$(bad_percent '%')" 0 L

# Lines before the first percent line share the stream's first line.
check before-percent-L 'h\nx n 1 2 3\nx n 2 2 3\n% A 7 T 80 5.5\n' 'NGC~1 NGC~2 \r\n%A\r\n#7 ' '' 0 L
check before-percent-l 'h\nx n 1 2 3\n' 'NGC;1;;Gx;;;ZQ;2;;3;;\r\n' '' 0 l

# Blank lines give nothing; a word that only begins with % is no marker.
check blank-lines "${setup}\n  \t \n\n" '' '' 0 l
check not-percent-lines "${setup}%% n 1 2 3\n%x n 2 2 3\n" '\r\n%A\r\n#7 NGC~1 NGC~2 ' '' 0 L
check no-final-lf "${setup}x n 1 2 3" 'NGC;1;;Gx;T;80;ZQ;2;5.5;3;;\r\n' '' 0 l

# A line of any length stays one line and is quoted whole; this one of
# 4070 bytes ends its message's first 4096 bytes with the line end.
long=$(printf 'w%.0s' {1..4064})
check long-line-l "${setup}x n $long 2\n" "NGC;$long;;Gx;T;80;ZQ;2;5.5;;;\r\n" "$(bad_normal "x n $long 2")" 0 l
check long-book-L "h\n% $long 1 T 80 5.5\nx n 1 2 3\n" "\r\n%$long\r\n#1 NGC~1 " '' 0 L

# With both streams in one file, a message follows the whole 512-byte blocks.
shared() { # NAME INPUT WANT MODE
    printf '%b' "$2" >"$work/in"
    printf '%b' "$3" >"$work/out.want"
    : >"$work/err.want"
    "$SKYNOTE" "$4" <"$work/in" >"$work/out" 2>&1
    local status=$?
    : >"$work/err"
    verdict "$1" $status 0
}
shared small-order "${setup}x n 1 2 3\nbad\n" \
    "$(bad_normal bad)NGC;1;;Gx;T;80;ZQ;2;5.5;3;;\r\n;;;bad;T;80;ZQ;;5.5;;;\r\n" l
# ... also after many buffers of rows written in pieces (remarks of 16 to
# 30 bytes).
awk 'BEGIN { print "h"; print "% A 7 T 80 5.5"
    for (i = 0; i < 1500; i++) printf "x n %d 2 3 %s\n", i, substr("bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb", 1, 16 + i % 15)
    print "bad" }' >"$work/in"
awk 'NR > 2 && $1 == "x" { printf "NGC;%s;;Gx;T;80;ZQ;2;5.5;3;%s;\r\n", $3, $6 }' "$work/in" >"$work/rows"
size=$(stat -c %s "$work/rows")
blocks=$((size - size % 512))
{ head -c $blocks "$work/rows"; printf '%b' "$(bad_normal bad)"; tail -c +$((blocks + 1)) "$work/rows"
    printf '%b' ';;;bad;T;80;ZQ;;5.5;;;\r\n'; } >"$work/out.want"
: >"$work/err.want"
"$SKYNOTE" l <"$work/in" >"$work/out" 2>&1
status=$?; : >"$work/err"
verdict large-order $status 0

# Rows that cross the end of the output buffer stay whole, and one ends
# exactly at its end (64 KiB), where the short way copies past it.
rows() { for _ in $(seq "$1"); do printf '%s' "$2"; done; }
check many-rows "h\n$(rows 11 'x n 10 2 3\n')$(rows 4000 'x n 1 2 3\n')" \
    "$(rows 11 'NGC;10;;Gx;;;ZQ;2;;3;;\r\n')$(rows 4000 'NGC;1;;Gx;;;ZQ;2;;3;;\r\n')" '' 0 l
# Rows written in pieces: the first one shifts the others so that one meets
# the end of the output buffer with room for its words, not its separators.
b22=$(printf 'b%.0s' {1..22})
check joined-rows "h\nx n 1 2 3 $b22\n$(rows 2000 "x n 1 2 3 ${b22}b\n")" \
    "NGC;1;;Gx;;;ZQ;2;;3;$b22;\r\n$(rows 2000 "NGC;1;;Gx;;;ZQ;2;;3;${b22}b;\r\n")" '' 0 l

# The index stream reads back in mode d: one object line per observation.
printf '%b' "h\nx n 0 1 2\n% A 7 T 80 5.5\nx n 891 60 3\ng m 13 40 4\n% B 9 T 80 5.5\no i 4665 1 1\n" >"$work/list"
printf '%b' "$(obj 'NGC 891' A 7)$(obj 'M 13' A 7)$(obj 'IC 4665' B 9)" >"$work/out.want"
: >"$work/err.want"
"$SKYNOTE" L <"$work/list" | "$SKYNOTE" d >"$work/out" 2>"$work/err"
verdict round-trip $? 0

finish
