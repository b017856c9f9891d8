# Shared by the benchmarks: a release build and a display of their own.
# Usage: . bench/lib.sh   (from the project root)
. tests/e2e/lib.sh
in_session_bus "$0" "$@"
. scripts/lib.sh
ensure_packages "${RUN_PACKAGES[@]}" xvfb xauth xfonts-base xdotool x11-utils openbox bc linux-perf
build_release
VARNEL=$PWD/build/release/varnel
WORK=$(mktemp -d)
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
trap 'stop_all; rm -rf "$WORK"' EXIT
start_x
