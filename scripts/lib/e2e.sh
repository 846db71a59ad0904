# What the end-to-end tests share. Sourced. A test keeps the process id of its running updater in
# updater_pid, and in updater_output the file that holds what that updater printed.

updater_pid=""
updater_output=""

fail() {
    echo "FAIL: $*" >&2
    if [ -n "$updater_output" ] && [ -f "$updater_output" ]; then
        echo "--- the updater's last lines:" >&2
        tail -n 25 "$updater_output" >&2
    fi
    exit 1
}

# wait_until SECONDS WHAT COMMAND...: polls COMMAND every 0.1 s.
wait_until() {
    local seconds=$1 what=$2 _
    shift 2
    for _ in $(seq $((seconds * 10))); do
        "$@" && return 0
        sleep 0.1
    done
    fail "waited $seconds s in vain for $what"
}

updater_has_quit() {
    ! kill -0 "$updater_pid" 2>/dev/null
}

stop_updater() {
    if [ -n "$updater_pid" ]; then
        kill "$updater_pid" 2>/dev/null || true
        wait "$updater_pid" 2>/dev/null || true
    fi
    updater_pid=""
}
