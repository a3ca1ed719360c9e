# Mode d written plainly in awk, as a user might, for the benchmark: one
# 42-column object line per object token, CR LF line ends.  It assumes what
# the bench input guarantees: no CR or Ctrl-Z, names of at most 30 columns.
NR == 1 { next }
{
    for (i = 1; i <= NF; i++) {
        t = $i
        c = substr(t, 1, 1)
        if (c == "%") { book = substr(t, 2); continue }
        if (c == "#") { page = substr(t, 2); continue }
        gsub(/~/, " ", t)
        rest = substr(t, 2)
        digit = substr(t, 2, 1) ~ /[0-9]/
        if (c == "m" && digit) name = sprintf("M%-4s", sprintf("%3s", rest))
        else if (c == "b" && digit) name = "B" rest
        else if (c == "\"" && digit) name = rest
        else if (c == "p" && digit) name = "PGC" rest
        else if (c == "i" && digit) name = sprintf("IC%4s", rest)
        else if (c == "u" && digit) name = "UGC" rest
        else if (c ~ /[0-9]/) name = sprintf("NGC%4s", t)
        else name = t
        line = sprintf("%-30s", name) substr(sprintf("%-12s", book), 1, 12)
        printf "%s%s\r\n", substr(line, 1, 42 - length(page)), page
    }
}
