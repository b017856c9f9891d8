#!/usr/bin/env bash
# Runs a command as a native Wayland client of a headless Weston of its own.
#
#   tests/with_weston.sh COMMAND...
set -uo pipefail
runtime=$(mktemp -d)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=varnel-test-$$ QT_QPA_PLATFORM=wayland
unset DISPLAY
weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 >/dev/null 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$runtime"' EXIT
for _ in $(seq 200); do
    [ -S "$runtime/$WAYLAND_DISPLAY" ] && break
    sleep 0.1
done
[ -S "$runtime/$WAYLAND_DISPLAY" ] || { echo "weston did not start"; exit 1; }
"$@"
