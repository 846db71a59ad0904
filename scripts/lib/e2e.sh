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

# What the HTTPS cases share. The caller has sourced scripts/lib/nginx.sh, serves the release from
# $www, keeps nginx's files in $scratch/nginx and its access log in $access_log, has the tests'
# certificates in $certificates, and sets $install to the folder of each run.

# serve_https CERTIFICATE [OPTION...]: nginx on port 443 in HTTPS with CERTIFICATE.pem, and a fresh
# access log.
serve_https() {
    nginx_stop
    rm -f "$access_log"
    nginx_start "$scratch/nginx" "$www" --port 443 --access-log \
        --tls "$certificates/$1.pem" "$certificates/server.key" "${@:2}"
}

# expect_https_with_http2: the run in $install talked HTTP/2 over TLS 1.3, as its log says.
expect_https_with_http2() {
    [ -z "$(awk '$5 != "HTTP/2.0"' "$access_log")" ] \
        || fail "requests went without HTTP/2: $(awk '$5 != "HTTP/2.0"' "$access_log" | head -n 3)"
    grep -q "Talking to localhost:443 over TLSv1.3 in HTTP/2" "$install/Config/updater.log" \
        || fail "no line says that TLS 1.3 and HTTP/2 were negotiated"
}

# expect_certificates_refused START: for a certificate of another host, an expired one and one from
# an unknown CA, the updater that the function START starts in a fresh $install refuses the server:
# its log names the TLS error, the run fails as against a server that is down, the server answers
# no request and nothing is written below App/.
expect_certificates_refused() {
    local start=$1 certificate
    for certificate in other-host expired untrusted; do
        install=$scratch/install-https-$certificate
        serve_https "$certificate" --http2
        "$start"
        wait_until 60 "the failed notes in $install/Config/updater.log" \
            grep -q "Cannot use ReleaseNotes.xml" "$install/Config/updater.log"
        grep -q "Refused the certificate of localhost:443: " "$install/Config/updater.log" \
            || fail "no line of $install/Config/updater.log names the TLS error of $certificate.pem"
        [ ! -s "$access_log" ] || fail "the server answered: $(head -n 3 "$access_log")"
        [ ! -e "$install/App" ] || fail "files were written below App/"
        stop_updater
    done
}
