#!/usr/bin/env bash
# make run: starts the simulated machine, reads it as "von Maschine" does (kelvane-cli read),
# shows the image it holds (kelvane-cli show) and stops the machine again.
set -euo pipefail
build=${1:-build}
bin="$build/bin"
if [ ! -x "$bin/kelvane-cli" ] || [ ! -x "$bin/kelvane-sim" ]; then
    echo "Nothing to run yet: $bin/kelvane-cli and $bin/kelvane-sim are not built."
    exit 1
fi

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

# The machine keeps its memory in the run folder; its first line is the device path.
"$bin/kelvane-sim" --state "$work/machine" --no-announce >"$work/sim.out" 2>"$work/sim.err" &
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
echo "Simulated machine on $device"

"$bin/kelvane-cli" read --port "$device" "$work/machine.bin"
echo
echo "The machine's parameter image:"
"$bin/kelvane-cli" show "$work/machine.bin"
