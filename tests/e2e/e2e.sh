#!/usr/bin/env bash
# One end-to-end check: e2e.sh CHECK QZ81KT QZ81KT_EMU WRITER [BRIDGE_PEER]
# Each check starts its own JACK dummy server, runs the emulator and the command line as
# separate processes, and stops everything (clients before the server) however it ends.
set -u
check=$1 cli=$2 emu=$3 writer=$4 peer=${5:-}
peer_pid=""
here=$(cd "$(dirname "$0")" && pwd)
server_script="$here/../support/jack-dummy-server.sh"
work=$(mktemp -d)
emu_pid=""
server=""

fail() {
    echo "FAIL ($check): $*" >&2
    [[ -f $work/emu.log ]] && sed 's/^/  emu: /' "$work/emu.log" >&2
    exit 1
}

stop_emu() {
    if [[ -n $emu_pid ]] && kill -0 "$emu_pid" 2>/dev/null; then
        kill -INT "$emu_pid"
        for _ in $(seq 50); do kill -0 "$emu_pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$emu_pid" 2>/dev/null
        wait "$emu_pid" 2>/dev/null
    fi
    emu_pid=""
}

stop_peer() {
    [[ -n $peer_pid ]] && kill -TERM "$peer_pid" 2>/dev/null && wait "$peer_pid" 2>/dev/null
    peer_pid=""
}

finish() {
    [[ -n ${cli_pid:-} ]] && kill -KILL "$cli_pid" 2>/dev/null
    stop_peer
    stop_emu
    if [[ -n ${first_emu_pid:-} ]]; then
        emu_pid=$first_emu_pid
        stop_emu
    fi
    [[ -n $server ]] && bash "$server_script" stop "$server"
    rm -rf "$work"
}
trap finish EXIT

read -r server _ < <(bash "$server_script" start "qz81kt-e2e-$check-$$") || fail "no JACK server"
[[ -n $server ]] || fail "no JACK server"
export JACK_DEFAULT_SERVER=$server
export JACK_NO_START_SERVER=1

start_emu() {
    local seen
    seen=$(grep -c "ready on JACK" "$work/emu.log" 2>/dev/null)
    "$emu" --api jack "$@" >>"$work/emu.log" 2>&1 &
    emu_pid=$!
    for _ in $(seq 100); do
        [[ $(grep -c "ready on JACK" "$work/emu.log" 2>/dev/null) -gt ${seen:-0} ]] && return 0
        kill -0 "$emu_pid" 2>/dev/null || fail "the emulator ended"
        sleep 0.05
    done
    fail "the emulator did not get ready"
}

# serve with the given options over the rack of two emulators, until both are online.
start_serve() {
    "$cli" --api jack serve "$@" >"$work/serve.log" 2>&1 &
    cli_pid=$!
    for _ in $(seq 100); do
        [[ $(grep -c " online on " "$work/serve.log") -ge 2 ]] && break
        sleep 0.1
    done
    [[ $(grep -c " online on " "$work/serve.log") -ge 2 ]] || fail "the rack did not come online: $(cat "$work/serve.log")"
}
stop_serve() {
    kill -INT "$cli_pid"
    wait "$cli_pid"
    local rc=$?
    cli_pid=""
    [[ $rc == 130 ]] || fail "serve ended with $rc after SIGINT, expected 130"
}

# The value of a JSON array member, as the text between its brackets.
json_array() { sed -n "s/.*\"$2\":\[\([0-9,]*\)\].*/\1/p" "$1"; }

case $check in
dump)
    start_emu
    "$cli" --api jack dump --json >"$work/jack.json" || fail "dump over JACK exited $?"
    # --emulate puts the built-in emulator after the JACK ports: name it, or the JACK one is chosen.
    "$cli" --api jack --emulate --in "QZ-81KT Emulator" --out "QZ-81KT Emulator" dump --json >"$work/local.json" ||
        fail "dump of the built-in emulator failed"
    # The same emulator defaults, so every block read over JACK must equal the local copy.
    for key in system timecode; do
        [[ -n $(json_array "$work/jack.json" $key) ]] || fail "no $key block"
        [[ $(json_array "$work/jack.json" $key) == $(json_array "$work/local.json" $key) ]] || fail "$key differs"
    done
    jp=$(sed -n 's/.*"presets":\(\[\[[^"]*\]\]\).*/\1/p' "$work/jack.json")
    lp=$(sed -n 's/.*"presets":\(\[\[[^"]*\]\]\).*/\1/p' "$work/local.json")
    [[ -n $jp && $jp == "$lp" ]] || fail "presets differ"
    grep -q '"identity":"ver:' "$work/jack.json" || fail "no identity line"
    ;;
