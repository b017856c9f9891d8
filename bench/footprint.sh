#!/usr/bin/env bash
# Footprint of the release program next to a bare Qt window built the same
# way: peak resident memory and the time from exec to the window being
# mapped (RUNS runs each, median and max), and the CPU time an armed program
# uses while it waits (IDLE seconds).
#
#   bench/footprint.sh [RUNS] [IDLE]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
runs=${1:-7}
idle=${2:-60}
ensure_packages "${RUN_PACKAGES[@]}" xvfb xauth xdotool openbox bc
build_release
VARNEL=$PWD/build/release/varnel
. tests/e2e/lib.sh
WORK=$(mktemp -d)
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
trap 'stop_all; rm -rf "$WORK"' EXIT
start_x

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

# An armed program waiting for a launch time that is not near.
launch_app "$WORK/idle"
type_into "$XY_TIME" "$(date -d '-2 hours' +%H:%M)"
type_into "$XY_FILE" /bin/true
click $XY_START
sleep 2
cpu0=$(awk '{print $1}' "/proc/$APP_PID/schedstat")
sleep "$idle"
cpu1=$(awk '{print $1}' "/proc/$APP_PID/schedstat")
log_has "$WORK/idle" "パラメータ設定" || { echo "not armed"; exit 1; }
echo "armed idle: $(echo "scale=4; ($cpu1 - $cpu0) / 1000000000" | bc) CPU-s in ${idle} s," \
    "$(echo "scale=3; ($cpu1 - $cpu0) / 1000000000 * 3600 / $idle" | bc) CPU-s per hour" \
    "(target: 0.5)"
