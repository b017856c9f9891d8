#!/usr/bin/env bash
# How long after the launch minute begins the program is started: the real
# release binary on the real clock, five launches in five consecutive minutes,
# each timed by a child that records its own start.
#
#   bench/launch_latency.sh [LAUNCHES]
set -euo pipefail
cd "$(dirname "$0")/.."
launches=${1:-5}
. bench/lib.sh
cp build/release/bench/launch_recorder "$WORK/recorder"
launch_app "$WORK/app"
type_into "$XY_FILE" "$WORK/recorder"
recorded() { [ -f "$WORK/recorder.times" ] && [ "$(wc -l <"$WORK/recorder.times")" -ge "$1" ]; }

echo "launch  latency_ms"
worst=0
for i in $(seq "$launches"); do
    now=$(date +%s)
    target=$(((now / 60 + 1) * 60))
    [ $((target - now)) -lt 8 ] && target=$((target + 60))
    type_into "$XY_TIME" "$(date -d "@$target" +%H:%M)"
    click $XY_START
    wait_for 75 recorded "$i" ||
        { echo "launch $i did not happen"; exit 1; }
    started=$(sed -n "${i}p" "$WORK/recorder.times")
    ms=$(echo "($started - $target) * 1000" | bc -l | xargs printf '%.1f')
    echo "$i       $ms"
    worst=$(echo "if ($ms > $worst) $ms else $worst" | bc -l)
    click $XY_STOP
done
printf 'max     %.1f ms (target: 20 ms)\n' "$worst"
