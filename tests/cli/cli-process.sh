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
# Completion from the program's own script, as bash runs it after a Tab.
source <("$cli" completion bash) || fail "the completion script does not load"
COMP_WORDBREAKS=$' \t\n"\'><=;|&(:'
complete_line() {
    COMP_LINE=$1 COMP_POINT=${#1}
    read -r -a COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_WORDS[0]=$cli COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMPREPLY=()
    _qz81kt 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}"
}
expect_completion() {
    local got
    got=$(complete_line "$1" | sort | tr '\n' ' ')
    [[ $got == "$2" ]] || fail "completing '$1' gave '$got', expected '$2'"
}
expect_completion "qz81kt pre" "preset "
expect_completion "qz81kt set direction=" "ieee1394-sdi sdi-ieee1394 "
expect_completion "qz81kt set fa" "fan= "
expect_completion "qz81kt --api " "alsa jack "
expect_completion "qz81kt preset 3 b-pict=" "0 1 2 "
expect_completion "qz81kt get format" "format-fix "
expect_completion "qz81kt factory-reset --y" "--yes "
expect_completion "qz81kt --api jack --emulate --out QZ" 'QZ-81KT\ Emulator '

# The man page names every command, setting and preset field the program knows.
man_source="$(dirname "$0")/../../packaging/man/qz81kt.1.scd"
names=$("$cli" help | sed -n '/^commands:/,/^options:/s/^  \([a-z-]*\).*/\1/p')
names+=" $("$cli" set --list | cut -d' ' -f1) $("$cli" preset --list | cut -d' ' -f1)"
for name in $names; do
    grep -q -- "$name" "$man_source" || fail "the man page does not mention $name"
done
echo PASS
