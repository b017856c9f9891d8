#!/usr/bin/env bash
# Footprint of the release program next to a bare Qt window built the same
# way: peak resident memory and the time from exec to the window being
# mapped (RUNS runs each, median and max), and the CPU time an armed program
# uses while it waits (IDLE seconds).
#
#   bench/footprint.sh [RUNS] [IDLE]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
idle=${2:-60}
. bench/lib.sh

# measure NAME TITLE COMMAND...: prints "startup_ms rss_kib" for one run.
measure() {
    local title=$1
    shift
    local t0 t1 pid
    t0=$(date +%s%N)
    "$@" &
    pid=$!
    until xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1; do :; done
    t1=$(date +%s%N)
    sleep 1
    local rss
    rss=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status")
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "$(((t1 - t0) / 100000)) $rss"
}

stats() { # prints median and max of the numbers on stdin
    sort -n | awk '{v[NR] = $1} END {printf "%s %s\n", v[int((NR + 1) / 2)], v[NR]}'
}

declare -A startup rss
mkdir -p "$WORK/app/prog" "$WORK/app/config"
cp "$VARNEL" "$WORK/app/prog/varnel"
for i in $(seq "$runs"); do
    read -r s r < <(measure Bare build/release/bench/bare_window)
    startup[bare]+="$s"$'\n'
    rss[bare]+="$r"$'\n'
    read -r s r < <(XDG_CONFIG_HOME=$WORK/app/config measure Oribeth "$WORK/app/prog/varnel")
    startup[varnel]+="$s"$'\n'
    rss[varnel]+="$r"$'\n'
done
printf '%-12s %22s %22s\n' "" "start-up ms (med, max)" "peak RSS KiB (med, max)"
for p in bare varnel; do
    read -r sm sx < <(printf '%s' "${startup[$p]}" | stats)
    read -r rm rx < <(printf '%s' "${rss[$p]}" | stats)
    printf '%-12s %15s %6s %15s %6s\n' "$p" "$(echo "scale=1; $sm / 10" | bc)" \
        "$(echo "scale=1; $sx / 10" | bc)" "$rm" "$rx"
done

cpu() { awk '{print $1}' "/proc/$1/schedstat"; }
per_hour() { echo "scale=3; ($2 - $1) / 1000000000 * 3600 / $idle" | bc; }

# The cost of waking once a second at all: a bare window with a 1 s timer.
build/release/bench/bare_window --tick &
bare=$!
APP_PIDS+=($bare)
sleep 3
b0=$(cpu $bare)
sleep "$idle"
b1=$(cpu $bare)
kill "$bare"

# An armed program waiting for a launch time that is not near.
launch_app "$WORK/idle"
type_into "$XY_TIME" "$(date -d '-2 hours' +%H:%M)"
type_into "$XY_FILE" /bin/true
click $XY_START
sleep 3
cpu0=$(cpu "$APP_PID")
sleep "$idle"
cpu1=$(cpu "$APP_PID")
log_has "$WORK/idle" "パラメータ設定" || { echo "not armed"; exit 1; }
echo "idle over ${idle} s, in CPU-s per hour (target for the armed program: 0.5):"
echo "  bare window with a 1 s timer: $(per_hour "$b0" "$b1")"
echo "  varnel, armed:                $(per_hour "$cpu0" "$cpu1")"
