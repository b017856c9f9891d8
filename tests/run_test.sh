#!/usr/bin/env bash
# ./scripts/run builds a release and opens the window.
set -euo pipefail
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
cat >"$work/check.sh" <<'CHECK'
"$1/scripts/run" >"$2/run.out" 2>&1 &
pid=$!
for _ in $(seq 1200); do
    xdotool search --onlyvisible --name '^Oribeth$' >/dev/null 2>&1 && break
    kill -0 "$pid" 2>/dev/null || { cat "$2/run.out"; exit 1; }
    sleep 0.25
done
xdotool search --onlyvisible --name '^Oribeth$' >/dev/null || { echo "FAIL: no window"; exit 1; }
kill -TERM "$pid"
wait "$pid"
CHECK
XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime \
    xvfb-run -a -s "-screen 0 640x480x24" bash "$work/check.sh" "$src" "$work"
[ -f "$work/config/Varnel/Varnel.conf" ] || { echo "FAIL: settings not saved"; exit 1; }
echo "ok: ./scripts/run opened the window and closed in order"
