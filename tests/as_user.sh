#!/usr/bin/env bash
# Runs a test program as an unprivileged user (when started as root), so that
# file permissions apply to it. The program and what it reads are copied to a
# folder that user can reach.
set -euo pipefail
program=$1
shift
if [ "$(id -u)" -ne 0 ]; then
    exec "$program" "$@"
fi
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
chmod 755 "$stage"
cp "$program" "$stage/"
[ -n "${LSAN_SUPPRESSIONS:-}" ] && cp "$LSAN_SUPPRESSIONS" "$stage/lsan.supp"
cd "$stage"
setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env HOME="$stage" TMPDIR=/tmp LSAN_OPTIONS="suppressions=$stage/lsan.supp:print_suppressions=0" \
    "$stage/$(basename "$program")" "$@"
