#!/usr/bin/env bash
# CI's package step on a machine whose mirror is half synced: stand-ins for
# dpkg (nothing installed yet) and apt-get (the update fails as a mirror in
# the middle of a sync makes it fail) run .ci/run up to its first build
# command, a stand-in cmake that fails, so that the run stops there.  A failed update must
# not stop the run; a failed install must.
#   package_step.sh SOURCE_DIR
set -u
source_dir=${1:?usage: $0 SOURCE_DIR}
work=${SKYNOTE_TEST_DIR:?names the folder for the files of this test}
rm -rf "$work" && mkdir -p "$work/bin" || exit 1
ulimit -f 1024
failed=0

stand_in() { # NAME BODY
    printf '#!/bin/sh\n%s\n' "$2" >"$work/bin/$1"
    chmod +x "$work/bin/$1"
}
stand_in dpkg 'case $1 in --print-foreign-architectures) echo arm64; echo armhf ;; -s) exit 1 ;; esac; exit 0'
stand_in apt-get "echo \"apt-get \$*\" >>\"$work/calls\"
case \$1 in
update) echo 'E: Failed to fetch http://deb.example.org/binary-armhf/Packages.xz  File has unexpected size (359552 != 360800). Mirror sync in progress?'; exit 100 ;;
install) exit \${INSTALL_STATUS:-0} ;;
esac"
stand_in sleep 'exit 0'
stand_in cmake "echo \"cmake \$*\" >>\"$work/calls\"; echo 'the build starts'; exit 7"

# run_case NAME INSTALL_STATUS WANT_STATUS WANT_CMAKE_CALLS
run_case() {
    local name=$1 want_status=$3 want_builds=$4
    : >"$work/calls"
    INSTALL_STATUS=$2 PATH="$work/bin:$PATH" bash "$source_dir/.ci/run" >"$work/log" 2>&1 </dev/null
    local status=$? ok=1
    [ "$status" = "$want_status" ] || { ok=0; echo "  status $status, want $want_status"; }
    [ "$(grep -c '^apt-get update' "$work/calls")" = 2 ] || { ok=0; echo "  the update was not tried twice"; }
    grep -q '^apt-get install -y .*libc6:armhf' "$work/calls" || { ok=0; echo "  no install of the whole list"; }
    grep -q 'apt-get update failed (attempt 2 of 2)' "$work/log" || { ok=0; echo "  the log does not tell of the failed update"; }
    [ "$(grep -c '^cmake' "$work/calls")" = "$want_builds" ] || { ok=0; echo "  cmake calls: $(grep -c '^cmake' "$work/calls"), want $want_builds"; }
    if [ $ok = 1 ]; then
        echo "ok: $name"
    else
        failed=$((failed + 1))
        echo "FAIL: $name"; sed 's/^/  | /' "$work/log" | tail -20
    fi
}

run_case update-fails-install-works 0 1 1
run_case update-fails-install-fails 100 100 0
rm -rf "$work"
[ $failed = 0 ]
