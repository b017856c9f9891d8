#!/usr/bin/env bash
# End-to-end checks of the real program on a real X server: typing, clicking,
# launching at the set time (with the clock moved by faketime), closing.
set -uo pipefail
VARNEL=$(realpath "$1")
SESSION_MANAGER_BIN=$(realpath "$2")
CLAIM_OWNER=$(realpath "$3") # tests/claim_owner.cpp
HERE=$(dirname "$(realpath "$0")")
. "$HERE/lib.sh"
in_session_bus "$0" "$@"
WORK=$(mktemp -d)
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0
trap 'stop_all; rm -rf "$WORK"' EXIT

case_first_run_and_launch() {
    local d=$WORK/first rec=$WORK/first.runs
    launch_app "$d" "$(offset_to 07:29:40)"
    make_recorder "$d/job.sh" "$rec"
    # The window manager offers to minimise and close the fixed window, and
    # neither to maximise nor to resize it.
    local allowed
    allowed=$(xprop -id "$WID" _NET_WM_ALLOWED_ACTIONS)
    [[ $allowed == *MINIMIZE* && $allowed == *CLOSE* && $allowed != *MAXIMIZE* &&
        $allowed != *RESIZE* ]] || fail "window manager allows: $allowed" || return 1
    log_text "$d" | grep -qx -- "－通常処理（[0-9/]* 07:29:4[0-9]）：プログラム起動　07:29 － $d/prog" ||
        fail "opening line: $(log_text "$d")" || return 1
    arm_window "07:30" "$d/job.sh"
    wait_for 10 log_has "$d" "パラメータ設定　07:30 － $d/job.sh" ||
        fail "no arming line: $(log_text "$d")" || return 1
    wait_for 40 test -s "$rec" || fail "not launched: $(log_text "$d")" || return 1
    sleep 3
    [ "$(wc -l <"$rec")" -eq 1 ] || fail "ran $(wc -l <"$rec") times" || return 1
    grep -q '^07:30:0[0-9]$' "$rec" || fail "ran at $(cat "$rec")" || return 1
    log_text "$d" | tail -n 1 | grep -qx -- "○起動成功（[0-9/]* 07:30:0[0-9]）：$d/job.sh" ||
        fail "launch line: $(log_text "$d")" || return 1
    [ "$(log_text "$d" | wc -l)" -eq 3 ] || fail "log: $(log_text "$d")" || return 1

    # Closing through the window manager saves; the next run shows the values.
    xdotool windowactivate --sync "$WID" key --clearmodifiers alt+F4
    wait_for 10 sh -c "! kill -0 $APP_PID 2>/dev/null" || fail "did not close" || return 1
    log_text "$d" | tail -n 1 | grep -q -- "プログラム終了　07:30 － $d/job.sh$" ||
        fail "closing line: $(log_text "$d")" || return 1
    launch_app "$d"
    log_text "$d" | tail -n 1 | grep -q -- "プログラム起動　07:30 － $d/job.sh$" ||
        fail "reopened with: $(log_text "$d" | tail -n 1)" || return 1
    kill "$APP_PID"
}

# Under a session manager: a session save, and a log-off the user cancels,
# leave the window open and armed; a log-off that goes through saves the
# values and logs the close, once.
case_session_save_and_logoff() {
    local d=$WORK/session rec=$WORK/session.runs sm=$WORK/sm
    mkfifo "$sm.in"
    "$SESSION_MANAGER_BIN" "$sm.address" <"$sm.in" >"$sm.out" &
    APP_PIDS+=($!)
    exec 7>"$sm.in"
    wait_for 10 test -s "$sm.address" || fail "no session manager" || return 1
    SESSION_MANAGER=$(cat "$sm.address") launch_app "$d" "$(offset_to 07:29:40)"
    make_recorder "$d/job.sh" "$rec"
    arm_window "07:30" "$d/job.sh"
    wait_for 10 log_has "$d" "パラメータ設定　07:30 － $d/job.sh" ||
        fail "no arming line: $(log_text "$d")" || return 1
    local step
    for step in save:saved cancel:cancelled; do
        echo "${step%%:*}" >&7
        wait_for 20 grep -qx "${step#*:}" "$sm.out" || fail "${step%%:*}: $(cat "$sm.out")" || return 1
    done
    kill -0 "$APP_PID" 2>/dev/null || fail "the window closed" || return 1
    ! log_has "$d" "プログラム終了" || fail "closed: $(log_text "$d")" || return 1
    wait_for 40 test -s "$rec" || fail "not launched: $(log_text "$d")" || return 1

    echo logoff >&7
    wait_for 20 grep -qx gone "$sm.out" || fail "log-off: $(cat "$sm.out")" || return 1
    wait_for 10 sh -c "! kill -0 $APP_PID 2>/dev/null" || fail "still running" || return 1
    exec 7>&-
    [ "$(log_count "$d" "プログラム終了　07:30 － $d/job.sh")" -eq 1 ] ||
        fail "closing lines: $(log_text "$d")" || return 1
    grep -q "=07:30$" "$d/config/Varnel/Varnel.conf" || fail "time not saved" || return 1
}

