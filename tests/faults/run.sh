#!/usr/bin/env bash
# What the user gets when a system call Varnel depends on fails: the release
# program under strace's fault injection, on its own X server with openbox.
# One row per call; the table it prints is docs/faults.md.
#
#   tests/faults/run.sh VARNEL [TABLE]   (TABLE: also write the table there;
#                                          FAULT_ONLY=WORD: only the rows naming it)
set -uo pipefail
VARNEL=$(realpath "$1")
TABLE_OUT=${2:-}
HERE=$(dirname "$(realpath "$0")")
. "$HERE/../e2e/lib.sh"
# The boxes are read through the accessibility bus.
in_session_bus "$0" "$@"
# Resolved, so that the paths strace is given are the ones the program opens.
WORK=$(realpath "$(mktemp -d)")
export HOME=$WORK/home XDG_RUNTIME_DIR=$WORK/runtime QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
install -d -m 0700 "$HOME" "$XDG_RUNTIME_DIR"
trap 'stop_all; rm -rf "$WORK"' EXIT

# The rows: the call that fails | how strace makes it fail (LOG, JOB, CONF,
# CP932SO and GCONV stand for the row's log, program and settings file, the C
# library's CP932 converter module and its folder) | what the user gets.
ROWS=(
    "timerfd_create|-e inject=timerfd_create:error=ENOSYS|refused"
    "timerfd_settime, armed once at start|-e inject=timerfd_settime:error=EINVAL:when=1|refused"
    "timerfd_settime, the first aim after 開始 (the clock was set)|-e inject=timerfd_settime:error=ECANCELED:when=4|ontime"
    "read of the wall-clock timer, every wake (the clock was set)|-P anon_inode:[timerfd] -e inject=read:error=ECANCELED|ontime"
    "connect, to the session bus|-e inject=connect:error=ECONNREFUSED:when=1|unclaimed"
    "openat of the log, ENOSPC|-P LOG -e inject=openat:error=ENOSPC|launches"
    "openat of the log, EACCES|-P LOG -e inject=openat:error=EACCES|launches"
    "write to the log, ENOSPC|-P LOG -e inject=write:error=ENOSPC|launches"
    "write to the log, EACCES|-P LOG -e inject=write:error=EACCES|launches"
    "openat of the C library's CP932 converter, at the first line|-P CP932SO -e inject=openat:error=EMFILE:when=1|asciifirst"
    "openat of the C library's list of converters, every time|-P GCONV/gconv-modules.cache -P GCONV/gconv-modules -P GCONV/gconv-modules.d -e inject=openat:error=EMFILE|nocodepage"
    "linkat and renameat2, saving the settings|-P CONF -e inject=linkat,renameat2,rename:error=EROFS|savebox"
    "execve of the program, in the started child|-P JOB -e inject=execve:error=EACCES|failline"
)

# What each outcome means to the user, as the table says it.
declare -A SAYS=(
    [refused]="standard error says \`varnel: no wall-clock timer: …\`, status 1; no window, no log line"
    [ontime]="the program is launched at its minute all the same (the clock is read again and the timer aimed anew)"
    [unclaimed]="standard error says why there is no one-window claim; the window opens"
    [launches]="the window opens and the program is launched at its minute; nothing is shown, the lines are lost"
    [asciifirst]="that line is written with its ASCII as it is and \`?\` for the rest, and standard error says \`varnel: LOG: the log cannot be written in its code page (CP932); …\` once; the converter is asked for again at the next line, and every later line is whole"
    [nocodepage]="every line is written with its ASCII as it is and \`?\` for the rest, and standard error says so once, naming the log; the program is launched at its minute"
    [savebox]="at close the box 設定内容の保存に失敗しました。; the closing line is written; a start while the box is up brings it forward, says \`varnel: waiting for the open copy (process N) to close\` after three seconds and opens its own window once the box is answered (a stop signal ends that wait, status 1)"
    [failline]="\`×起動失敗（…）：\` lines in the log; nothing is shown; the window stays armed"
)

