#!/usr/bin/env bash
# The rack over a real MIDI server: a private JACK dummy server (48 kHz, period 256, i.e.
# 5.3 ms), four qz81kt-emu units and "qz81kt serve --ember", then, each beside its peer:
#   1. idle CPU of the rack of four linked units, beside four "qz81kt status --watch";
#   2. set -> read-back at an Ember+ consumer, beside "qz81kt set" on the same unit;
#   3. 16 consumers subscribed to everything, beside one;
#   4. the soak: CYCLES unplug/replug cycles of one unit while two consumers stay
#      subscribed; the service's memory at the start and the end. Exit status 1 when a
#      cycle did not come back, a consumer was disconnected or serve ended.
# usage: bench/rack-bench.sh [BUILD_DIR] [SECONDS] [CYCLES]
set -u
build=${1:-build}
secs=${2:-30}
cycles=${3:-200}
here=$(cd "$(dirname "$0")" && pwd)
server_script="$here/../tests/support/jack-dummy-server.sh"
cli=$build/cli/qz81kt
emu=$build/emulator/program/qz81kt-emu
consumers=$build/bench/bench_ember_consumers
work=$(mktemp -d)
declare -A emu_pid
serve_pid="" watch_pid=""

source "$here/jack-common.sh"
finish_more() {
    for p in $watch_pid $serve_pid "${emu_pid[@]}"; do kill -INT "$p" 2>/dev/null; done
}

start_emu() {
    local unit=$1 log=$work/emu-$1.log seen
    seen=$(grep -c "ready on JACK" "$log" 2>/dev/null)
    "$emu" --api jack --name "QZ-81KT-$unit" --product-id "unit-$unit" >>"$log" 2>&1 &
    emu_pid[$unit]=$!
    for _ in $(seq 100); do
        [[ $(grep -c "ready on JACK" "$log" 2>/dev/null) -gt ${seen:-0} ]] && return 0
        sleep 0.02
    done
    fail "emulator $unit did not start"
}
stop_emu() {
    kill -INT "${emu_pid[$1]}"
    wait "${emu_pid[$1]}" 2>/dev/null
}
# CPU time in nanoseconds over all threads of the given processes.
cpu_ns() {
    local p
    for p in "$@"; do cat /proc/"$p"/task/*/schedstat 2>/dev/null; done | awk '{ s += $1 } END { printf "%d", s }'
}
rss_kb() { awk '/^VmRSS/ { print $2 }' /proc/"$1"/status; }
percent() { awk -v d="$1" -v s="$secs" 'BEGIN { printf "%.3f %% of a core (%.1f ms of CPU over %d s)", 100 * d / 1e9 / s, d / 1e6, s }'; }

for unit in A B C D; do start_emu $unit; done

# 1. Idle: four watches, then the rack.
pids=()
for unit in A B C D; do
    "$cli" --api jack --in "QZ-81KT-$unit" --out "QZ-81KT-$unit" status --watch >/dev/null &
    pids+=($!)
done
sleep 2
t0=$(cpu_ns "${pids[@]}")
sleep "$secs"
watches=$(($(cpu_ns "${pids[@]}") - t0))
kill -INT "${pids[@]}"
wait "${pids[@]}" 2>/dev/null

port=$((20000 + $$ % 20000))
"$cli" --api jack serve --ember "127.0.0.1:$port" >"$work/serve.log" 2>&1 &
serve_pid=$!
wait_lines "$work/serve.log" " online on " 4 || fail "the rack did not come online: $(cat "$work/serve.log")"
sleep 2
t0=$(cpu_ns $serve_pid)
sleep "$secs"
rack=$(($(cpu_ns $serve_pid) - t0))
echo "idle, four linked units: qz81kt serve $(percent $rack)"
echo "                  peer: four qz81kt status --watch $(percent $watches)"
awk -v r=$rack -v w=$watches 'BEGIN { printf "                  ratio: %.2f (goal <= 1)\n", r / w }'

# 2. Set -> read-back. The first unit online is number 1 in the tree.
first=$(grep -m1 -o " online on QZ-81KT-[A-D]" "$work/serve.log" | tail -c 2)
"$consumers" "$port" latency 200 || fail "the latency run failed"
ms=()
for i in $(seq 20); do
    t0=$(date +%s%N)
    "$cli" --api jack --in "QZ-81KT-$first" --out "QZ-81KT-$first" set fan=$( ((i % 2)) && echo on || echo off) >/dev/null ||
        fail "qz81kt set failed"
    ms+=($((($(date +%s%N) - t0) / 1000)))
done
printf '%s\n' "${ms[@]}" | sort -n | awk '{ v[NR] = $1 } END {
    printf "                  peer: qz81kt set fan on the same unit, the whole command: median %.1f ms, max %.1f ms (%d runs)\n",
        v[int((NR + 1) / 2)] / 1000, v[NR] / 1000, NR }'

# 3. Fan-out.
"$consumers" "$port" fanout 1 5 || fail "one consumer heard nothing"
"$consumers" "$port" fanout 16 "$secs" || fail "the 16 consumers heard nothing"

# 4. Soak.
[[ $cycles -gt 0 ]] || exit 0
"$consumers" "$port" watch 2 >"$work/watch.txt" 2>&1 &
watch_pid=$!
wait_lines "$work/watch.txt" "online" 2 || fail "the consumers did not see unit $first online: $(cat "$work/watch.txt")"
rss_start=$(rss_kb $serve_pid)
soak_start=$(date +%s%N)
for ((c = 1; c <= cycles; c++)); do
    stop_emu "$first"
    wait_lines "$work/watch.txt" "offline" $((2 * c)) || fail "cycle $c: offline not heard by both consumers"
    start_emu "$first"
    wait_lines "$work/watch.txt" ": online" $((2 * c + 2)) || fail "cycle $c: not back online at both consumers"
    kill -0 $serve_pid 2>/dev/null || fail "cycle $c: serve ended"
    kill -0 $watch_pid 2>/dev/null || fail "cycle $c: a consumer lost its connection: $(tail -1 "$work/watch.txt")"
    [[ $c == 1 ]] && rss_first=$(rss_kb $serve_pid)
done
soak_s=$((($(date +%s%N) - soak_start) / 1000000000))
rss_end=$(rss_kb $serve_pid)
kill -INT $watch_pid
wait $watch_pid
rc=$?
watch_pid=""
[[ $rc == 0 ]] || fail "the consumers ended with $rc: $(tail -1 "$work/watch.txt")"
echo "soak: $cycles unplug/replug cycles of unit $first in $soak_s s, each back online at both consumers;" \
    "$(tail -1 "$work/watch.txt"); serve's RSS $rss_start kB at the start, $rss_first kB after the first cycle," \
    "$rss_end kB at the end"
