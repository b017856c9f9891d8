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
WORK=$(mktemp -d)
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
trap 'stop_all; rm -rf "$WORK"' EXIT

# The rows: the call that fails | how strace makes it fail (LOG, JOB and CONF
# stand for the row's log, program and settings folder) | what the user gets.
ROWS=(
    "timerfd_create|-e inject=timerfd_create:error=ENOSYS|refused"
    "timerfd_settime, armed once at start|-e inject=timerfd_settime:error=EINVAL:when=1|refused"
    "socket, for the one-window claim|-e inject=socket:error=EMFILE:when=1..3|unclaimed"
    "bind, for the claim|-e inject=bind:error=EADDRINUSE:when=1|unclaimed"
    "listen, for the claim|-e inject=listen:error=ENOBUFS:when=1|unclaimed"
    "flock, the claim's lock|-e inject=flock:error=ENOLCK:when=1|unclaimed"
    "accept4 EMFILE, a second start arriving|-e inject=accept4:error=EMFILE:when=1..10|served"
    "openat of the log, ENOSPC|-P LOG -e inject=openat:error=ENOSPC|launches"
    "openat of the log, EACCES|-P LOG -e inject=openat:error=EACCES|launches"
    "write to the log, ENOSPC|-P LOG -e inject=write:error=ENOSPC|launches"
    "write to the log, EACCES|-P LOG -e inject=write:error=EACCES|launches"
    "linkat and renameat2, saving the settings|-e inject=linkat,renameat2,rename:error=EROFS|savebox"
    "execve of the program, in the started child|-P JOB -e inject=execve:error=EACCES|failline"
)

# What each outcome means to the user, as the table says it.
declare -A SAYS=(
    [refused]="standard error says \`varnel: no wall-clock timer: …\`, status 1; no window, no log line"
    [unclaimed]="standard error says why there is no one-window claim; the window opens, as without a runtime folder"
    [served]="no busy loop (the holder rests 100 ms after each refusal); the second start is served: \`Varnel is already open\`, status 0"
    [launches]="the window opens and the program is launched at its minute; nothing is shown, the lines are lost"
    [savebox]="at close the box 設定内容の保存に失敗しました。; the closing line is written; a start while the box is up opens its own window"
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
    XDG_CONFIG_HOME=$dir/config strace -f -qq -ttt -o "$dir/trace" "${fake[@]}" "$@" \
        -- "$dir/prog/varnel" 2>"$dir/stderr" &
    APP_PID=$!
}

window_of() { # PID: the program's window, once it is shown
    WID=$(xdotool search --all --onlyvisible --pid "$1" --name '^Oribeth$' 2>/dev/null | head -n 1)
    [ -n "$WID" ]
}
traced_pid() { pgrep -f -n "^$1/prog/varnel\$"; } # DIR: the program under strace
box_up() { xdotool search --onlyvisible --name '^Varnel$' >/dev/null 2>&1; }
shown_window() { # DIR: waits for the traced program's window
    local pid
    wait_for 30 sh -c "pgrep -f -n '^$1/prog/varnel\$' >/dev/null" || return 1
    pid=$(traced_pid "$1")
    wait_for 30 window_of "$pid"
}

check_refused() {
    local d=$1 status=0
    wait "$APP_PID" || status=$?
    [ "$status" -eq 1 ] || fail "status $status" || return 1
    grep -q "^varnel: no wall-clock timer: " "$d/stderr" || fail "said: $(cat "$d/stderr")" || return 1
    [ ! -e "$d/prog/Varnel.LOG" ] || fail "a log line was written" || return 1
    ! box_up && ! xdotool search --onlyvisible --name '^Oribeth$' >/dev/null 2>&1 ||
        fail "a window opened" || return 1
}

check_unclaimed() {
    local d=$1
    shown_window "$d" || fail "no window" || return 1
    grep -q "^varnel: one window per user cannot be kept: " "$d/stderr" ||
        fail "said: $(cat "$d/stderr")" || return 1
}