rack)
    # Two emulators with their own names and product IDs on one server: each answers as itself.
    start_emu --name QZ-81KT-A --product-id unit-a
    first_emu_pid=$emu_pid
    start_emu --name QZ-81KT-B --product-id "unit b"
    for unit in "A:UNIT-A" "B:UNIT B"; do
        "$cli" --api jack --in "QZ-81KT-${unit%%:*}" --out "QZ-81KT-${unit%%:*}" dump --json >"$work/rack.json" ||
            fail "dump of QZ-81KT-${unit%%:*} exited $?"
        grep -q "\"identity\":\"ver:1.03 id:${unit#*:} " "$work/rack.json" || fail "QZ-81KT-${unit%%:*}: $(grep -o '"identity":"[^"]*"' "$work/rack.json")"
    done
    "$emu" --product-id "seventeen chars!!" >/dev/null 2>&1
    [[ $? == 2 ]] || fail "a product ID of 17 characters was taken"
    ;;
ember)
    # Two emulators served as a rack; a third-party Ember+ consumer (npm) walks it, writes
    # a setting and a preset field and sees the values read back, as a second one does.
    consumer_dir="$here/ember"
    [[ -d $consumer_dir/node_modules ]] || fail "the npm consumer is not installed: npm ci --prefix $consumer_dir"
    start_emu --name QZ-81KT-A --product-id unit-a
    first_emu_pid=$emu_pid
    start_emu --name QZ-81KT-B --product-id "unit b"
    units=()
    for unit in "A:UNIT_A" "B:UNIT_B"; do
        "$cli" --api jack --in "QZ-81KT-${unit%%:*}" dump --json >"$work/unit.json" || fail "dump of ${unit%%:*} exited $?"
        units+=("unit_${unit#*:}=$(python3 -c 'import json,sys; print(",".join(map(str, json.load(sys.stdin)["system"])))' <"$work/unit.json")")
    done
    port=$((20000 + $$ % 20000))
    start_serve --ember "127.0.0.1:$port"
    node "$consumer_dir/consumer.js" "$port" "${units[@]}" || fail "the consumer failed; serve said: $(cat "$work/serve.log")"
    stop_serve
    grep -q "wrote unit_UNIT_B settings/fan" "$work/serve.log" || fail "the write was not logged: $(cat "$work/serve.log")"
    ;;
web)
    # Two emulators served on the web page; Debian's Chromium, driven by playwright-core
    # from npm, checks the page (tests/e2e/web/web.test.js).
    web_dir="$here/web"
    if [[ ! -d $web_dir/node_modules ]]; then
        npm ci --prefix "$web_dir" --no-audit --no-fund --loglevel=error >/dev/null || fail "npm ci in $web_dir failed"
    fi
    [[ -x /usr/bin/chromium ]] || fail "no /usr/bin/chromium (apt-get install chromium)"
    start_emu --name QZ-81KT-A --product-id unit-a
    first_emu_pid=$emu_pid
    start_emu --name QZ-81KT-B --product-id "unit b"
    head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n' >"$work/token"
    port=$((20000 + ($$ + 7) % 20000))
    start_serve --http "127.0.0.1:$port" --token-file "$work/token"
    PORT=$port TOKEN=$(cat "$work/token") QZ81KT=$cli EMU=$emu EMU_B_PID=$emu_pid node "$web_dir/web.test.js" ||
        fail "the browser checks failed; serve said: $(cat "$work/serve.log")"
    emu_pid=""  # the browser test stopped it and ran its own
    stop_serve
    grep -q "wrote unit_UNIT_A settings/fan = " "$work/serve.log" || fail "the write was not logged: $(cat "$work/serve.log")"
    ! grep -q "$(cat "$work/token")" "$work/serve.log" || fail "the token was logged"
    ;;
watch)
    start_emu
    timeout --preserve-status -s INT 3 "$cli" --api jack status --watch >"$work/watch.txt"
    rc=$?
    [[ $rc == 130 ]] || fail "status --watch ended with $rc, expected 130 after Ctrl-C"
    n=$(cut -d'|' -f1 "$work/watch.txt" | sort -u | wc -l)
    [[ $n -ge 3 ]] || fail "the timecode did not advance: $(cat "$work/watch.txt")"
    ;;
