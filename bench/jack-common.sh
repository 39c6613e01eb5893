# Sourced by the benchmarks that run over a private JACK dummy server: starts it, and on
# exit stops the processes in $pids (then calls finish_more, when defined) and the server.
# Expects server_script and work to be set.
read -r server _ < <(bash "$server_script" start "qz81kt-bench-$$") || exit 1
export JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1
pids=()
finish() {
    for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null; done
    declare -F finish_more >/dev/null && finish_more
    wait 2>/dev/null
    bash "$server_script" stop "$server"
    rm -rf "$work"
}
trap finish EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# Waits until FILE has at least N lines matching PATTERN.
wait_lines() {
    local file=$1 pattern=$2 n=$3 i
    for ((i = 0; i < 400; i++)); do
        [[ $(grep -c -- "$pattern" "$file" 2>/dev/null) -ge $n ]] && return 0
        sleep 0.01
    done
    return 1
}
