# Helpers for driving the real window under an X server of our own.
# Positions are those of the controls inside the window's client area.

XY_TIME="92 19"
XY_DOWN="133 19"
XY_UP="157 19"
XY_FILE="162 37"
XY_START="229 18"
XY_STOP="229 18"

# Empty where libfaketime is not installed (the benchmarks need none).
FAKETIME_LIB=$(dpkg -L libfaketime 2>/dev/null | grep '/libfaketime\.so\.1$' | head -n 1 || true)

# in_session_bus "$0" "$@": runs the calling script again inside a D-Bus
# session of its own, as every desktop session has one (the one-window claim
# lives there, and the accessibility bus is started from it); once inside, it
# does nothing. Of its standard error only the bus's own chatter is dropped
# (services it starts, its file limit, the registry's greeting).
in_session_bus() {
    [ -n "${VARNEL_SESSION_BUS:-}" ] && return 0
    exec env VARNEL_SESSION_BUS=1 dbus-run-session -- bash "$@" \
        2> >(grep -v -E '^(dbus-daemon\[[0-9]+\]: .*(ctivat|fd limit)|SpiRegistry daemon is running)' >&2)
}

# drive PID COMMAND ARGS...: the window through the accessibility bus.
drive() { /usr/bin/python3 "$HERE/../a11y/driver.py" "$@"; }

PIDS=()     # the X server and the window manager
APP_PIDS=() # the programs a case started

fail() {
    echo "FAIL: $*" >&2
    return 1
}

# wait_for SECONDS COMMAND...: polls until COMMAND succeeds.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.1
    done
}

start_x() {
    local fdfile
    fdfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" 2>/dev/null &
    PIDS+=($!)
    wait_for 20 test -s "$fdfile" || { echo "Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$(cat "$fdfile")"
    rm -f "$fdfile"
    openbox --sm-disable >/dev/null 2>&1 &
    PIDS+=($!)
    # A window mapped before the window manager manages the screen is never
    # managed: wait until it has said it is there.
    wait_for 30 wm_answers || { echo "openbox did not start" >&2; exit 1; }
}

wm_answers() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }

stop_apps() {
    local pid
    for pid in "${APP_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    APP_PIDS=()
}

stop_all() {
    stop_apps
    local pid
    for pid in "${PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    PIDS=()
}

# Offset for faketime that puts the clock at today's HH:MM:SS.
offset_to() {
    local off=$(($(date -d "today $1" +%s) - $(date +%s)))
    [ $off -ge 0 ] && echo "+${off}s" || echo "${off}s"
}

# Offset for faketime that puts the clock at a moment given in UTC.
offset_to_utc() {
    local off=$(($(date -ud "$1" +%s) - $(date +%s)))
    [ $off -ge 0 ] && echo "+${off}s" || echo "${off}s"
}

# launch_app DIR [OFFSET]: runs a copy of the program from DIR/prog with its
# settings in DIR/config; sets APP_PID and WID.
launch_app() {
    local dir=$1 offset=${2:-}
    mkdir -p "$dir/prog" "$dir/config"
    [ -x "$dir/prog/varnel" ] || cp "$VARNEL" "$dir/prog/varnel"
    if [ -n "$offset" ]; then
        # The library itself rather than the faketime wrapper, so that $! is
        # the program; whatever it starts inherits the same clock.
        XDG_CONFIG_HOME=$dir/config LD_PRELOAD=$FAKETIME_LIB FAKETIME=$offset \
            "$dir/prog/varnel" &
    else
        XDG_CONFIG_HOME=$dir/config "$dir/prog/varnel" &
    fi
    APP_PID=$!
    APP_PIDS+=($APP_PID)
    WID=
    wait_for 30 find_window || fail "no window for $dir"
}

find_window() {
    WID=$(xdotool search --all --onlyvisible --pid "$APP_PID" --name '^Oribeth$' 2>/dev/null | head -n 1)
    [ -n "$WID" ]
}

box_shown() { xdotool search --onlyvisible --name '^Varnel$' >/dev/null 2>&1; }

click() { # click X Y [BUTTON]
    xdotool windowactivate --sync "$WID" >/dev/null 2>&1 || true
    xdotool mousemove --window "$WID" "$1" "$2" click "${3:-1}"
}

