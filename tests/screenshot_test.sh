#!/usr/bin/env bash
# The picture in docs/ must show the window as it is now.
set -euo pipefail
src=$1
binary=$2
out=$(mktemp --suffix=.png)
trap 'rm -f "$out"' EXIT
"$src/scripts/screenshot" "$out" --binary "$binary" >/dev/null
[ "$(identify -format '%wx%h' "$out")" = "$(identify -format '%wx%h' "$src/docs/window.png")" ] || {
    echo "FAIL: size $(identify -format '%wx%h' "$out"); rerun ./scripts/screenshot"
    exit 1
}
# A blinking caret may differ; anything more means the window changed.
diff=$(compare -metric AE -fuzz 5% "$out" "$src/docs/window.png" /dev/null 2>&1 || true)
if [ "${diff%% *}" -gt 40 ]; then
    echo "FAIL: $diff pixels differ from docs/window.png; rerun ./scripts/screenshot"
    exit 1
fi
echo "ok: docs/window.png is current ($diff pixels differ)"
