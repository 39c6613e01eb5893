#!/usr/bin/env bash
# The web page of "qz81kt serve --http" over a real MIDI server: a private JACK dummy
# server, two qz81kt-emu units, serve, and Debian's headless Chromium driven by
# bench/web/web-bench.js, which prints each figure beside its peer (page load beside the
# bare API call, 20 event streams beside "qz81kt status --watch", serve's CPU with one
# page open beside none).
# usage: bench/web-bench.sh [BUILD_DIR] [SECONDS]
set -u
build=${1:-build}
secs=${2:-10}
here=$(cd "$(dirname "$0")" && pwd)
server_script="$here/../tests/support/jack-dummy-server.sh"
cli=$build/cli/qz81kt
emu=$build/emulator/program/qz81kt-emu
work=$(mktemp -d)

[[ -d $here/../tests/e2e/web/node_modules ]] ||
    npm ci --prefix "$here/../tests/e2e/web" --no-audit --no-fund --loglevel=error >/dev/null || exit 1
source "$here/jack-common.sh"

for unit in A B; do
    "$emu" --api jack --name "QZ-81KT-$unit" --product-id "unit-$unit" >>"$work/emu.log" 2>&1 &
    pids+=($!)
done
wait_lines "$work/emu.log" "ready on JACK" 2 || fail "the emulators did not start"
port=$((20000 + ($$ + 11) % 20000))
"$cli" --api jack serve --http "127.0.0.1:$port" >"$work/serve.log" 2>&1 &
serve_pid=$!
pids+=($serve_pid)
wait_lines "$work/serve.log" " online on " 2 || fail "the rack did not come online: $(cat "$work/serve.log")"
first=$(grep -m1 -o " found: .* on QZ-81KT-[AB]" "$work/serve.log" | tail -c 10)  # units[0] of the page
PORT=$port SERVE_PID=$serve_pid QZ81KT=$cli IN_PORT=$first SECONDS=$secs node "$here/web/web-bench.js" ||
    fail "the browser run failed; serve said: $(tail -5 "$work/serve.log")"