# run_traced DIR OFFSET INJECT...: starts the program from DIR/prog under
# strace (and libfaketime when OFFSET is set); sets APP_PID (strace's, which
# ends with the program and gives its status).
run_traced() {
    local dir=$1 offset=$2
    shift 2
    local fake=()
    [ -n "$offset" ] && fake=(-E "LD_PRELOAD=$FAKETIME_LIB" -E "FAKETIME=$offset")
    XDG_CONFIG_HOME=$dir/config XDG_STATE_HOME=$dir/state \
        strace -f -qq -ttt -o "$dir/trace" "${fake[@]}" "$@" -- "$dir/prog/varnel" 2>"$dir/stderr" &
    APP_PID=$!
}
# The calls strace made fail, in its own trace.
injected() { # DIR: 0 when strace left no trace at all
    local n
    n=$(grep -c '(INJECTED)' "$1/trace" 2>/dev/null)
    echo "${n:-0}"
}

window_of() { # PID: the program's window, once it is shown
    WID=$(xdotool search --all --onlyvisible --pid "$1" --name '^Oribeth$' 2>/dev/null | head -n 1)
    [ -n "$WID" ]
}
traced_pid() { ps -o pid= --ppid "$APP_PID" | tr -d ' '; } # the program strace started
box_up() { xdotool search --onlyvisible --name '^Varnel$' >/dev/null 2>&1; }
shown_window() { # waits for the traced program's window
    local pid
    wait_for 30 eval '[ -n "$(traced_pid)" ]' || return 1
    pid=$(traced_pid)
    wait_for 30 window_of "$pid"
}
ended() { ! kill -0 "$1" 2>/dev/null; }

check_refused() {
    local d=$1 status=0
    wait_for 30 ended "$APP_PID" || fail "still running" || return 1
    wait "$APP_PID" || status=$?
    [ "$status" -eq 1 ] || fail "status $status" || return 1
    grep -q "^varnel: no wall-clock timer: " "$d/stderr" || fail "said: $(cat "$d/stderr")" || return 1
    [ -z "$(find "$d" -name Varnel.LOG)" ] || fail "a log line was written" || return 1
    ! box_up && ! xdotool search --onlyvisible --name '^Oribeth$' >/dev/null 2>&1 ||
        fail "a window opened" || return 1
}

check_ontime() {
    local d=$1
    make_recorder "$d/job.sh" "$d/runs"
    shown_window "$d" || fail "no window" || return 1
    arm_window "07:30" "$d/job.sh"
    wait_for 60 test -s "$d/runs" || fail "not launched: $(log_text "$d")" || return 1
    log_has "$d" "○起動成功（[0-9/]* 07:30:0[0-9]）：$d/job.sh" || fail "log: $(log_text "$d")" ||
        return 1
    # What failed was the timer's: an aim, or a read (traced on the timer alone).
    grep '(INJECTED)' "$d/trace" | grep -q -E 'TFD_TIMER_ABSTIME\|TFD_TIMER_CANCEL_ON_SET| read\(' ||
        fail "not the timer's: $(grep '(INJECTED)' "$d/trace")" || return 1
}