# Two windows at once through the same launch minute: one whose file is gone
# by then, one whose path holds blanks and shell characters.
case_missing_file_and_odd_path() {
    local gone=$WORK/gone odd=$WORK/odd rec=$WORK/odd.runs
    local odd_file="$odd/a b;\$(touch pwned)"
    local off
    off=$(offset_to 07:29:50)
    launch_app "$gone" "$off"
    local gone_pid=$APP_PID gone_wid=$WID
    make_recorder "$gone/job.sh" "$WORK/gone.runs"
    arm_window "07:30" "$gone/job.sh"
    wait_for 10 log_has "$gone" "パラメータ設定" || fail "gone: not armed" || return 1
    rm "$gone/job.sh"

    mkdir -p "$odd"
    make_recorder "$odd_file" "$rec"
    launch_app "$odd" "$off"
    arm_window "07:30" "$odd_file"
    wait_for 10 log_has "$odd" "パラメータ設定" || fail "odd: not armed" || return 1

    wait_for 90 faked_clock_shows "$off" "07:31:0[2-9]" ||
        fail "clock did not reach 07:31" || return 1
    local failures
    failures=$(log_count "$gone" "×起動失敗（[0-9/]* 07:30:")
    [ "$failures" -ge 50 ] && [ "$failures" -le 61 ] ||
        fail "gone: $failures failure lines" || return 1
    [ "$(log_count "$gone" "起動失敗（[0-9/]* 07:31")" -eq 0 ] || fail "gone: failing after 07:30" || return 1
    kill -0 "$gone_pid" || fail "gone: program ended" || return 1
    [ "$(log_count "$gone" "プログラム終了")" -eq 0 ] || fail "gone: closed" || return 1

    [ "$(wc -l <"$rec" 2>/dev/null)" = 1 ] || fail "odd: ran $(cat "$rec" 2>/dev/null)" || return 1
    [ "$(log_count "$odd" "○起動成功（[0-9/]* 07:30:0[0-9]）：$odd/a b;")" -eq 1 ] ||
        fail "odd: $(log_text "$odd")" || return 1
    [ ! -e "$odd/pwned" ] && [ ! -e pwned ] || fail "odd: a shell ran the path" || return 1
    kill "$gone_pid" "$APP_PID"
}

# Berlin, the night the clocks go forward from 02:00 to 03:00: a launch time
# inside the skipped hour launches once, in the first minute after the jump.
case_spring_forward_gap() {
    local d=$WORK/gap rec=$WORK/gap.runs
    TZ=Europe/Berlin launch_app "$d" "$(offset_to_utc "2026-03-29 00:59:30")"
    make_recorder "$d/job.sh" "$rec"
    arm_window "02:30" "$d/job.sh"
    wait_for 10 log_has "$d" "（2026/03/29 01:59:[0-9]*）：パラメータ設定　02:30" ||
        fail "not armed before the jump: $(log_text "$d")" || return 1
    wait_for 60 test -s "$rec" || fail "not launched: $(log_text "$d")" || return 1
    sleep 3
    [ "$(cat "$rec")" = "03:00:00" ] || [ "$(cat "$rec")" = "03:00:01" ] ||
        fail "ran at $(cat "$rec")" || return 1
    [ "$(log_count "$d" "○起動成功（2026/03/29 03:00:0[01]）：$d/job.sh")" -eq 1 ] ||
        fail "launch line: $(log_text "$d")" || return 1
    kill "$APP_PID"
}

