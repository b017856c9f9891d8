#!/usr/bin/env bash
# The real program driven through the accessibility bus (AT-SPI) on a real
# display server of its own: a headless Weston, GNOME's mutter or KDE's KWin,
# the program a native Wayland client of each, or Xvfb.
#
#   tests/a11y/run.sh weston|mutter|kwin|xvfb VARNEL [FOCUS_PROBE]
set -uo pipefail
backend=$1
VARNEL=$(realpath "$2")
PROBE=${3:+$(realpath "$3")}
HERE=$(dirname "$(realpath "$0")")

. "$HERE/../e2e/lib.sh"
# Everything below runs inside a D-Bus session of its own, which starts the
# accessibility bus when the program asks for it.
in_session_bus "$0" "$@"
WORK=$(mktemp -d)
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
unset QT_QPA_PLATFORM
SERVER=
trap 'stop_apps; [ -n "$SERVER" ] && kill "$SERVER" 2>/dev/null; rm -rf "$WORK"' EXIT

start_server() {
    if [ "$backend" = xvfb ]; then
        unset WAYLAND_DISPLAY
        local fdfile=$WORK/displayfd
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" 2>/dev/null &
        SERVER=$!
        wait_for 20 test -s "$fdfile" || { echo "Xvfb did not start"; exit 1; }
        export DISPLAY=":$(cat "$fdfile")"
        return
    fi
    unset DISPLAY
    export WAYLAND_DISPLAY=varnel-a11y-$$
    case "$backend" in
    weston)
        weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 \
            >"$WORK/server.log" 2>&1 &
        ;;
    mutter) # GNOME's compositor
        mutter --headless --wayland --no-x11 --virtual-monitor 1024x768 \
            --wayland-display "$WAYLAND_DISPLAY" >"$WORK/server.log" 2>&1 &
        ;;
    kwin) # KDE's; a copy, since the packaged binary carries a file capability
        # that a container may not grant. It writes its configuration.
        cp /usr/bin/kwin_wayland "$WORK/kwin_wayland"
        XDG_CONFIG_HOME=$WORK/kwin-config "$WORK/kwin_wayland" --virtual --width 1024 \
            --height 768 --socket "$WAYLAND_DISPLAY" >"$WORK/server.log" 2>&1 &
        ;;
    *) echo "unknown backend $backend"; exit 2 ;;
    esac
    SERVER=$!
    wait_for 30 test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ||
        { echo "$backend did not start: $(tail -n 5 "$WORK/server.log")"; exit 1; }
}

# start_app DIR [OFFSET]: the program from DIR/prog with its settings in
# DIR/config, under libfaketime when an offset is given.
start_app() {
    local dir=$1 offset=${2:-}
    mkdir -p "$dir/prog" "$dir/config"
    cp "$VARNEL" "$dir/prog/varnel"
    # On Wayland the client's requests are logged, to see what its boxes ask.
    local debug=()
    [ -n "${WAYLAND_DISPLAY:-}" ] && debug=(WAYLAND_DEBUG=client)
    if [ -n "$offset" ]; then
        env "${debug[@]}" XDG_CONFIG_HOME="$dir/config" LD_PRELOAD="$FAKETIME_LIB" \
            FAKETIME="$offset" "$dir/prog/varnel" 2>"$dir/client.log" &
    else
        env "${debug[@]}" XDG_CONFIG_HOME="$dir/config" "$dir/prog/varnel" 2>"$dir/client.log" &
    fi
    APP_PID=$!
    APP_PIDS+=($APP_PID)
    wait_for 30 test -s "$dir/prog/Varnel.LOG" || fail "no opening line"
}

drive() { /usr/bin/python3 "$HERE/driver.py" "$APP_PID" "$@"; }

