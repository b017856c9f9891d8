# Shared by the benchmarks: a release build and a display of their own.
# Usage: . bench/lib.sh   (from the project root)
# In a session bus of their own, as on a desktop: the one-window claim lives there.
if [ -z "${VARNEL_BENCH_SESSION:-}" ]; then
    exec env VARNEL_BENCH_SESSION=1 dbus-run-session -- bash "$0" "$@"
fi
. scripts/lib.sh
ensure_packages "${RUN_PACKAGES[@]}" xvfb xauth xfonts-base xdotool x11-utils openbox bc
build_release
VARNEL=$PWD/build/release/varnel
. tests/e2e/lib.sh
WORK=$(mktemp -d)
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
trap 'stop_all; rm -rf "$WORK"' EXIT
start_x
