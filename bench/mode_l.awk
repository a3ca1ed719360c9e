# Mode l written plainly in awk, as a user might, for the benchmark: one
# spreadsheet row per observation, CR LF line ends, diagnostics on stderr.
# It assumes what the bench input guarantees: no CR, Ctrl-Z or double quote.
BEGIN {
    split("d DN g Gb p PN b Nb o OC x Gx", t)
    for (i = 1; i < 12; i += 2) type[t[i]] = t[i + 1]
    catalogue["m"] = "M"; catalogue["n"] = "NGC"; catalogue["i"] = "IC"
}
NR == 1 || NF == 0 { next }
$1 == "%" {
    if (NF < 6) print "fehlerhafte %-Zeile: " $0 > "/dev/stderr"
    if (NF >= 4) inst = $4
    if (NF >= 5) durchm = $5
    if (NF >= 6) fst = $6
    next
}
{
    if (NF < 5) print "fehlerhafte Normalzeile: " $0 > "/dev/stderr"
    typ = $1 in type ? type[$1] : $1
    kat = $2 in catalogue ? catalogue[$2] : $2
    bem = substr($6, 1, 1) == "%" ? "" : $6
    printf "%s;%s;;%s;%s;%s;ZQ;%s;%s;%s;%s;%s\r\n", kat, $3, typ, inst, durchm, $4, fst, $5, bem, $7
}
