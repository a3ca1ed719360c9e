#!/usr/bin/env bash
# The page in chromium against the native build: every end-to-end case
# (saved as an input by the e2e scripts, run here with the native binary),
# every fuzz seed and regression; with SKYNOTE_LARGE_LIST also that list.
#   run.sh PAGE_DIR NATIVE_SKYNOTE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
page=${1:?usage: $0 PAGE_DIR NATIVE_SKYNOTE}
native=${2:?usage: $0 PAGE_DIR NATIVE_SKYNOTE}
work=${SKYNOTE_TEST_DIR:?names the folder for the files of this test}
rm -rf "$work" && mkdir -p "$work/seeds"
ulimit -f 1048576 # the large list's output, and no more
for script in "$here"/../e2e/*.sh; do
    [ "$(basename "$script")" = lib.sh ] && continue
    SKYNOTE_CORPUS="$work/seeds" SKYNOTE_TEST_DIR="$work/e2e" bash "$script" "$native" >/dev/null
done
large=()
[ -n "${SKYNOTE_LARGE_LIST:-}" ] && large=(--large "$SKYNOTE_LARGE_LIST")
node "$here/page_tests.mjs" "$page" "$native" "${large[@]}" \
    "$work/seeds" "$here/../../fuzz/corpus" "$here/../../fuzz/regressions"
