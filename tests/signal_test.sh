#!/usr/bin/env bash
# The real program, without a display server: a stop signal closes it in order
# (closing line once, settings saved), and with no display at all it says so
# in one line and exits non-zero.
set -euo pipefail
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
fail() { echo "FAIL: $*"; exit 1; }

log_text() { iconv -f CP932 -t UTF-8 "$1/Varnel.LOG" | tr -d '\r'; }

for sig in TERM INT HUP; do
    dir=$work/$sig
    mkdir -p "$dir/prog" "$dir/config"
    cp "$bin" "$dir/prog/varnel"
    XDG_CONFIG_HOME=$dir/config QT_QPA_PLATFORM=offscreen "$dir/prog/varnel" &
    pid=$!
    for _ in $(seq 100); do
        [ -s "$dir/prog/Varnel.LOG" ] && break
        sleep 0.1
    done
    log_text "$dir/prog" | grep -q "プログラム起動　" || fail "$sig: no opening line"
    kill -"$sig" "$pid"
    status=0
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "$sig: exit status $status"
    [ "$(log_text "$dir/prog" | grep -c "プログラム終了　")" -eq 1 ] || fail "$sig: closing lines"
    log_text "$dir/prog" | tail -n 1 | grep -q "プログラム終了　[0-9][0-9]:[0-9][0-9] － $dir/prog\$" ||
        fail "$sig: closing line text"
    grep -q "=$dir/prog\$" "$dir/config/Varnel/Varnel.conf" || fail "$sig: settings not saved"
    echo "ok: SIG$sig"
done

# No display to open.
err=$work/stderr
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME=$work/none \
    "$bin" 2>"$err" || status=$?
[ "$status" -ne 0 ] || fail "no display: exit status 0"
[ "$(wc -l <"$err")" -eq 1 ] || fail "no display: expected one line, got: $(cat "$err")"
grep -q "cannot open a display (WAYLAND_DISPLAY=not set, DISPLAY=not set)" "$err" ||
    fail "no display: $(cat "$err")"
[ ! -e "$work/none" ] || fail "no display: settings touched"
echo "ok: no display"
