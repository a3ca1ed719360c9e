#!/usr/bin/env bash
# The page in chromium against the native build: every end-to-end case
# (saved as an input by the e2e scripts, run here with the native binary),
# every fuzz seed and regression, and the page's own cases; with
# SKYNOTE_LARGE_CASES=1 also lists of 100 MB and more (large_tests.mjs).
#   run.sh PAGE_DIR NATIVE_SKYNOTE MODULE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
page=${1:?usage: $0 PAGE_DIR NATIVE_SKYNOTE MODULE}
native=${2:?usage: $0 PAGE_DIR NATIVE_SKYNOTE MODULE}
module=${3:?usage: $0 PAGE_DIR NATIVE_SKYNOTE MODULE}
work=${SKYNOTE_TEST_DIR:?names the folder for the files of this test}
rm -rf "$work" && mkdir -p "$work/seeds"
trap 'rm -rf "$work"' EXIT
# The large cases' outputs go through the browser's downloads; no file may
# grow past 4 GiB.
ulimit -f $((4 * 1024 * 1024))
for script in "$here"/../e2e/*.sh; do
    [ "$(basename "$script")" = lib.sh ] && continue
    SKYNOTE_CORPUS="$work/seeds" SKYNOTE_TEST_DIR="$work/e2e" bash "$script" "$native" >/dev/null
done
status=0
node "$here/page_tests.mjs" "$page" "$native" "$work/seeds" "$here/../../fuzz/corpus" "$here/../../fuzz/regressions" ||
    status=1
if [ "${SKYNOTE_LARGE_CASES:-0}" = 1 ]; then
    node "$here/large_tests.mjs" "$page" "$native" "$module" || status=1
fi
exit $status