check_unclaimed() {
    local d=$1 bus=${DBUS_SESSION_BUS_ADDRESS#unix:*=}
    shown_window "$d" || fail "no window" || return 1
    # strace counts each thread on its own: the bus's thread and the main
    # thread, whose first try (X11's abstract socket) Xlib makes again by path.
    grep '(INJECTED)' "$d/trace" | grep -q "connect(.*\"${bus%%,*}\"" ||
        fail "the bus was reached: $(grep '(INJECTED)' "$d/trace")" || return 1
    grep -q "^varnel: one window per user cannot be kept: .*Connection refused" "$d/stderr" ||
        fail "said: $(cat "$d/stderr")" || return 1
}

check_launches() {
    local d=$1
    make_recorder "$d/job.sh" "$d/runs"
    shown_window "$d" || fail "no window" || return 1
    arm_window "07:30" "$d/job.sh"
    wait_for 60 test -s "$d/runs" || fail "not launched" || return 1
    ! box_up || fail "a box is shown" || return 1
    [ ! -s "$d/prog/Varnel.LOG" ] && [ -z "$(find "$d/state" -name Varnel.LOG 2>/dev/null)" ] ||
        fail "log lines written: $(log_text "$d")" || return 1
}

check_savebox() {
    local d=$1
    shown_window "$d" || fail "no window" || return 1
    local first
    first=$(traced_pid)
    xdotool windowactivate --sync "$WID" key --clearmodifiers alt+F4
    wait_for 20 box_up || fail "no box" || return 1
    drive "$first" says "設定内容の保存に失敗しました。" >/dev/null || return 1
    local box
    box=$(xdotool search --onlyvisible --name '^Varnel$' | head -n 1)
    # A start while the box is up waits for the closing copy however long the
    # box stays up, says so once, and then opens its own window with what
    # that copy saved; a stop signal ends such a wait at once, status 1.
    local second third waiting="varnel: waiting for the open copy (process $first) to close"
    XDG_CONFIG_HOME=$d/config XDG_STATE_HOME=$d/state "$d/prog/varnel" 2>"$d/second.err" &
    second=$!
    XDG_CONFIG_HOME=$d/config XDG_STATE_HOME=$d/state "$d/prog/varnel" 2>"$d/third.err" &
    third=$!
    APP_PIDS+=($second $third)
    wait_for 20 eval 'grep -qxF "$waiting" "$d/second.err" && grep -qxF "$waiting" "$d/third.err"' ||
        fail "the starts said: $(cat "$d/second.err" "$d/third.err")" || return 1
    ! window_of "$second" || fail "a second window while the box is up" || return 1
    ! ended "$second" || fail "the second start left: $(cat "$d/second.err")" || return 1
    local status=0 t0=$SECONDS
    kill -TERM "$third"
    wait "$third" || status=$?
    [ "$status" -eq 1 ] && [ $((SECONDS - t0)) -le 2 ] ||
        fail "a stop signal while waiting: status $status after $((SECONDS - t0)) s" || return 1
    xdotool windowactivate --sync "$box" key --clearmodifiers Return 2>/dev/null ||
        xdotool key --window "$box" Return
    wait_for 20 ended "$APP_PID" || fail "did not close" || return 1
    wait_for 30 window_of "$second" || fail "the second start: $(cat "$d/second.err")" || return 1
    [ "$(cat "$d/second.err")" = "$waiting" ] || fail "the second start said: $(cat "$d/second.err")" ||
        return 1
    [ "$(log_count "$d" "プログラム終了")" -eq 1 ] && log_text "$d" | tail -n 1 | grep -q "プログラム起動" ||
        fail "log: $(log_text "$d")" || return 1
}

check_asciifirst() {
    local d=$1
    make_recorder "$d/job.sh" "$d/runs"
    shown_window "$d" || fail "no window" || return 1
    arm_window "07:30" "$d/job.sh"
    wait_for 60 log_has "$d" "○起動成功（[0-9/]* 07:30:0[0-9]）：$d/job.sh" ||
        fail "no whole launch line: $(log_text "$d")" || return 1
    head -n 1 "$d/prog/Varnel.LOG" | grep -qxE "\?{6}[0-9/]{10} [0-9:]{8}\?{10}07:29 \? $d/prog"$'\r' ||
        fail "the first line: $(head -n 1 "$d/prog/Varnel.LOG")" || return 1
    log_has "$d" "パラメータ設定　07:30 － $d/job.sh" || fail "log: $(log_text "$d")" || return 1
    grep -qF "varnel: $d/prog/Varnel.LOG: the log cannot be written" "$d/stderr" ||
        fail "said: $(cat "$d/stderr")" || return 1
}

check_nocodepage() {
    local d=$1
    make_recorder "$d/job.sh" "$d/runs"
    shown_window "$d" || fail "no window" || return 1
    arm_window "07:30" "$d/job.sh"
    wait_for 60 test -s "$d/runs" || fail "not launched: $(log_text "$d")" || return 1
    wait_for 10 grep -qE "^\?{6}[0-9/]{10} [0-9:]{8}\?{2}$d/job.sh"$'\r$' "$d/prog/Varnel.LOG" ||
        fail "the launch line: $(cat "$d/prog/Varnel.LOG")" || return 1
    [ "$(grep -c "cannot be written in its code page" "$d/stderr")" -eq 1 ] &&
        grep -qF "varnel: $d/prog/Varnel.LOG: the log cannot be written" "$d/stderr" ||
        fail "said: $(cat "$d/stderr")" || return 1
}

check_failline() {
    local d=$1
    make_recorder "$d/job.sh" "$d/runs"
    shown_window "$d" || fail "no window" || return 1
    local pid
    pid=$(traced_pid)
    arm_window "07:30" "$d/job.sh"
    wait_for 60 log_has "$d" "×起動失敗（[0-9/]* 07:30:0[0-9]）：$d/job.sh" ||
        fail "no failure line: $(log_text "$d")" || return 1
    wait_for 90 faked_clock_shows "$OFFSET" "07:31:0" || fail "the clock did not reach 07:31" || return 1
    drive "$pid" armed "07:30" "$d/job.sh" >/dev/null || fail "not armed after 07:30" || return 1
    [ ! -e "$d/runs" ] || fail "the program ran" || return 1
    ! box_up || fail "a box is shown" || return 1
}

start_x
passed=0
failed=0
table="| the call that fails | injected | what the user gets | |
| --- | --- | --- | --- |"
n=0
for row in "${ROWS[@]}"; do
    IFS='|' read -r call inject outcome <<<"$row"
    [[ $call == *"${FAULT_ONLY:-}"* ]] || continue # FAULT_ONLY=execve: that row alone
    n=$((n + 1))
    d=$WORK/row$n
    # The program's folder the user's alone, as its log beside it needs;
    # the settings and state folders private; whatever the caller's umask.
    install -d -m 0755 "$d" "$d/prog"
    install -d -m 0700 "$d/config" "$d/state"
    install -m 0755 "$VARNEL" "$d/prog/varnel"
    args=${inject//LOG/$d/prog/Varnel.LOG}
    args=${args//JOB/$d/job.sh}
    args=${args//CONF/$d/config/Varnel/Varnel.conf}
    args=${args//CP932SO/$(dpkg -L libc6 | grep -m 1 '/gconv/CP932\.so$')}
    args=${args//GCONV/$(dirname "$(dpkg -L libc6 | grep -m 1 '/gconv/CP932\.so$')")}
    OFFSET=
    [[ $outcome =~ ^(launches|failline|ontime|asciifirst|nocodepage)$ ]] &&
        OFFSET=$(offset_to 07:29:40)
    # shellcheck disable=SC2086 # the injection is words
    run_traced "$d" "$OFFSET" $args
    "check_$outcome" "$d"
    checked=$?
    # Every copy this row started closes as a user's would; strace ends with
    # the one it traces.
    pid=$(traced_pid)
    [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null
    wait_for 30 ended "$APP_PID" || kill -KILL "$APP_PID" 2>/dev/null
    wait "$APP_PID" 2>/dev/null
    stop_apps
    # The row holds only where strace made the call fail.
    count=$(injected "$d")
    [ "$count" -gt 0 ] || fail "nothing was injected"
    if [ "$checked" -eq 0 ] && [ "$count" -gt 0 ]; then
        verdict=ok
        passed=$((passed + 1))
    else
        verdict="**not ok**"
        failed=$((failed + 1))
    fi
    echo "$verdict: faults $call (injected $count)"
    table+=$'\n'"| $call | \`${inject//|/\\|}\` | ${SAYS[$outcome]} | $verdict |"
done
echo
echo "$table"
[ -n "$TABLE_OUT" ] && printf '%s\n' "$table" >"$TABLE_OUT"
echo "faults: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
