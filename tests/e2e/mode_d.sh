#!/usr/bin/env bash
# Mode d: markers, every shorthand with its field widths, and the columns.
. "$(dirname "$0")/lib.sh"

# The road of one object: book, page, then the object on the same line.
check atlas 'hdr\n%Atlas #12 31\n' \
    'NGC  31                       Atlas     12\r\n' '' 0 d

each ngc d '12=NGC  12' '0=NGC   0' '123=NGC 123' '1234=NGC1234' '12345=NGC12345' \
    '1a=NGC  1a' '1~Del=NGC1 Del'
each messier d 'm3=M  3 ' 'm31=M 31 ' 'm110=M110 ' 'm1234=M1234' 'm12345=M12345' 'm3a=M 3a '
each ic d 'i5=IC   5' 'i12=IC  12' 'i1234=IC1234' 'i12345=IC12345' 'i5a=IC  5a'
each pgc-ugc-b d 'p1234=PGC1234' 'u5=UGC5' 'b33=B33' 'b3~x=B3 x'
# Tokens of 7 to 9 bytes, the short way's longest, and of 15 to 17 bytes,
# the longest that one look at 16 bytes finds.
each lengths d '1234567=NGC1234567' '~abcdef= abcdef' 'u1234567=UGC1234567' '12345678=NGC12345678' \
    'i12345678=IC12345678' '"1~Del~xy=1 Del xy' 'p12345678901234=PGC12345678901234' \
    'm123456789012345=M123456789012345' 'b1234567890123456=B1234567890123456'
each quoted d '"1~Del=1 Del' '"abc="abc' '"="'
each plain d 'm=m' 'mars=mars' 'ngc7000=ngc7000' 'bode=bode' 'p=p' 'M31=M31' \
    'I5=I5' 'x~y~=x y ' '~=' 'pegasus=pegasus'

# Book and page hold until the next marker and stay as typed.
check markers-persist 'h\n%Buch_1\n#1~2 5 6\n#3\n7\n%\n8\n#\n9\n' \
    "$(obj 'NGC   5' Buch_1 1~2)$(obj 'NGC   6' Buch_1 1~2)$(obj 'NGC   7' Buch_1 3)$(obj 'NGC   8' '' 3)$(obj 'NGC   9' '' '')" '' 0 d
check start-empty 'h\n5 %B 6\n' "$(obj 'NGC   5' '' '')$(obj 'NGC   6' B '')" '' 0 d

name40=abcdefghijklmnopqrstuvwxyz0123456789ABCD
# White runs of 15 to 17 and of 63 bytes, also before a word that runs on
# past 64 bytes of input.
blanks15=$(printf ' %.0s' {1..15}) tabs16=$(printf '\\t%.0s' {1..16})
check white-runs "h\n$blanks15$blanks15$blanks15$blanks15   12$blanks15${name40}EF$tabs16 5 \v\f$blanks15 6\n" \
    "$(obj 'NGC  12' '' '')${name40}EF\r\n$(obj 'NGC   5' '' '')$(obj 'NGC   6' '' '')" '' 0 d

# Later fields overwrite earlier ones; nothing goes past column 41.
check book-meets-page 'h\n%abcdefghijkl #12 5\n' \
    'NGC   5                       abcdefghij12\r\n' '' 0 d
check book-cut 'h\n%abcdefghijklmnopq 5\n' \
    'NGC   5                       abcdefghijkl\r\n' '' 0 d
check long-name-book-page "h\n%B #7 $name40\n" \
    'abcdefghijklmnopqrstuvwxyz0123B56789ABCD 7\r\n' '' 0 d
check name-fills-room "h\n%B #7 ${name40:0:30}\n" "$(obj "${name40:0:30}" B 7)" '' 0 d
check name-one-too-long "h\n%B #7 ${name40:0:31}\n" "$(obj "${name40:0:30}" B 7)" '' 0 d
check long-name-alone "h\n${name40}EFGH\n" \
    'abcdefghijklmnopqrstuvwxyz0123456789ABCDEF\r\n' '' 0 d
# A page of 27 bytes leaves 15 columns: too few for the short way's 16.
check page-27 'h\n#abcdefghijklmnopqrstuvwxyz0 x5 m\n' \
    'x5             abcdefghijklmnopqrstuvwxyz0\r\nm              abcdefghijklmnopqrstuvwxyz0\r\n' '' 0 d
check page-42 'h\n#abcdefghijklmnopqrstuvwxyz0123456789ABCDEF 5\n' \
    'abcdefghijklmnopqrstuvwxyz0123456789ABCDEF\r\n' '' 0 d
check page-43 'h\n#_abcdefghijklmnopqrstuvwxyz0123456789ABCDEF 5\n' \
    'abcdefghijklmnopqrstuvwxyz0123456789ABCDEF\r\n' '' 0 d

# Tokens of any length are one token; the line shows what fits.
long=$(printf 'x%.0s' {1..5000})
digits=$(printf '7%.0s' {1..5000})
check long-token "h\n${long} 5\n" "${long:0:42}\r\n$(obj 'NGC   5' '' '')" '' 0 d
check long-number "h\n${digits}\n" "NGC${digits:0:39}\r\n" '' 0 d
check long-book "h\n%${long}y #1 5\n" "$(obj 'NGC   5' xxxxxxxxxxx 1)" '' 0 d
check long-page "h\n#${digits}ab 5\n" "${digits:0:40}ab\r\n" '' 0 d

# Words that span several input blocks keep the same parts.
huge=$(head -c 200000 /dev/zero | tr '\0' 7)
check page-across-blocks "h\n#${huge}ab 5\n" "${huge:0:40}ab\r\n" '' 0 d
check book-across-blocks "h\n%${huge}ab #1 5\n" "$(obj 'NGC   5' 77777777777 1)" '' 0 d
check name-across-blocks "h\n%B ${huge}\n" "NGC${huge:0:27}B${huge:0:11}\r\n" '' 0 d

finish