# The chooser opens on the remembered file with its name selected: a path
# typed at once replaces it, and Enter takes that file. A stop signal closes
# the program even while the chooser shows a box of its own.
case_chooser_typed_path() {
    local d=$WORK/chooser
    launch_app "$d"
    make_recorder "$d/first.sh" /dev/null
    make_recorder "$d/other.sh" /dev/null
    type_into "$XY_FILE" "$d/first.sh"
    click $XY_START
    click $XY_STOP
    xdotool mousemove --window "$WID" $XY_FILE click --repeat 2 --delay 80 1
    wait_for 10 sh -c 'xdotool search --onlyvisible --name "^Open\$" >/dev/null' || fail "no chooser" || return 1
    sleep 1
    xdotool type --delay 10 -- "$d/other.sh"
    xdotool key --clearmodifiers Return
    wait_for 10 sh -c '! xdotool search --onlyvisible --name "^Open\$" >/dev/null 2>&1' ||
        fail "chooser still open" || return 1
    # A stop signal while the chooser shows a box of its own still closes.
    xdotool mousemove --window "$WID" $XY_FILE click --repeat 2 --delay 80 1
    wait_for 10 sh -c 'xdotool search --onlyvisible --name "^Open\$" >/dev/null' || fail "no chooser" || return 1
    sleep 1
    xdotool type --delay 10 -- "$d/nothing-here"
    xdotool key --clearmodifiers Return
    sleep 1
    kill -TERM "$APP_PID"
    wait_for 10 sh -c "! kill -0 $APP_PID 2>/dev/null" || fail "a signal did not close it" || return 1
    log_text "$d" | tail -n 1 | grep -q -- "プログラム終了　[0-9:]* － $d/other.sh\$" ||
        fail "chose: $(log_text "$d" | tail -n 1)" || return 1
}

case_rejections() {
    local d=$WORK/reject
    launch_app "$d"
    local lines
    lines=$(log_text "$d" | wc -l)
    type_into "$XY_TIME" "7:30"
    click $XY_START
    wait_for 10 box_shown || fail "no box for a bad time" || return 1
    xdotool key --clearmodifiers Return
    wait_for 10 sh -c '! xdotool search --onlyvisible --name "^Varnel\$" >/dev/null 2>&1' ||
        fail "box not dismissed" || return 1
    arm_window "07:30" "$d/missing"
    wait_for 10 box_shown || fail "no box for a missing file" || return 1
    xdotool key --clearmodifiers Return
    sleep 0.5
    box_shown && { fail "file box not dismissed"; return 1; }
    [ "$(log_text "$d" | wc -l)" -eq "$lines" ] || fail "logged: $(log_text "$d")" || return 1
    kill "$APP_PID"
    wait "$APP_PID" 2>/dev/null
    log_text "$d" | tail -n 1 | grep -q "プログラム終了　[0-9][0-9]:[0-9][0-9] － $d/prog$" ||
        fail "rejected values were kept: $(log_text "$d" | tail -n 1)" || return 1
}

case_sigterm_while_armed() {
    local d=$WORK/term
    launch_app "$d"
    make_recorder "$d/job.sh" "$WORK/term.runs"
    arm_window "03:15" "$d/job.sh"
    wait_for 10 log_has "$d" "パラメータ設定" || fail "not armed" || return 1
    kill -TERM "$APP_PID"
    wait "$APP_PID"
    [ "$(log_count "$d" "プログラム終了　03:15 － $d/job.sh")" -eq 1 ] ||
        fail "closing lines: $(log_text "$d")" || return 1
    grep -q "=03:15$" "$d/config/Varnel/Varnel.conf" || fail "time not saved" || return 1
}

case_stepper() {
    local d=$WORK/stepper
    launch_app "$d"
    arm_window "07:30" "$d/prog/varnel"
    click $XY_STOP
    # Hold the up button for about a second.
    xdotool mousemove --window "$WID" $XY_UP mousedown 1
    sleep 1
    xdotool mouseup 1
    sleep 0.3
    # Enter in the time field moves to the down button; Space on it steps
    # twice (the key, then the click it makes).
    click $XY_TIME
    xdotool key --clearmodifiers Return
    sleep 0.2
    xdotool key --clearmodifiers space
    sleep 0.3
    kill "$APP_PID"
    wait "$APP_PID" 2>/dev/null
    local closed
    closed=$(log_text "$d" | tail -n 1 | sed -n 's/.*プログラム終了　\([0-9:]*\) － .*/\1/p')
    case "$closed" in
    07:37 | 07:38 | 07:39 | 07:40 | 07:41) ;;
    *) fail "held one second from 07:30, then two down: closed with '$closed'"; return 1 ;;
    esac
}