# Where the desktop draws the title bar from the window's hints, it offers
# minimise and close only: KWin says so itself.
title_bar_offers_no_maximise() {
    [ "$backend" = kwin ] || return 0
    printf '%s\n' 'for (const w of workspace.clientList())' \
        '    print("offers", w.caption, w.maximizable, w.resizeable, w.minimizable);' \
        >"$WORK/offers.js"
    local id
    id=$(dbus-send --session --print-reply --dest=org.kde.KWin /Scripting \
        org.kde.kwin.Scripting.loadScript string:"$WORK/offers.js" string:offers |
        awk '/int32/ {print $2}')
    dbus-send --session --print-reply --dest=org.kde.KWin "/$id" org.kde.kwin.Script.run >/dev/null
    wait_for 10 grep -q "offers Oribeth" "$WORK/server.log" ||
        fail "KWin did not answer: $(tail -n 3 "$WORK/server.log")" || return 1
    grep -q "offers Oribeth false false true" "$WORK/server.log" ||
        fail "KWin offers: $(grep "offers Oribeth" "$WORK/server.log")" || return 1
}

case_names_and_launch() {
    local d=$WORK/launch rec=$WORK/launch.runs
    start_app "$d" "$(offset_to 07:29:40)" || return 1
    make_recorder "$d/job.sh" "$rec"
    drive names || return 1
    title_bar_offers_no_maximise || return 1
    drive box "7:30" || return 1
    # The box belongs to the window: on Wayland it names it as its parent.
    if [ -n "${WAYLAND_DISPLAY:-}" ]; then
        grep -q 'xdg_toplevel@[0-9]*\.set_parent(xdg_toplevel@[0-9]*)' "$d/client.log" ||
            fail "the box named no parent" || return 1
    fi
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

# A Qt program started by varnel: its window gets the focus. Wayland
# compositors decide this for themselves, so it is asked of mutter and KWin.
case_started_window_gets_focus() {
    local d=$WORK/focus
    start_app "$d" "$(offset_to 07:29:50)" || return 1
    cp "$PROBE" "$d/probe"
    drive arm "07:30" "$d/probe" || return 1
    wait_for 40 test -s "$d/probe.focus" || fail "the probe did not run" || return 1
    [ "$(cat "$d/probe.focus")" = focused ] || fail "its window did not get the focus" || return 1
}

# A second start on the same settings hands its launcher's token over and
# leaves; the open window asks the compositor for the focus with that token.
# (Which tokens earn the focus is the compositor's policy: mutter's are those
# its shell made for a user's click, which no headless lane can make.)
case_second_start_hands_over() {
    local d=$WORK/second token=varnel-lane-$$
    start_app "$d" || return 1
    local first=$APP_PID status=0
    XDG_CONFIG_HOME=$d/config XDG_ACTIVATION_TOKEN=$token timeout 10 "$d/prog/varnel" \
        2>"$d/second.err" || status=$?
    [ "$status" -eq 0 ] && grep -qx "Varnel is already open (process $first)" "$d/second.err" ||
        fail "second start: status $status, $(cat "$d/second.err")" || return 1
    wait_for 10 grep -q "xdg_activation_v1@[0-9]*\.activate(\"$token\", wl_surface@" \
        "$d/client.log" || fail "the token was not passed on" || return 1
    [ "$(log_count "$d" "プログラム起動")" -eq 1 ] || fail "log: $(log_text "$d")" || return 1
}

# What Debian's screen reader, Orca, says to a user who works the window from
# the keyboard: tabbing once round the input panel, arming, stopping, and a
# time that Start rejects. Each row: what the user does | what Orca says
# then, in that order (other speech may come between). FILE is the
# remembered file, JOB the program armed.
ORCA_TABLE=(
    "activate|Oribeth frame."
    "key Tab|起動時刻を1分戻す push button."
    "key Tab|起動時刻を1分進める push button."
    "key Tab|FILE|ファイル text."
    "key Tab|開始 push button."
    "key Tab|07:29|起動時刻 text."
    "type 07:30|"
    "key Return Tab Tab|ファイル text."
    "type JOB|"
    "key Return|開始 push button."
    "key space|停止 push button."                    # armed: the focus on 停止
    "armed 07:30|"                                   # the values, read by their names
    "key space|起動時刻 text."                        # stopped: back in the time field
    "type 25:00|"
    "key Return Tab Tab Tab|開始 push button."
    "key space|alert Varnel.|起動時刻は「HH:MM」形式で入力して下さい。" # the box reads its text
    "key Return|25:00|selected"                      # after OK: the field, all selected
)

# Speech in the order Orca said it, one utterance a line.
orca_said() { sed -n "s/.* SPEECH OUTPUT: '\(.*\)' *{.*/\1/p" "$1"; }

# heard PHRASE...: whether Orca has said each phrase, in order, after the
# HEARD_AT'th utterance; moves HEARD_AT past the last.
heard() {
    local at=$HEARD_AT phrase found
    for phrase in "$@"; do
        found=$(orca_said "$ORCA_LOG" | tail -n +$((at + 1)) | grep -n -x -F -m 1 -- "$phrase" |
            cut -d: -f1)
        [ -n "$found" ] || return 1
        at=$((at + found))
    done
    HEARD_AT=$at
}

case_heard_by_orca() {
    local d=$WORK/orca
    # A window manager, which makes the box the active window as a desktop does.
    openbox --sm-disable >/dev/null 2>&1 &
    local wm=$!
    wait_for 30 wm_answers || fail "openbox did not start" || return 1
    heard_by_orca "$d"
    local status=$?
    pkill -TERM -P "$ORCA_TTY" 2>/dev/null # Orca, by the id of the terminal that started it
    kill "$ORCA_TTY" 2>/dev/null # the terminal may be held open by what Orca started
    wait "$ORCA_TTY" 2>/dev/null
    kill "$wm" 2>/dev/null
    wait "$wm" 2>/dev/null
    return $status
}

heard_by_orca() {
    local d=$1 wid row step action arg
    # On a terminal of its own Orca writes its log line by line, so each step
    # can wait until it has been said.
    ORCA_LOG=$WORK/orca.log
    HEARD_AT=0
    XDG_CONFIG_HOME=$WORK/orca-config XDG_DATA_HOME=$WORK/orca-data \
        script -q -f -c "orca --replace --debug-file /dev/tty" "$ORCA_LOG" >/dev/null 2>&1 &
    ORCA_TTY=$!
    wait_for 30 heard "Screen reader on." || fail "Orca did not start" || return 1
    start_app "$d" "$(offset_to 07:29:00)" || return 1
    make_recorder "$d/job.sh" "$WORK/orca.runs"
    wait_for 20 eval 'wid=$(xdotool search --onlyvisible --pid "$APP_PID" --name "^Oribeth$" | head -n 1); [ -n "$wid" ]' ||
        fail "no window" || return 1
    for row in "${ORCA_TABLE[@]}"; do
        IFS='|' read -r -a step <<<"$row"
        action=${step[0]%% *} arg=${step[0]#* }
        case $action in
        activate) xdotool windowactivate --sync "$wid" ;;
        key) xdotool key --clearmodifiers --delay 100 $arg ;; # as a user presses them
        type) xdotool type --delay 100 -- "${arg/#JOB/$d/job.sh}" ;;
        armed) drive armed "$arg" "$d/job.sh" || return 1 ;;
        esac
        step=("${step[@]:1}")
        step=("${step[@]/#FILE/$d/prog}")
        [ ${#step[@]} -eq 0 ] || wait_for 20 heard "${step[@]}" ||
            fail "after \"${row%%|*}\" Orca did not say \"${step[*]}\"; it said:
$(orca_said "$ORCA_LOG" | tail -n +$((HEARD_AT + 1)))" || return 1
    done
}

start_server
cases=(case_names_and_launch)
[ -n "$PROBE" ] && [[ $backend = mutter || $backend = kwin ]] && cases+=(case_started_window_gets_focus)
[ "$backend" = mutter ] && cases+=(case_second_start_hands_over)
[ "$backend" = xvfb ] && cases+=(case_heard_by_orca)
[ -n "${A11Y_CASES:-}" ] && cases=($A11Y_CASES)
run_cases "a11y $backend" "${cases[@]}" case_display_lost_while_armed