check_served() {
    local d=$1 status=0
    shown_window "$d" || fail "no window" || return 1
    XDG_CONFIG_HOME=$d/config timeout 10 "$d/prog/varnel" 2>"$d/second.err" || status=$?
    [ "$status" -eq 0 ] && grep -q "^Varnel is already open (process $(traced_pid "$d"))$" "$d/second.err" ||
        fail "second start: status $status, $(cat "$d/second.err")" || return 1
    # Ten refusals in a row: the holder rests between them rather than spin.
    local spread
    spread=$(awk '/accept4\(.*EMFILE/ { if (!first) first = $2; last = $2 } END { print last - first }' \
        "$d/trace")
    awk -v s="$spread" 'BEGIN { exit !(s >= 0.8) }' || fail "ten refusals within $spread s" || return 1
}

check_launches() {
    local d=$1
    make_recorder "$d/job.sh" "$d/runs"
    shown_window "$d" || fail "no window" || return 1
    arm_window "07:30" "$d/job.sh"
    wait_for 60 test -s "$d/runs" || fail "not launched" || return 1
    ! box_up || fail "a box is shown" || return 1
    [ ! -s "$d/prog/Varnel.LOG" ] || fail "log lines written: $(log_text "$d")" || return 1
}

check_savebox() {
    local d=$1
    shown_window "$d" || fail "no window" || return 1
    xdotool windowactivate --sync "$WID" key --clearmodifiers alt+F4
    wait_for 20 box_up || fail "no box" || return 1
    local box
    box=$(xdotool search --onlyvisible --name '^Varnel$' | head -n 1)
    # The claim was given up before the box: a start now opens its own window.
    XDG_CONFIG_HOME=$d/config "$d/prog/varnel" 2>"$d/second.err" &
    local second=$!
    APP_PIDS+=($second)
    wait_for 30 window_of "$second" || fail "the second start: $(cat "$d/second.err")" || return 1
    xdotool windowactivate --sync "$box" key --clearmodifiers Return 2>/dev/null ||
        xdotool key --window "$box" Return
    wait_for 20 sh -c "! kill -0 $APP_PID 2>/dev/null" || fail "did not close" || return 1
    [ "$(log_count "$d" "プログラム終了")" -eq 1 ] || fail "log: $(log_text "$d")" || return 1
}

check_failline() {
    local d=$1
    make_recorder "$d/job.sh" "$d/runs"
    shown_window "$d" || fail "no window" || return 1
    arm_window "07:30" "$d/job.sh"
    wait_for 60 log_has "$d" "×起動失敗（[0-9/]* 07:30:0[0-9]）：$d/job.sh" ||
        fail "no failure line: $(log_text "$d")" || return 1
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
    [[ $call == *"${FAULT_ONLY:-}"* ]] || continue # FAULT_ONLY=accept4: that row alone
    n=$((n + 1))
    d=$WORK/row$n
    mkdir -p "$d/prog" "$d/config"
    cp "$VARNEL" "$d/prog/varnel"
    args=${inject//LOG/$d/prog/Varnel.LOG}
    args=${args//JOB/$d/job.sh}
    offset=
    [[ $outcome = launches || $outcome = failline ]] && offset=$(offset_to 07:29:40)
    # shellcheck disable=SC2086 # the injection is words
    run_traced "$d" "$offset" $args
    if "check_$outcome" "$d"; then
        verdict=ok
        passed=$((passed + 1))
    else
        verdict="**not ok**"
        failed=$((failed + 1))
    fi
    echo "$verdict: faults $call"
    table+=$'\n'"| $call | \`${inject//|/\\|}\` | ${SAYS[$outcome]} | $verdict |"
    # Every copy this row started closes as a user's would; strace ends with it.
    pkill -TERM -f "^$d/prog/varnel\$" 2>/dev/null
    wait "$APP_PID" 2>/dev/null
    stop_apps
done
echo
echo "$table"
[ -n "$TABLE_OUT" ] && printf '%s\n' "$table" >"$TABLE_OUT"
echo "faults: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
