# What bench/link/run and bench/stall/run share: the updater built for our link proxy, the proxy
# itself, and a fresh install timed from the updater's log. Sourced after scripts/lib/packages.sh
# and scripts/lib/e2e.sh, from the top of the work tree, with $work set to a scratch folder.
#
#   build_for_link PORT [CA]            updater, make-manifest and link_proxy in build-link, the
#                                       updater for http://127.0.0.1:PORT and $UPDATER_CMAKE_ARGS;
#                                       with CA, for https://localhost:PORT trusting the PEM file CA,
#                                       in build-link-https
#   link_start PORT SERVER_PORT ARGS... the proxy from 127.0.0.1:PORT to nginx's SERVER_PORT
#   link_stop                           stops it; sets link_fetched, the bytes from the server
#   time_fresh_install FILES [SETTINGS] the updater in an empty folder until its run is done; with
#                                       SETTINGS, the text of the Config/Settings.ini it starts with
#   now_ms, seconds MS, ratio A B

# The ports that the updater is built for: through the proxy before nginx's HTTP/1.1 port, and
# through the one before its HTTP/2 port.
LINK_PORT=18531
LINK_HTTP2_PORT=18532
LINK_HTTPS_PORT=18535
# The longest wait for one fresh install.
INSTALL_TIMEOUT=1800

link_pid=""
timer_pid=""

build_for_link() {
    local port=$1 ca=${2:-} extra=() build=build-link server
    read -r -a extra <<< "${UPDATER_CMAKE_ARGS:-}"
    server=(-DUPDATER_SERVER_HOST=127.0.0.1)
    if [ -n "$ca" ]; then
        build=build-link-https
        server=(-DUPDATER_SERVER_SCHEME=https -DUPDATER_SERVER_HOST=localhost
                -DUPDATER_CA_CERTIFICATES="$ca")
    fi
    echo "==> Building the updater for ${server[*]} port $port in $build ${extra[*]}"
    # An option given to an earlier run would linger in the cache.
    rm -f "$build/CMakeCache.txt"
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release "${server[@]}" -DUPDATER_SERVER_PORT="$port" \
        "${extra[@]}" >/dev/null
    cmake --build "$build" --parallel 2 --target updater make-manifest link_proxy >/dev/null
    updater="$(pwd)/$build/updater"
    make_manifest="$(pwd)/$build/make-manifest"
    link_proxy="$(pwd)/$build/link_proxy"
}

port_answers() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

link_start() {
    local port=$1 server_port=$2
    shift 2
    ! port_answers "$port" || fail "port $port is taken: the proxy needs it"
    rm -f "$work/link.count"
    "$link_proxy" --listen "$port" --server "127.0.0.1:$server_port" \
        --count-file "$work/link.count" "$@" &
    link_pid=$!
    wait_until 5 "the link proxy on port $port" port_answers "$port"
}

link_stop() {
    kill "$link_pid"
    wait "$link_pid" || fail "the link proxy ended with status $?"
    link_pid=""
    link_fetched=$(sed -n 's/^from_server=\([0-9]*\) .*/\1/p' "$work/link.count")
}

# Stops what is still running when the bench ends.
link_cleanup() {
    [ -z "$updater_pid" ] || kill "$updater_pid" 2>/dev/null || true
    [ -z "$timer_pid" ] || wait "$timer_pid" 2>/dev/null || true
    [ -z "$link_pid" ] || { kill "$link_pid" 2>/dev/null; wait "$link_pid" 2>/dev/null; } || true
}

now_ms() { date +%s%3N; }
seconds() { awk -v ms="$1" 'BEGIN { printf "%.2f", ms / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }'; }

# The time stamp (ms since the epoch) of the first pass in LOG that found all FILES in place and
# knew them from the record: the one after the last download of a fresh install.
last_pass_ms() {
    awk -v files="$2" '
        $3 == "updater.run:" && $4 == "Checked" && $5 == files && $8 + 0 == 0 \
            && $10 == files {
            split($1, part, /[-T:.]/)
            printf "%.0f\n", mktime(part[1] " " part[2] " " part[3] " " part[4] " " part[5] " " \
                part[6]) * 1000 + part[7]
            exit
        }
    ' "$1" 2>/dev/null
}

# The updater is the child of time, and the process that SIGTERM must reach.
updater_started() {
    updater_pid=$(pgrep -P "$timer_pid")
}

install_done() {
    local log=$1/Config/updater.log
    kill -0 "$updater_pid" 2>/dev/null || fail "the updater quit before its run was done"
    ! grep -q "Cannot use \|Still different" "$log" 2>/dev/null \
        || fail "$(grep "Cannot use \|Still different" "$log")"
    [ -n "$(last_pass_ms "$log" "$2")" ]
}

# time_fresh_install FILES [SETTINGS]: runs the updater in an empty folder (but for a
# Config/Settings.ini of the text SETTINGS, if given) until the pass after its last download, which
# knows all FILES of the manifest, then stops it with SIGTERM. Sets install_ms, from the start to
# that pass's line in the log, install_cpu, the run's user and system seconds, and
# install_pipelining, whether the run kept requests in a row on its connections.
time_fresh_install() {
    local files=$1 settings=${2:-} folder=$work/install started_ms
    rm -rf "$folder"
    mkdir -p "$folder"
    if [ -n "$settings" ]; then
        mkdir -p "$folder/Config"
        printf '%s\n' "$settings" > "$folder/Config/Settings.ini"
    fi
    updater_output=$work/updater.out
    started_ms=$(now_ms)
    (cd "$folder" && QT_QPA_PLATFORM=offscreen exec /usr/bin/time -f "%U %S" -o "$work/cpu" \
        "$updater") > "$updater_output" 2>&1 &
    timer_pid=$!
    wait_until 10 "the updater to start" updater_started
    wait_until "$INSTALL_TIMEOUT" "the updater's last pass" install_done "$folder" "$files"
    kill "$updater_pid"
    wait "$timer_pid" || echo "    the updater ended with status $?"
    updater_pid="" timer_pid=""
    install_ms=$(($(last_pass_ms "$folder/Config/updater.log" "$files") - started_ms))
    install_cpu=$(tail -n 1 "$work/cpu" | awk '{ printf "%.2f", $1 + $2 }')
    # A slow line must not be taken for a server that mishandles pipelining.
    install_pipelining="pipelining kept"
    if grep -q "Requests no longer share a connection" "$folder/Config/updater.log"; then
        install_pipelining="pipelining turned off"
    fi
    rm -rf "$folder"
}
