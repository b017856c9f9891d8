#!/usr/bin/env bash
# The real program driven through the accessibility bus (AT-SPI) on a real
# display server of its own: a headless Weston, the program a native Wayland
# client, or Xvfb.
#
#   tests/a11y/run.sh weston|xvfb VARNEL
set -uo pipefail
backend=$1
VARNEL=$(realpath "$2")
HERE=$(dirname "$(realpath "$0")")

# Everything below runs inside a D-Bus session of its own, which starts the
# accessibility bus when the program asks for it.
if [ -z "${VARNEL_A11Y_SESSION:-}" ]; then
    exec env VARNEL_A11Y_SESSION=1 dbus-run-session -- bash "$0" "$@" 2> >(grep -v -E "fd limit|ctivat|SpiRegistry" >&2)
fi

. "$HERE/../e2e/lib.sh"
WORK=$(mktemp -d)
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
unset QT_QPA_PLATFORM
SERVER=
trap 'stop_apps; [ -n "$SERVER" ] && kill "$SERVER" 2>/dev/null; rm -rf "$WORK"' EXIT

start_server() {
    if [ "$backend" = weston ]; then
        unset DISPLAY
        export WAYLAND_DISPLAY=varnel-a11y-$$
        weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 \
            >"$WORK/weston.log" 2>&1 &
        SERVER=$!
        wait_for 20 test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" || { echo "weston did not start"; exit 1; }
    else
        unset WAYLAND_DISPLAY
        local fdfile=$WORK/displayfd
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" 2>/dev/null &
        SERVER=$!
        wait_for 20 test -s "$fdfile" || { echo "Xvfb did not start"; exit 1; }
        export DISPLAY=":$(cat "$fdfile")"
    fi
}

# start_app DIR [OFFSET]: the program from DIR/prog with its settings in
# DIR/config, under libfaketime when an offset is given.
start_app() {
    local dir=$1 offset=${2:-}
    mkdir -p "$dir/prog" "$dir/config"
    cp "$VARNEL" "$dir/prog/varnel"
    if [ -n "$offset" ]; then
        XDG_CONFIG_HOME=$dir/config LD_PRELOAD=$FAKETIME_LIB FAKETIME=$offset "$dir/prog/varnel" &
    else
        XDG_CONFIG_HOME=$dir/config "$dir/prog/varnel" &
    fi
    APP_PID=$!
    APP_PIDS+=($APP_PID)
    wait_for 30 test -s "$dir/prog/Varnel.LOG" || fail "no opening line"
}

drive() { /usr/bin/python3 "$HERE/driver.py" "$APP_PID" "$@"; }

case_names_and_launch() {
    local d=$WORK/launch rec=$WORK/launch.runs
    start_app "$d" "$(offset_to 07:29:40)" || return 1
    make_recorder "$d/job.sh" "$rec"
    drive names || return 1
    drive box "7:30" || return 1
    drive arm "07:30" "$d/job.sh" || return 1
    wait_for 40 test -s "$rec" || fail "not launched: $(log_text "$d")" || return 1
    sleep 2
    [ "$(cat "$rec")" = "07:30:00" ] || [ "$(cat "$rec")" = "07:30:01" ] ||
        fail "ran at $(cat "$rec")" || return 1
    drive stop "07:30" || return 1
    kill -TERM "$APP_PID"
    wait "$APP_PID"
    [ "$(log_count "$d" "プログラム終了　07:30 － $d/job.sh")" -eq 1 ] ||
        fail "closing lines: $(log_text "$d")" || return 1
}

# The display goes away under an armed window (as at log-off): the values are
# saved and the close is logged, once.
case_display_lost_while_armed() {
    local d=$WORK/lost
    start_app "$d" || return 1
    make_recorder "$d/job.sh" "$WORK/lost.runs"
    drive arm "03:15" "$d/job.sh" || return 1
    kill "$SERVER"
    wait "$SERVER" 2>/dev/null
    SERVER=
    wait_for 20 sh -c "! kill -0 $APP_PID 2>/dev/null" || fail "still running" || return 1
    [ "$(log_count "$d" "プログラム終了")" -eq 1 ] || fail "closing lines: $(log_text "$d")" || return 1
    log_text "$d" | tail -n 1 | grep -q -- "）：プログラム終了　03:15 － $d/job.sh\$" ||
        fail "closing line: $(log_text "$d" | tail -n 1)" || return 1
    grep -q "=03:15$" "$d/config/Varnel/Varnel.conf" || fail "time not saved" || return 1
    grep -q "=$d/job.sh$" "$d/config/Varnel/Varnel.conf" || fail "file not saved" || return 1
}

start_server
run_cases "a11y $backend" case_names_and_launch case_display_lost_while_armed