# type_into "X Y" TEXT: a click into a field selects its text; typing replaces it.
type_into() {
    local xy=($1)
    click "${xy[0]}" "${xy[1]}"
    sleep 0.2
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 10 -- "$2"
}

log_text() { iconv -f CP932 -t UTF-8 "$1/prog/Varnel.LOG" 2>/dev/null | tr -d '\r'; }
log_has() { log_text "$1" | grep -q -- "$2"; }
faked_clock_shows() { LD_PRELOAD=$FAKETIME_LIB FAKETIME=$1 date +%T | grep -q -- "$2"; }
log_count() { log_text "$1" | grep -c -- "$2" || true; }

# A program that records each time it runs.
make_recorder() { # PATH RECORD
    printf '#!/bin/sh\ndate +%%T >> "%s"\n' "$2" >"$1"
    chmod +x "$1"
}

# arm_window TIME FILE: fills both fields of the window WID and presses 開始.
arm_window() {
    type_into "$XY_TIME" "$1"
    type_into "$XY_FILE" "$2"
    click $XY_START
}

# run_cases SUITE CASE...: runs each case from $WORK, then stops the programs
# it started; prints a line per case and the totals, and fails if a case did.
run_cases() {
    local suite=$1 c passed=0 failed=0
    shift
    for c in "$@"; do
        if cd "$WORK" && $c; then
            echo "ok: $suite $c"
            passed=$((passed + 1))
        else
            echo "not ok: $suite $c"
            failed=$((failed + 1))
        fi
        stop_apps
    done
    echo "$suite: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

# A Japanese locale of the lane's own (the machine's are left as they are),
# in $WORK/locale: a program started with LANG=ja_JP.UTF-8 and
# LOCPATH=$WORK/locale has it.
ja_locale() {
    [ -d "$WORK/locale/ja_JP.UTF-8" ] && return 0
    mkdir -p "$WORK/locale"
    localedef -i ja_JP -f UTF-8 "$WORK/locale/ja_JP.UTF-8" 2>/dev/null ||
        [ -d "$WORK/locale/ja_JP.UTF-8" ] || fail "no Japanese locale"
}

# start_ibus: the ibus input method on the X server, with Anthy (a Japanese
# engine that runs as root) typing kana from the start; its settings and
# address in a folder of its own. A program started with the variables of
# IBUS_CLIENT uses it.
start_ibus() {
    local home=$WORK/ibus
    mkdir -p "$home"
    # Debian's Python modules (the engine is one) need Debian's Python.
    local env=(env PATH="/usr/bin:$PATH" HOME="$home" XDG_CONFIG_HOME="$home/config"
        XDG_CACHE_HOME="$home/cache" GSETTINGS_BACKEND=keyfile LANG=ja_JP.UTF-8
        LOCPATH="$WORK/locale")
    "${env[@]}" gsettings set org.freedesktop.ibus.engine.anthy.common input-mode 0 ||
        fail "Anthy cannot be set to kana" || return 1
    "${env[@]}" ibus-daemon --panel=disable --config=disable --single --replace \
        >"$home/daemon.log" 2>&1 &
    APP_PIDS+=($!)
    wait_for 20 sh -c "ls '$home'/config/ibus/bus/* >/dev/null 2>&1" || fail "ibus did not start" || return 1
    local address
    address=$(ls "$home"/config/ibus/bus/*)
    IBUS_CLIENT=(QT_IM_MODULE=ibus IBUS_ADDRESS_FILE="$address")
    IBUS=("${env[@]}" IBUS_ADDRESS="$(sed -n 's/^IBUS_ADDRESS=//p' "$address")" ibus)
    wait_for 20 sh -c '"$@" list-engine 2>/dev/null | grep -q "anthy - "' ibus "${IBUS[@]}" ||
        fail "ibus lists no Anthy" || return 1
}

# ime ENGINE: the engine for the focused field: anthy, or xkb:us::eng to type
# as it stands.
ime() {
    # The first choice of an engine may be answered with an error while it
    # starts: what counts is the engine then in use.
    wait_for 10 sh -c '"$@" engine "$0" >/dev/null 2>&1; [ "$("$@" engine)" = "$0" ]' "$1" \
        "${IBUS[@]}" || fail "ibus did not take $1"
}
