#!/usr/bin/env bash
# The page in real browsers against the native build: every end-to-end
# case (saved as an input by the e2e scripts, run here with the native
# binary), every fuzz seed and regression, and the page's own cases, in
# each engine this machine has (chromium, firefox, webkit); its looks and
# accessibility, and its use offline, in chromium; with
# SKYNOTE_LARGE_CASES=1 also lists of 100 MB and more (large_tests.mjs).
# SKYNOTE_SCREENSHOTS=DIR keeps a screenshot of each theme there.
#   run.sh PAGE_DIR NATIVE_SKYNOTE MODULE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
page=${1:?usage: $0 PAGE_DIR NATIVE_SKYNOTE MODULE}
native=${2:?usage: $0 PAGE_DIR NATIVE_SKYNOTE MODULE}
module=${3:?usage: $0 PAGE_DIR NATIVE_SKYNOTE MODULE}
work=${SKYNOTE_TEST_DIR:?names the folder for the files of this test}
# WebKit's MiniBrowser needs a display: a virtual one, where xvfb-run is.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
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
while IFS=: read -r engine missing; do
    if [ -n "$missing" ]; then
        echo "SKIP: $engine ($missing)"
        continue
    fi
    node "$here/page_tests.mjs" "$engine" "$page" "$native" "$work/seeds" "$here/../../fuzz/corpus" \
        "$here/../../fuzz/regressions" || status=1
done < <(node --input-type=module -e "
    import { available_engines } from '$here/engines.mjs';
    for (const engine of available_engines()) console.log(engine.name + ':' + (engine.missing || ''));")
node "$here/look_tests.mjs" "$page" ${SKYNOTE_SCREENSHOTS:+"$SKYNOTE_SCREENSHOTS"} || status=1
node "$here/offline_tests.mjs" "$page" "$native" || status=1
if [ "${SKYNOTE_LARGE_CASES:-0}" = 1 ]; then
    node "$here/large_tests.mjs" "$page" "$native" "$module" || status=1
fi
exit $status
