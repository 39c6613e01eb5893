#!/bin/bash
# A private JACK server on the dummy driver for tests that need real MIDI ports.
#
#   jack-dummy-server.sh start [NAME [OWNER_PID]]
#                                       start a server; prints "NAME PID" once it answers.
#                                       With OWNER_PID, a watchdog stops the server when
#                                       that process ends (a test program that crashed)
#   jack-dummy-server.sh stop NAME      SIGTERM, wait (SIGKILL after 10 s), tidy /dev/shm
#   jack-dummy-server.sh kill NAME      SIGKILL at once (a server that dies under its clients)
#   jack-dummy-server.sh reclaim NAME   after kill, once its clients are gone: frees the
#                                       server's slot in JACK's registry (only 8 exist and a
#                                       killed server's slot is reused only by its own name)
#   jack-dummy-server.sh cleanup [NAME] remove what dead servers left in /dev/shm
#   jack-dummy-server.sh late NAME      how many times a client missed its cycle so far
#                                       (what it was sent in that cycle is lost)
#
# Clients reach the server with JACK_DEFAULT_SERVER=NAME. Start clients after the
# server and stop them before it. The server's output goes to $STATE_DIR/NAME.log.
set -u

STATE_DIR="${QZ81KT_JACK_STATE_DIR:-${TMPDIR:-/tmp}/qz81kt-jack}"
SHM_DIR=/dev/shm
UID_NOW=$(id -u)

die() {
    echo "jack-dummy-server: $*" >&2
    exit 1
}

pid_of() {
    local f="$STATE_DIR/$1.pid"
    [[ -r $f ]] && cat "$f"
}

alive() {
    [[ -n ${1:-} ]] && kill -0 "$1" 2>/dev/null
}

# The server answers once a client can connect (jack_wait -c exits 0 either way: read it).
# A client can block for ever on a server that is half up or half dead: ask with a limit.
ask_running() {
    JACK_NO_START_SERVER=1 timeout -k 1 3 jack_wait -s "$1" -c 2>/dev/null
}

wait_ready() {
    local name=$1 pid=$2 i
    for ((i = 0; i < 100; i++)); do
        alive "$pid" || return 1
        if [[ $(ask_running "$name") == running ]]; then
            return 0
        fi
        sleep 0.05
    done
    return 1
}

launch() {
    local name=$1 realtime=$2
    local args=(-n "$name" --port-max 32)
    [[ $realtime == 1 ]] && args+=(-R)
    args+=(-d dummy -r 48000 -p 256)
    setsid jackd "${args[@]}" >"$STATE_DIR/$name.log" 2>&1 </dev/null &
    echo $!
}

# Shared-memory segments (jack-UID-N) carry no server name. A live server maps all of
# its own segments, so a segment that no running jackd maps belongs to a dead one.
remove_orphan_segments() {
    local seg pid used
    local pids
    pids=$(pgrep -x jackd || true)
    # A server that is starting has not mapped its new segments yet: spare fresh ones.
    for seg in $(find "$SHM_DIR" -maxdepth 1 -name "jack-$UID_NOW-*" ! -newermt '-10 seconds' 2>/dev/null); do
        [[ -e $seg ]] || continue
        used=0
        for pid in $pids; do
            if grep -qF "$seg" "/proc/$pid/maps" 2>/dev/null; then
                used=1
                break
            fi
        done
        [[ $used == 0 ]] && rm -f "$seg"
    done
}

cleanup() {
    local name=${1:-}
    if [[ -n $name ]]; then
        rm -f "$SHM_DIR"/jack_"$name"_* "$SHM_DIR"/jack_sem."$UID_NOW"_"$name"_*
        rm -f "$STATE_DIR/$name.pid"
    fi
    remove_orphan_segments
}

