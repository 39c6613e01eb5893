#!/usr/bin/env bash
# Benchmarks over a real MIDI server: a private JACK dummy server (48 kHz, period 256,
# i.e. 5.3 ms), qz81kt-emu, then
#   1. the dump time (request-all sent -> complete image), median and 99th percentile;
#   2. the CPU of a linked, idle session on RtMidi's JACK backend against ours;
#   3. the idle CPU of "qz81kt status --watch" over 30 s, without and with --reconnect.
# usage: bench/jack-bench.sh [BUILD_DIR] [WATCH_SECONDS]
set -u
build=${1:-build}
secs=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
server_script="$here/../tests/support/jack-dummy-server.sh"
read -r server _ < <(bash "$server_script" start "qz81kt-bench-$$") || exit 1
export JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1
"$build/emulator/program/qz81kt-emu" --api jack >/dev/null 2>&1 &
emu=$!
trap 'kill -INT $emu 2>/dev/null; wait $emu 2>/dev/null; bash "$server_script" stop "$server"' EXIT
sleep 0.5

"$build/bench/bench_jack_dump" 200
"$build/bench/bench_jack_idle" 5 5

# CPU time in nanoseconds over all threads (schedstat is exact where clock ticks are not).
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%d", s }'; }
# Idle CPU of one status watch; the port watch of --reconnect against the plain watch.
idle_cpu() {
    "$build/cli/qz81kt" --api jack status --watch "$@" >/dev/null &
    local watch=$! t0 t1
    sleep 2
    t0=$(cpu_ns $watch)
    sleep "$secs"
    t1=$(cpu_ns $watch)
    kill -INT $watch
    wait $watch
    awk -v d=$((t1 - t0)) -v s="$secs" -v what="status --watch $*" \
        'BEGIN { printf "%s over %d s: %.3f %% of a core (%.1f ms of CPU)\n", what, s, 100 * d / 1e9 / s, d / 1e6 }'
}
idle_cpu
idle_cpu --reconnect