# A second start on the same settings brings the open window forward and
# leaves; other settings open a window of their own; a copy that was killed
# leaves no claim behind.
case_second_start() {
    local d=$WORK/second
    launch_app "$d"
    local first=$APP_PID first_wid=$WID
    xdotool windowminimize --sync "$first_wid"
    local t0 status=0
    t0=$(date +%s%N)
    XDG_CONFIG_HOME=$d/config DESKTOP_STARTUP_ID=varnel-e2e_TIME0 timeout 10 \
        "$d/prog/varnel" 2>"$d/second.err" || status=$?
    local ms=$((($(date +%s%N) - t0) / 1000000))
    [ "$status" -eq 0 ] && [ "$ms" -lt 2000 ] || fail "second start: status $status after $ms ms" || return 1
    grep -qx "Varnel is already open (process $first)" "$d/second.err" ||
        fail "second start said: $(cat "$d/second.err")" || return 1
    wait_for 10 sh -c "[ \"\$(xdotool getactivewindow 2>/dev/null)\" = $first_wid ]" ||
        fail "the open window is not active" || return 1
    xwininfo -id "$first_wid" | grep -q IsViewable || fail "the open window is not shown" || return 1
    [ "$(log_count "$d" "プログラム起動")" -eq 1 ] || fail "log: $(log_text "$d")" || return 1

    launch_app "$WORK/second-other"
    [ "$(xdotool search --onlyvisible --name '^Oribeth$' | wc -l)" -eq 2 ] ||
        fail "other settings: not two windows" || return 1

    kill -KILL "$first"
    launch_app "$d" || return 1
    [ "$(log_count "$d" "プログラム起動")" -eq 2 ] || fail "after a kill: $(log_text "$d")" || return 1
}

# An owner of the settings' name that answers with an error: the start says
# it, with status 1, after one ask, and opens no window and writes no log.
case_owner_answers_an_error() {
    local d=$WORK/refused status=0
    mkdir -p "$d/prog" "$d/config"
    cp "$VARNEL" "$d/prog/varnel"
    "$CLAIM_OWNER" refuse "$d/config/Varnel/Varnel.conf" >"$d/owner" &
    local owner=$!
    APP_PIDS+=($owner)
    wait_for 10 grep -qx m "$d/owner" || fail "no owner" || return 1
    XDG_CONFIG_HOME=$d/config timeout 20 "$d/prog/varnel" 2>"$d/err" &
    local start=$!
    wait $start || status=$?
    [ "$status" -eq 1 ] || fail "status $status: $(cat "$d/err")" || return 1
    grep -qx "varnel: the open copy (process $owner) answered: org.freedesktop.DBus.Error.UnknownObject: .*" \
        "$d/err" || fail "said: $(cat "$d/err")" || return 1
    [ -z "$(xdotool search --all --pid "$start" 2>/dev/null)" ] || fail "a window opened" || return 1
    [ ! -e "$d/prog/Varnel.LOG" ] || fail "logged: $(log_text "$d")" || return 1
}

# Japanese through a real input method (ibus with Anthy): a time typed with
# it on (full-width) arms and fires as 07:30; romaji converted in the file
# field goes in at the caret, the Enter that commits it leaves the focus in
# the field and the next one moves on; the program with a Japanese name is
# started and logged.
case_japanese_input() {
    local d=$WORK/japanese rec=$WORK/japanese.runs
    ja_locale && start_ibus || return 1
    mkdir -p "$d"
    make_recorder "$d/日本.sh" "$rec"
    local "${IBUS_CLIENT[@]}"
    export QT_IM_MODULE IBUS_ADDRESS_FILE # for this case's program alone
    LANG=ja_JP.UTF-8 LOCPATH=$WORK/locale launch_app "$d" "$(offset_to 07:29:30)"
    click $XY_TIME
    xdotool key --clearmodifiers ctrl+a
    ime anthy || return 1
    xdotool type --delay 40 "07:30"
    xdotool key --delay 200 Return Return # commits, then moves on to ▼
    click $XY_FILE
    ime xkb:us::eng || return 1
    xdotool type --delay 10 -- "$d/.sh"
    xdotool key --delay 50 Left Left Left
    ime anthy || return 1
    xdotool type --delay 40 "nihon"
    xdotool key --delay 300 space Return Return # converts, commits, moves on to 開始
    ime xkb:us::eng || return 1
    xdotool key space # presses 開始, if that is where the focus is
    wait_for 10 log_has "$d" "パラメータ設定　07:30 － $d/日本.sh\$" ||
        fail "not armed with 07:30 and the converted name: $(log_text "$d")" || return 1
    wait_for 60 test -s "$rec" || fail "not launched: $(log_text "$d")" || return 1
    log_has "$d" "○起動成功（[0-9/]* 07:30:0[0-9]）：$d/日本.sh\$" ||
        fail "launch line: $(log_text "$d")" || return 1
}

