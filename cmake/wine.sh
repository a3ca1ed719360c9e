#!/bin/sh
# The emulator of the Windows build's tests: wine, looked for when the tests
# run, so that a build folder configured before wine was installed works.
#   wine.sh PROGRAM ARG...     runs PROGRAM under wine
#   wine.sh --prefix PROGRAM   runs PROGRAM once, so that the wine prefix
#                              exists and wine's first-run messages reach
#                              no test
if ! command -v wine >/dev/null 2>&1; then
    echo "wine not found: the tests of the Windows build run skynote.exe under wine (Debian: apt-get install wine wine64)" >&2
    exit 127
fi
if [ "$1" = --prefix ]; then
    wine "$2" h </dev/null >/dev/null 2>&1
    status=$?
    # The help screen ends with status 255; anything else is wine failing.
    [ $status = 255 ] || { echo "wine $2 h: status $status, want 255" >&2; exit 1; }
    exit 0
fi
exec wine "$@"
