#!/usr/bin/env bash
# Mode m (Moon names) and mode h (the help screen).
. "$(dirname "$0")/lib.sh"

each underscores m 'mare_imbrium=Mare Imbrium' 'x_=X ' 'a__b=A  B' '_=' 'le_monnier=Le Monnier' 'zeta_z=Zeta Z'
each lengths m 'a_b_c_d=A B C D' 'a_b_c_de=A B C De' 'a_b_c_d_e=A B C D E' 'a_b_c_d_e_f_g_h=A B C D E F G H' \
    'a_b_c_d_e_f_g_hi=A B C D E F G Hi' 'a_b_c_d_e_f_g_h_i=A B C D E F G H I'
each case-kept m 'mOnS=MOnS' 'MARE=MARE' 'sinus_Iridum=Sinus Iridum' '1_a=1 A'
each tilde-ordinary m 'a~b=A~b' '"1="1' 'm31=M31' '12=12'
# A leading underscore gives a leading blank, which obj would lose.
check leading-blank 'h\n_x\n' ' X                                        \r\n' '' 0 m
check high-bytes 'h\n\xe4gypten_\xfcber\n' '\xe4gypten \xfcber                              \r\n' '' 0 m

# Book and page keep what was typed; nothing in them changes case.
check markers-as-typed 'h\n%mare_book #a_b mare\n' "$(obj Mare mare_book a_b)" '' 0 m
long=$(printf 'x_%.0s' {1..2000})
check long-token "h\n${long}\n" "$(printf 'X %.0s' {1..21})\r\n" '' 0 m

# Help: the error stream only, status 255, whatever follows the h.
help=$HERE/../golden/h/help
for arg in h hx hilfe; do
    "$SKYNOTE" "$arg" </dev/null >"$work/out" 2>"$work/err"
    status=$?
    : >"$work/out.want"
    cp "$help/stderr" "$work/err.want"
    verdict "help-$arg" $status 255
done

# Help reads nothing: with an input that never ends it still returns at once.
mkfifo "$work/fifo"
exec 3<>"$work/fifo"
"$SKYNOTE" h <&3 >"$work/out" 2>"$work/err"
verdict help-no-input $? 255
exec 3>&-

finish
