#!/usr/bin/env bash
# The qz81kt program as a process: signals, a closed pipe and bad arguments.
#   cli-process.sh QZ81KT
# The real MIDI side is a JACK server that does not exist, so --emulate must work with
# the built-in emulator's pair alone.
set -u
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export JACK_DEFAULT_SERVER="qz81kt-absent-$$" JACK_NO_START_SERVER=1
# Under LeakSanitizer, the suppression report would add lines to stderr.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}print_suppressions=0"
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cli" --api jack --emulate ports >"$work/ports.txt" || fail "ports exited $?"
grep -q '^ \* 0: QZ-81KT Emulator$' "$work/ports.txt" || fail "the emulator's pair is not alone: $(cat "$work/ports.txt")"

"$cli" --api jack --emulate --in 99999999999999999999999 dump >/dev/null 2>"$work/err.txt"
rc=$?
[[ $rc == 3 && $(wc -l <"$work/err.txt") == 1 ]] || fail "a huge port number gave $rc: $(cat "$work/err.txt")"

# The reader takes one line and goes; the watch must end by itself, quietly, with 0.
set -o pipefail
timeout 10 "$cli" --api jack --emulate status --watch 2>"$work/err.txt" | head -1 >/dev/null
rc=$?
set +o pipefail
[[ $rc == 0 && ! -s $work/err.txt ]] || fail "status --watch | head -1 ended with $rc: $(cat "$work/err.txt")"

# Ctrl-C: exit 130, at once.
"$cli" --api jack --emulate status --watch >"$work/watch.txt" 2>&1 &
pid=$!
for _ in $(seq 200); do [[ -s $work/watch.txt ]] && break; sleep 0.02; done
[[ -s $work/watch.txt ]] || { kill -KILL $pid; fail "no status line"; }
sent=$(date +%s%N)
kill -INT $pid
wait $pid
rc=$?
took=$(( ($(date +%s%N) - sent) / 1000000 ))
[[ $rc == 130 ]] || fail "Ctrl-C gave exit status $rc"
echo "status --watch ended $took ms after SIGINT"
[[ $took -le 1000 ]] || fail "status --watch took $took ms to end after SIGINT"
echo PASS