flood)
    # SIGINT while the worker sends a flood: the emulator ends cleanly, every time.
    for round in 1 2 3; do
        start_emu --flood 200000
        sleep 0.5
        kill -INT "$emu_pid"
        for _ in $(seq 50); do kill -0 "$emu_pid" 2>/dev/null || break; sleep 0.1; done
        kill -0 "$emu_pid" 2>/dev/null && fail "round $round: still running 5 s after SIGINT"
        wait "$emu_pid"
        rc=$?
        emu_pid=""
        [[ $rc == 0 ]] || fail "round $round: exit status $rc after SIGINT"
    done
    ;;
lost)
    start_emu
    "$cli" --api jack status --watch >"$work/watch.txt" 2>"$work/watch.err" &
    cli_pid=$!
    sleep 1.5
    kill -KILL "$emu_pid"
    wait "$emu_pid" 2>/dev/null
    emu_pid=""
    killed=$(date +%s%N)
    for _ in $(seq 100); do kill -0 "$cli_pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$cli_pid" 2>/dev/null; then
        kill -KILL "$cli_pid"
        fail "status --watch still runs 10 s after the emulator was killed"
    fi
    wait "$cli_pid"
    rc=$?
    took=$(( ($(date +%s%N) - killed) / 1000000 ))
    [[ $rc == 1 ]] || fail "exit code $rc, expected 1"
    grep -q "no status reply for 5 s" "$work/watch.err" || fail "no clear message: $(cat "$work/watch.err")"
    [[ $took -le 7000 ]] || fail "took $took ms after the kill"
    echo "status --watch ended $took ms after the emulator was killed"
    ;;
replug)
    # The emulator's ports vanish and come back: status --watch --reconnect says so at once
    # and goes on with the device that returned.
    start_emu
    "$cli" --api jack status --watch --reconnect >"$work/watch.txt" 2>"$work/watch.err" &
    cli_pid=$!
    for _ in $(seq 100); do [[ -s $work/watch.txt ]] && break; sleep 0.05; done
    [[ -s $work/watch.txt ]] || fail "no status line before the unplug: $(cat "$work/watch.err")"
    stopped=$(date +%s%N)
    stop_emu
    for _ in $(seq 200); do grep -q "ports are gone" "$work/watch.err" && break; sleep 0.05; done
    grep -q "ports are gone" "$work/watch.err" || fail "the vanished ports went unnoticed: $(cat "$work/watch.err")"
    gone=$(( ($(date +%s%N) - stopped) / 1000000 ))
    lines=$(wc -l <"$work/watch.txt")
    back=$(date +%s%N)
    start_emu
    for _ in $(seq 200); do
        grep -q "reconnected" "$work/watch.err" && (( $(wc -l <"$work/watch.txt") > lines )) && break
        sleep 0.05
    done
    grep -q "reconnected" "$work/watch.err" || fail "no reconnect: $(cat "$work/watch.err")"
    (( $(wc -l <"$work/watch.txt") > lines )) || fail "no status line after the reconnect"
    returned=$(( ($(date +%s%N) - back) / 1000000 ))
    kill -INT "$cli_pid"
    wait "$cli_pid"
    rc=$?
    [[ $rc == 130 ]] || fail "exit code $rc after Ctrl-C, expected 130"
    echo "ports gone noticed $gone ms after the emulator was told to stop; status again $returned ms after it was started"
    ;;
flash)
    start_emu --flash "$work/flash.txt"
    "$writer" --api jack 11 1 --flash || fail "writing to flash failed ($?)"
    "$writer" --api jack 13 1 || fail "writing without flash failed ($?)"
    "$cli" --api jack dump --json >"$work/before.json" || fail "dump before the restart failed"
    stop_emu
    [[ -s $work/flash.txt ]] || fail "no flash file was written"
    start_emu --flash "$work/flash.txt"
    "$cli" --api jack dump --json >"$work/after.json" 2>"$work/after.err" || fail "dump after the restart failed: $(cat "$work/after.err")"
    IFS=, read -r -a before <<<"$(json_array "$work/before.json" system)"
    IFS=, read -r -a after <<<"$(json_array "$work/after.json" system)"
    [[ ${before[11]} == 1 && ${before[13]} == 1 ]] || fail "the writes did not reach the emulator"
    [[ ${after[11]} == 1 ]] || fail "the flashed byte did not survive the restart"
    [[ ${after[13]} == 0 ]] || fail "an unflashed byte survived the restart"
    ;;