cmd_start() {
    command -v jackd >/dev/null || die "jackd not installed"
    mkdir -p "$STATE_DIR" || die "cannot create $STATE_DIR"
    local name=${1:-qz81kt-$$-$RANDOM} owner=${2:-}
    alive "$(pid_of "$name")" && die "a server named $name already runs"
    cleanup "$name"
    local pid i
    # JACK allows only a few servers per machine: wait for a place when parallel tests
    # hold them. A server that dies at once while others start is simply tried again.
    # Bounded in time, not only in tries: a test waiting here must fail well before
    # CTest's timeout, never look like a hang.
    local deadline=$((SECONDS + 40))
    for ((i = 0; i < 60 && SECONDS < deadline; i++)); do
        pid=$(launch "$name" 1)
        wait_ready "$name" "$pid" && break
        alive "$pid" && kill -KILL "$pid" 2>/dev/null
        cleanup "$name"
        if ! grep -q "Too many servers" "$STATE_DIR/$name.log" 2>/dev/null; then
            ((i >= 2)) && break
        elif [[ -z $(ps -C jackd -o stat= 2>/dev/null | grep -v '^Z') ]]; then
            # Every slot is held by servers that died (SIGKILL leaves them behind, also
            # across runs on the same machine) and none is alive: the registry is stale.
            rm -f "$SHM_DIR/jack-shm-registry"
            remove_orphan_segments
        fi
        sleep 1
    done
    if ! alive "$pid" || [[ $(ask_running "$name") != running ]]; then
        # Realtime scheduling may be refused outside root or a realtime group.
        alive "$pid" && kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        cleanup "$name"
        pid=$(launch "$name" 0)
        if ! wait_ready "$name" "$pid"; then
            alive "$pid" && kill -KILL "$pid" 2>/dev/null
            cleanup "$name"
            die "server $name did not start; see $STATE_DIR/$name.log"
        fi
    fi
    echo "$pid" >"$STATE_DIR/$name.pid"
    if [[ -n $owner ]]; then
        local self
        self=$(readlink -f "$0")
        setsid bash -c 'while kill -0 "$1" 2>/dev/null && kill -0 "$2" 2>/dev/null; do sleep 1; done
            kill -0 "$2" 2>/dev/null && "$3" stop "$4"' watchdog "$owner" "$pid" "$self" "$name" \
            >/dev/null 2>&1 </dev/null &
    fi
    echo "$name $pid"
}

cmd_stop() {
    local name=${1:?stop needs a server name} sig=${2:-TERM}
    local pid i
    pid=$(pid_of "$name")
    if alive "$pid"; then
        kill "-$sig" "$pid" 2>/dev/null
        for ((i = 0; i < 200; i++)); do
            alive "$pid" || break
            sleep 0.05
        done
        if alive "$pid"; then
            kill -KILL "$pid" 2>/dev/null
            for ((i = 0; i < 40; i++)); do
                alive "$pid" || break
                sleep 0.05
            done
        fi
    fi
    # A server killed, or one that lost a client badly on its way down, keeps its slot in
    # JACK's registry: free it, or eight such stops leave no server able to start.
    if [[ $sig == TERM ]] && ! alive "$pid" && in_registry "$name"; then
        cmd_reclaim "$name"
        return
    fi
    cleanup "$name"
}

in_registry() {
    grep -aqF -- "jack-$UID_NOW:$1:" "$SHM_DIR/jack-shm-registry" 2>/dev/null
}

# Starting and stopping a server under the dead one's name clears its registry slot.
cmd_reclaim() {
    local name=${1:?reclaim needs a server name} pid i
    alive "$(pid_of "$name")" && return 0
    mkdir -p "$STATE_DIR"
    pid=$(launch "$name" 0)
    if wait_ready "$name" "$pid"; then
        kill -TERM "$pid" 2>/dev/null
        for ((i = 0; i < 200; i++)); do
            alive "$pid" || break
            sleep 0.05
        done
    fi
    alive "$pid" && kill -KILL "$pid" 2>/dev/null
    cleanup "$name"
}

# Each missed cycle is one "client = NAME was not finished" line in the server's log.
cmd_late() {
    local name=${1:?late needs a server name}
    grep -c "was not finished" "$STATE_DIR/$name.log" 2>/dev/null || true
}

case ${1:-} in
start) cmd_start "${2:-}" "${3:-}" ;;
stop) cmd_stop "${2:-}" TERM ;;
kill) cmd_stop "${2:-}" KILL ;;
reclaim) cmd_reclaim "${2:-}" ;;
cleanup) cleanup "${2:-}" ;;
late) cmd_late "${2:-}" ;;
*)
    sed -n '2,21p' "$0" >&2
    exit 2
    ;;
esac
