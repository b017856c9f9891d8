#!/usr/bin/env bash
# The real program, without a display server: a stop signal closes it in order
# (closing line once, settings saved, no box to wait on), SIGPIPE does not end
# it, and with no display, or no wall-clock timer, it says so in one line and
# exits non-zero.
set -euo pipefail
bin=$1
no_timerfd=$2
work=$(mktemp -d)
pid=
bus=
trap 'for p in $pid $bus; do kill -KILL "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
fail() { echo "FAIL: $*"; exit 1; }

log_text() { iconv -f CP932 -t UTF-8 "$1/Varnel.LOG" | tr -d '\r'; }

# Each stop signal; then SIGTERM when the settings cannot be saved, which
# must end the program without waiting on a box nobody can answer; then
# SIGTERM to a program started under nohup, which SIGHUP must not end. A
# SIGPIPE before each (a closed output pipe) changes nothing.
for case in TERM INT HUP TERM-unsaved TERM-nohup; do
    sig=${case%-*}
    dir=$work/$case
    mkdir -p "$dir/prog" "$dir/config"
    cp "$bin" "$dir/prog/varnel"
    [ "$case" = TERM-unsaved ] && echo "a file where the settings folder goes" >"$dir/config/Varnel"
    ignored=--ignore-signal=HUP
    [ "$case" = TERM-nohup ] || ignored=--default-signal=HUP
    XDG_CONFIG_HOME=$dir/config QT_QPA_PLATFORM=offscreen \
        env --default-signal=INT,TERM "$ignored" "$dir/prog/varnel" &
    pid=$!
    for _ in $(seq 300); do
        [ -s "$dir/prog/Varnel.LOG" ] && break
        sleep 0.1
    done
    log_text "$dir/prog" | grep -q "プログラム起動　" || fail "$case: no opening line"
    kill -PIPE "$pid"
    if [ "$case" = TERM-nohup ]; then
        ign=$(awk '/^SigIgn/ { print $2 }' "/proc/$pid/status")
        ((0x$ign & 1)) || fail "$case: SIGHUP heeded"
        kill -HUP "$pid"
    fi
    kill -"$sig" "$pid"
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && { kill -KILL "$pid"; fail "$case: still running after 10 s"; }
    status=0
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "$case: exit status $status"
    [ "$(log_text "$dir/prog" | grep -c "プログラム終了　")" -eq 1 ] || fail "$case: closing lines"
    log_text "$dir/prog" | tail -n 1 | grep -q "プログラム終了　[0-9][0-9]:[0-9][0-9] － $dir/prog\$" ||
        fail "$case: closing line text"
    [ "$case" = TERM-unsaved ] ||
        grep -q "=$dir/prog\$" "$dir/config/Varnel/Varnel.conf" || fail "$case: settings not saved"
    echo "ok: SIG$case"
done

# A session bus that hangs (its daemon stopped): a stop signal ends the start
# at once, once it waits on the bus.
dbus-daemon --session --fork --print-pid=3 --address="unix:path=$work/hung" 3>"$work/bus.pid"
bus=$(cat "$work/bus.pid")
kill -STOP "$bus"
DBUS_SESSION_BUS_ADDRESS=unix:path=$work/hung XDG_CONFIG_HOME=$work/hung-config \
    QT_QPA_PLATFORM=offscreen env --default-signal=TERM "$bin" &
pid=$!
waiting=
for _ in $(seq 100); do # its connection waits to be taken
    [ "$(ss -xlH src "$work/hung" | awk '{ print $3 }')" = 1 ] && waiting=yes && break
    sleep 0.1
done
[ -n "$waiting" ] || fail "hung bus: the start never reached the bus"
kill -TERM "$pid"
for _ in $(seq 20); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "hung bus: still running 2 s after SIGTERM"
status=0
wait "$pid" || status=$?
pid=
kill -KILL "$bus"
[ "$status" -eq 143 ] || fail "hung bus: exit status $status"
echo "ok: SIGTERM while the bus hangs"

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

# No wall-clock timer: said on standard error before the opening line.
mkdir -p "$work/timerless"
cp "$bin" "$work/timerless/varnel"
status=0
ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=$no_timerfd QT_QPA_PLATFORM=offscreen \
    XDG_CONFIG_HOME=$work/timerless/config "$work/timerless/varnel" 2>"$err" || status=$?
[ "$status" -eq 1 ] || fail "no timer: exit status $status"
grep -q "^varnel: no wall-clock timer: " "$err" || fail "no timer: $(cat "$err")"
[ ! -e "$work/timerless/Varnel.LOG" ] || fail "no timer: an opening line was written"
echo "ok: no wall-clock timer"
