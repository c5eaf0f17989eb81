#!/usr/bin/env bash
# make run: starts the simulated machine and the program connected to it. Without a display
# the program runs on Qt's offscreen platform: it reads the machine once, saves a picture of
# its window and ends.
set -euo pipefail
build=${1:-build}
bin="$build/bin"
for exe in kelvane kelvane-sim; do
    if [ ! -x "$bin/$exe" ]; then
        echo "Nothing to run yet: $bin/$exe is not built." >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-run.XXXXXX")
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# The machine keeps its memory beside the build, so what was written survives the next run.
state="$build/sim-state"
mkdir -p "$state"
"$bin/kelvane-sim" --state "$state" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
device=""
for _ in $(seq 100); do
    device=$(head -n 1 "$work/sim.out" 2>/dev/null || true)
    [ -n "$device" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$device" ]; then
    echo "The simulated machine did not start:" >&2
    cat "$work/sim.err" >&2 || true
    exit 1
fi
echo "Simulated machine on $device (its memory is kept in $state)"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo "Starting kelvane with $device selected; close the window to end."
    "$bin/kelvane" --port "$device"
else
    picture="$build/kelvane-window.png"
    echo "No display: kelvane runs on the offscreen platform, reads the machine once"
    echo "(\"von Maschine\") and saves a picture of its window to $picture."
    QT_QPA_PLATFORM=offscreen "$bin/kelvane" --port "$device" --read --screenshot "$picture"
    echo "Saved $picture. On a desktop 'make run' opens the window itself."
fi