# The toolkit's own texts (the field's menu, the chooser) in the user's
# language: Japanese under a Japanese locale, English under C.
case_toolkit_language() {
    local lang cut cancel open usage unknown pid d said before option status
    local version
    version=$(sed -n 's/^project(varnel VERSION \([0-9.]*\).*/\1/p' "$HERE/../../CMakeLists.txt")
    ja_locale || return 1
    for lang in "ja_JP.UTF-8|切り取り|キャンセル|Varnel はすでに開いています (プロセス %s)|使い方: |'bogus' は未知のオプションです。" \
        "C|Cut|Cancel|Varnel is already open (process %s)|Usage: |Unknown option 'bogus'."; do
        IFS='|' read -r lang cut cancel open usage unknown <<<"$lang"
        d=$WORK/lang-$lang said=$WORK/lang-$lang.said
        LANG=$lang LOCPATH=$WORK/locale QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
            launch_app "$d" || return 1
        pid=$APP_PID
        # The field's menu: its first item that can be chosen, once it is open.
        drive "$pid" focuses "$cut" >"$WORK/heard" &
        local listener=$!
        wait_for 20 grep -q listening "$WORK/heard" || fail "$lang: nobody listens" || return 1
        click $XY_FILE 3
        wait_for 20 eval 'xdotool key Down; ! kill -0 $listener 2>/dev/null'
        wait "$listener" || fail "$lang: the field's menu" || return 1
        xdotool key Escape
        xdotool mousemove --window "$WID" $XY_FILE click --repeat 2 --delay 80 1
        drive "$pid" shows "$cancel" >/dev/null || fail "$lang: the chooser" || return 1
        xdotool key Escape
        # Outside the window, last (a second start brings the window
        # forward): a second start, and the command line, which claims,
        # opens and writes nothing, the window being open or not. (The
        # chooser is gone once the toolkit has kept its widths.)
        wait_for 10 test -e "$d/config/QtProject.conf" || fail "$lang: the chooser stays" || return 1
        LANG=$lang XDG_CONFIG_HOME=$d/config timeout 10 "$d/prog/varnel" 2>"$said"
        grep -qx "$(printf "$open" "$pid")" "$said" || fail "$lang: a second start said: $(cat "$said")" ||
            return 1
        before=$(find "$d" -printf '%p %s %T@\n' | sort)
        for option in "--help 0 ^$usage" "--version 0 ^varnel $version\$" "--bogus 1 ^varnel: $unknown\$"; do
            set -- $option
            status=0
            LANG=$lang XDG_CONFIG_HOME=$d/config timeout 10 "$d/prog/varnel" "$1" >"$said" 2>&1 || status=$?
            [ "$status" = "$2" ] && head -n 1 "$said" | grep -q "${option#* * }" ||
                fail "$lang: $1 gave $status: $(cat "$said")" || return 1
        done
        [ "$(find "$d" -printf '%p %s %T@\n' | sort)" = "$before" ] || fail "$lang: the options wrote" || return 1
        stop_apps
    done
}

start_x
run_cases e2e ${E2E_CASES:-case_first_run_and_launch case_rejections case_sigterm_while_armed \
    case_session_save_and_logoff \
    case_stepper case_missing_file_and_odd_path case_spring_forward_gap case_chooser_typed_path \
    case_second_start case_owner_answers_an_error case_japanese_input case_toolkit_language}
