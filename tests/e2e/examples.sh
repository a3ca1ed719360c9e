#!/usr/bin/env bash
# The shipped examples and other multi-line cases, kept as golden files:
# one folder per case (args, stdin, stdout, stderr, status), grouped by mode.
. "$(dirname "$0")/lib.sh"

for dir in "$HERE"/../golden/*/*/; do
    golden "${dir%/}"
done

finish