paramfile)
    start_emu
    params=$work/params.txt
    "$cli" --api jack export "$params" >/dev/null || fail "export exited $?"
    grep -q $'^\\[preset7\\]\r$' "$params" || fail "no preset 7 in the file: $(cat "$params")"
    "$cli" --api jack diff "$params" >"$work/diff0.txt" || fail "diff right after the export exited $?: $(cat "$work/diff0.txt")"
    "$writer" --api jack 3 2 || fail "changing the audio channels failed ($?)"
    "$cli" --api jack diff "$params" >"$work/diff1.txt"
    rc=$?
    [[ $rc == 1 ]] || fail "diff after the change exited $rc"
    grep -qx "SDI Audio Channel  1-2 -> 5-6" "$work/diff1.txt" || fail "diff does not show the change: $(cat "$work/diff1.txt")"
    "$cli" --api jack import "$params" >/dev/null 2>"$work/import.err" || fail "import exited $?: $(cat "$work/import.err")"
    "$cli" --api jack diff "$params" >"$work/diff2.txt" || fail "diff after the import exited $?: $(cat "$work/diff2.txt")"
    [[ ! -s $work/diff2.txt ]] || fail "diff after the import is not empty"
    ;;
settings)
    start_emu
    # Several settings in one write, read back over JACK; get gives them back.
    late_before=$("$server_script" late "$server")
    rc=0
    "$cli" --api jack set direction=ieee1394-sdi audio=7-8 fan=off preset=3 >"$work/set.txt" 2>"$work/set.err" || rc=$?
    # Only a cycle the server dropped (a loaded machine) may have taken the write with it;
    # then the operator writes again, once.
    if ((rc != 0)) && (($("$server_script" late "$server") > ${late_before:-0})); then
        echo "the server dropped cycles: set once more ($(head -1 "$work/set.err"))"
        rc=0
        "$cli" --api jack set direction=ieee1394-sdi audio=7-8 fan=off preset=3 >"$work/set.txt" 2>"$work/set.err" || rc=$?
    fi
    ((rc == 0)) || fail "set exited $rc: $(cat "$work/set.err")"
    "$cli" --api jack get direction audio fan preset >"$work/get.txt" || fail "get exited $?"
    cmp -s "$work/set.txt" "$work/get.txt" || fail "get does not give back what set wrote: $(cat "$work/get.txt")"
    # From IEEE1394 the stream fixes the frame rate: refused, nothing written.
    "$cli" --api jack set frame-rate=50 2>"$work/rate.err"
    rc=$?
    [[ $rc == 4 ]] || fail "frame-rate under the IEEE1394 lock exited $rc"
    grep -q "follows the IEEE1394 input" "$work/rate.err" || fail "no reason: $(cat "$work/rate.err")"
    "$cli" --api jack set control-mode=local >/dev/null || fail "control-mode=local exited $?"
    "$cli" --api jack set sync=on 2>/dev/null
    rc=$?
    [[ $rc == 4 ]] || fail "sync=on in Local mode exited $rc"
    "$cli" --api jack set control-mode=remote sync=on >/dev/null || fail "Remote and sync=on exited $?"
    "$cli" --api jack preset 3 codec=MPEG-2 gop=12 >"$work/preset.txt" || fail "preset exited $?"
    grep -qx "gop=12" "$work/preset.txt" || fail "preset 3 does not show gop=12: $(cat "$work/preset.txt")"
    "$cli" --api jack flash >/dev/null || fail "flash exited $?"
    ;;
bridges)
    # A converter behind each bridge, after a look-alike and before a USB decoy: the
    # preselection takes its pair, dump reaches it without --in/--out and with --in
    # QZ-81KT (only the converter answers).
    for bridge in a2j alsa_midi pipewire seq raw; do
        "$peer" "$bridge" >"$work/peer.out" 2>&1 &
        peer_pid=$!
        for _ in $(seq 100); do grep -q ready "$work/peer.out" && break; sleep 0.05; done
        grep -q ready "$work/peer.out" || fail "$bridge: the bridge peer did not start: $(cat "$work/peer.out")"
        "$cli" --api jack ports --json >"$work/ports.json" || fail "$bridge: ports exited $?"
        chosen=$(grep -o '"device":"[^"]*","preselected":true' "$work/ports.json" | grep -c '"device":"QZ-81KT')
        [[ $chosen == 2 ]] || fail "$bridge: the converter's pair is not preselected: $(cat "$work/ports.json")"
        "$cli" --api jack dump --json >"$work/dump.json" 2>"$work/dump.err" ||
            fail "$bridge: dump without --in/--out failed: $(cat "$work/dump.err")"
        grep -q '"identity":"ver:' "$work/dump.json" || fail "$bridge: no identity line"
        "$cli" --api jack --in QZ-81KT dump >/dev/null 2>"$work/dump.err" ||
            fail "$bridge: dump --in QZ-81KT failed: $(cat "$work/dump.err")"
        stop_peer
    done
    ;;
*)
    fail "unknown check"
    ;;
esac
echo "PASS ($check)"
