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

# run_in_network_namespace ARGS...: runs the calling script again as "$0 --in-namespace ARGS..." in a
# network namespace of its own (inside a user namespace when not root), where a server may take the
# port compiled into the updater; exits 77 (skipped) where no namespace can be made.
run_in_network_namespace() {
    local namespace=(unshare --net)
    [ "$(id -u)" -eq 0 ] || namespace=(unshare --user --map-root-user --net)
    if ! "${namespace[@]}" true 2>/dev/null; then
        echo "SKIP: cannot make a network namespace (${namespace[*]})"
        exit 77
    fi
    exec "${namespace[@]}" -- bash "$0" --in-namespace "$@"
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
