#!/usr/bin/env bash
# Whole runs of the real updater executable as a user makes them: in a fresh folder, against Debian's
# nginx serving a generated release, on a virtual X display, with the launch button pressed by
# xdotool. The executable talks to the server compiled into it (HOST:PORT, a loopback name), so the
# test runs in a network namespace of its own, where nginx can take that port without touching the
# machine's, and Xvfb runs there too (X's abstract sockets belong to a network namespace).
#
#   updater_e2e.sh UPDATER MAKE_MANIFEST HOST PORT USER UPDATER_HTTP2 UPDATER_HTTPS CERTIFICATES
#
# UPDATER_HTTP2 is the same updater as a build with UPDATER_HTTP2 makes it: it speaks HTTP/2 from its
# first byte, and falls back to HTTP/1.1 where the server does not. UPDATER_HTTPS speaks HTTPS to
# HOST:443 and trusts the CA of the tests' CERTIFICATES (scripts/lib/certificates.sh), whose server
# certificates nginx presents.
#
# Exit code 77 (skipped): the updater is built for a server that is not on loopback, or no network
# namespace can be made.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
source "$source_dir/scripts/lib/e2e.sh"

if [ "${1:-}" != --in-namespace ]; then
    [ $# -eq 8 ] || { echo "usage: $0 UPDATER MAKE_MANIFEST HOST PORT USER UPDATER_HTTP2 UPDATER_HTTPS CERTIFICATES" >&2; exit 2; }
    case $3 in
        localhost | 127.*) ;;
        *) echo "SKIP: this updater is built for $3, not for a loopback server"; exit 77 ;;
    esac
    for tool in Xvfb xdotool import openssl unshare ip md5sum; do
        command -v "$tool" >/dev/null || { echo "$tool is missing: ./scripts/test installs it" >&2; exit 1; }
    done
    command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] \
        || { echo "nginx is missing: ./scripts/test installs it" >&2; exit 1; }
    run_in_network_namespace "$(realpath "$1")" "$(realpath "$2")" "${@:3:3}" "$(realpath "$6")" \
        "$(realpath "$7")" "$(realpath "$8")"
fi
shift
updater=$1 make_manifest=$2 port=$4 user=$5 updater_http2=$6 updater_https=$7 certificates=$8
source "$source_dir/scripts/lib/nginx.sh"
source "$source_dir/scripts/lib/release.sh"
source "$source_dir/scripts/lib/window.sh"

ip link set lo up
scratch=$(mktemp -d "${TMPDIR:-/tmp}/updater-e2e.XXXXXX")
www=$scratch/www
access_log=$scratch/nginx/access.log
cleanup() {
    stop_updater
    xvfb_stop
    nginx_stop
    rm -rf "$scratch"
}
trap cleanup EXIT

serve() {
    nginx_stop
    rm -f "$access_log"
    nginx_start "$scratch/nginx" "$www" --port "$port" --access-log "$@"
}

start_updater() {
    local install=$1 program=${2:-$updater}
    mkdir -p "$install"
    updater_output=$install.out
    (cd "$install" && QT_QPA_PLATFORM=xcb exec "$program") >"$updater_output" 2>&1 &
    updater_pid=$!
}

# Waits for the launch button, presses it once, and expects the updater to quit with exit code 0.
launch_when_ready() {
    local status=0
    window_wait 更新 20 >/dev/null || fail "the updater's window did not appear"
    wait_until 60 "the launch button to light up" lit_window 更新
    press_launch "$LIT_WINDOW"
    wait_until 10 "the updater to quit after 启动 was pressed" updater_has_quit
    wait "$updater_pid" || status=$?
    updater_pid=""
    [ "$status" -eq 0 ] || fail "the updater exited with $status"
}

# A visible Password dialog other than the one whose id is in $prompt.
another_prompt() {
    local id
    id=$(xdotool search --onlyvisible --name '^Password$' 2>/dev/null | head -n 1) || return 1
    [ -n "$id" ] && [ "$id" != "$prompt" ]
}

# The paths below /qor_app/, decoded, that were answered with STATUS (and, if given, for USER), in
# the order of the requests.
requests() {
    local status=$1 for_user=${2:-} line
    while read -r line; do
        printf '%b\n' "${line//%/\\x}"
    done < <(awk -v status="$status" -v user="$for_user" \
                 '$1 == status && (user == "" || $2 == user) { print substr($3, 10) }' "$access_log")
}

release_files() {
    (cd "$www/qor_app" && find App -type f | sort)
}

application_has_run() {
    [ "$(application_runs "$1")" -ge "$2" ]
}

# Every file of the release (RELEASE_MD5, by default the one served) present with the release's
# digest, the lock gone, and the two programs started as often as expected.
check_installation() {
    local install=$1 installer=$2 application=$3 release_md5=${4:-$scratch/release.md5}
    (cd "$install" && md5sum --quiet -c "$release_md5") \
        || fail "files in $install differ from the release"
    [ ! -e "$install/Config/UU_Lock.setting" ] || fail "Config/UU_Lock.setting was left behind"
    [ -e "$install/Config/UU_Installed.setting" ] || fail "no Config/UU_Installed.setting"
    # Both programs are started detached: give them a moment to leave their line.
    wait_until 10 "the application to leave its line" application_has_run "$install" "$application"
    [ "$(installer_runs "$install")" -eq "$installer" ] \
        || fail "the prerequisites installer ran $(installer_runs "$install") times, expected $installer"
    [ "$(application_runs "$install")" -eq "$application" ] \
        || fail "the application started $(application_runs "$install") times, expected $application"
}

# The staging file of the most bytes below INSTALL/Config; each transfer in flight has one.
largest_staged() {
    ls -S "$1"/Config/Download*.part 2>/dev/null | head -n 1
}

staged_more_than() {
    local part
    part=$(largest_staged "$1")
    [ -n "$part" ] && [ "$(stat -c %s "$part" 2>/dev/null || echo 0)" -gt "$2" ]
}

expect_fetched() {
    local expected=$1 fetched
    fetched=$(requests 200 | grep '^App/' | sort || true)
    [ "$fetched" = "$expected" ] || fail "fetched files:
$fetched
expected:
$expected"
}

expect_documents_fetched_once() {
    [ "$(requests 200 | grep -v '^App/' | tr '\n' ' ')" = "ReleaseNotes.xml GameManifest.xml " ] \
        || fail "the documents were fetched as: $(requests 200 | grep -v '^App/' | tr '\n' ' ')"
}

echo "==> Generating a release and starting nginx on $3:$port and Xvfb in a private network namespace"
make_sample_release "$www" "$make_manifest" 2.0.1
(cd "$www/qor_app" && find App -type f -print0 | xargs -0 md5sum) > "$scratch/release.md5"
xvfb_start "$scratch/xvfb"

echo "==> With the server down, a fresh installation fails, writes nothing and cannot be launched"
install=$scratch/install-down
start_updater "$install"
window=$(window_wait 更新 20) || fail "the updater's window did not appear"
wait_until 20 "the failed notes in Config/updater.log" \
    grep -q "Cannot use ReleaseNotes.xml" "$install/Config/updater.log"
! launch_button_lit "$window" || fail "the launch button lit up for an installation that never ran"
[ ! -e "$install/Config/UU_Installed.setting" ] || fail "Config/UU_Installed.setting was created"
[ ! -e "$install/App" ] || fail "files were written below App/"
stop_updater

echo "==> A fresh installation fetches every file once, runs the installer and starts the application"
install=$scratch/install
serve
start_updater "$install"
launch_when_ready
check_installation "$install" 1 1
expect_fetched "$(release_files)"
expect_documents_fetched_once
grep -q "App/QOR/Content/Paks/QOR-WindowsNoEditor.pak" "$install/Config/updater.log" \
    || fail "Config/updater.log does not name the downloaded files"

echo "==> A current installation fetches only the two documents and runs no installer"
serve
start_updater "$install"
launch_when_ready
check_installation "$install" 1 2
expect_fetched ""
expect_documents_fetched_once
[ -s "$install/Config/updater.log.1" ] || fail "the previous run's log is not kept as Config/updater.log.1"

echo "==> A damaged installation fetches the missing and the changed file again"
rm "$install/App/QOR/Content/Movies/Intro Movie.mp4"
printf 'X' | dd of="$install/App/Engine/Binaries/Win64/PhysX3_x64.dll" bs=1 seek=4096 conv=notrunc status=none
serve
start_updater "$install"
launch_when_ready
check_installation "$install" 1 3
expect_fetched "App/Engine/Binaries/Win64/PhysX3_x64.dll
App/QOR/Content/Movies/Intro Movie.mp4"

echo "==> An update killed at any moment leaves one release whole: an offline start launches it"
cp "$scratch/release.md5" "$scratch/release-1.md5"
make_sample_release "$www" "$make_manifest" 2.0.2
(cd "$www/qor_app" && find App -type f -print0 | xargs -0 md5sum) > "$scratch/release.md5"
some_staged() { [ -n "$(ls "$install/Config/Staged" 2>/dev/null)" ]; }
runs=3
for moment in "a file to be staged:some_staged" \
              "the package to be half staged:staged_more_than $install 300000"; do
    serve --limit-rate 256k
    start_updater "$install"
    wait_until 60 "${moment%%:*}" ${moment#*:}
    kill -9 "$updater_pid"
    wait "$updater_pid" 2>/dev/null || true
    nginx_stop
    runs=$((runs + 1))
    start_updater "$install"
    launch_when_ready
    check_installation "$install" 1 "$runs" "$scratch/release-1.md5"
done
echo "==> Online again, the update completes without fetching again what was staged"
serve
start_updater "$install"
launch_when_ready
check_installation "$install" 1 $((runs + 1))
[ -z "$(requests 200 | grep '^App/')" ] || fail "files were fetched again whole: $(requests 200 | grep '^App/')"
[ -z "$(ls -A "$install/Config/Staged" 2>/dev/null)" ] || fail "staged copies survived the switch"

echo "==> An updater killed in the middle of a file resumes it at the next start"
install=$scratch/install-killed
serve --limit-rate 512k
start_updater "$install"
wait_until 60 "a file to be half staged" staged_more_than "$install" 400000
kill -9 "$updater_pid"
wait "$updater_pid" 2>/dev/null || true
updater_pid=""
part=$(largest_staged "$install")
resumed=$(sed -n 3p "${part%.part}.resume")
staged=$(stat -c %s "$part")
[ ! -e "$install/App" ] || fail "the killed updater put files of an unfinished release in place"
serve
start_updater "$install"
launch_when_ready
check_installation "$install" 1 1
# Killed after its last byte had arrived, the file is not asked for again.
rest=$(( $(stat -c %s "$www/qor_app/$resumed") - staged ))
[ "$(awk -v path="/qor_app/${resumed// /%20}" '$3 == path { print $1, $4 }' "$access_log")" \
    = "$([ "$rest" -eq 0 ] || echo "206 $rest")" ] \
    || fail "$resumed was not resumed from byte $staged: $(grep -F "$resumed" "$access_log")"
[ -z "$(ls "$install/Config" | grep '^Download')" ] || fail "a staging file survived the run"

echo "==> Over HTTP/2, a fresh installation is the same; against HTTP/1.1 the updater falls back"
install=$scratch/install-http2
serve --http2
start_updater "$install" "$updater_http2"
launch_when_ready
check_installation "$install" 1 1
expect_fetched "$(release_files)"
[ -z "$(awk '$5 != "HTTP/2.0"' "$access_log")" ] || fail "requests went without HTTP/2: $(awk '$5 != "HTTP/2.0"' "$access_log" | head -n 3)"
install=$scratch/install-fallback
serve
start_updater "$install" "$updater_http2"
launch_when_ready
check_installation "$install" 1 1
grep -q "Falling back to HTTP/1.1" "$install/Config/updater.log" || fail "no line says that HTTP/2 was dropped"

echo "==> Over HTTPS with HTTP/2, a fresh installation is the same"
install=$scratch/install-https
start_https_updater() { start_updater "$install" "$updater_https"; }
serve_https localhost --http2
start_https_updater
launch_when_ready
check_installation "$install" 1 1
expect_fetched "$(release_files)"
expect_https_with_http2

echo "==> Over HTTP/2, a server that ends every connection after 10 requests with a GOAWAY: the refused streams are asked again"
install=$scratch/install-goaway
serve_https localhost --http2 --requests-per-connection 10
start_https_updater
launch_when_ready
check_installation "$install" 1 1
expect_fetched "$(release_files)"
refusals=$(grep -c "(205)\|(301)\|(2)\"\|Gave up\|Still different" "$install/Config/updater.log" || true)
[ "$refusals" -eq 0 ] || fail "$refusals refused streams were counted as failures: $(grep -m 3 "(205)\|(301)\|(2)\"\|Gave up" "$install/Config/updater.log")"

echo "==> Certificates for another host, expired, or from an unknown CA are refused before any request"
expect_certificates_refused start_https_updater

password="open sesame"
for scheme in http https; do
    echo "==> A server that asks for a password over $scheme: a wrong one is asked again, the right one completes the run"
    install=$scratch/install-password-$scheme
    if [ "$scheme" = https ]; then
        serve_https localhost --http2 --auth "$user" "$password"
        start_https_updater
    else
        serve --auth "$user" "$password"
        start_updater "$install"
    fi
    prompt=$(window_wait Password 20) || fail "no Password dialog"
    xdotool type --delay 5 "wrong"
    xdotool key Return
    wait_until 20 "a new Password dialog after a wrong password" another_prompt
    xdotool type --delay 5 "$password"
    xdotool key Return
    launch_when_ready
    check_installation "$install" 1 1
    [ "$(requests 401 | head -n 1)" = ReleaseNotes.xml ] || fail "the first request was not refused"
    [ -n "$(requests 401 "$user")" ] || fail "the wrong password was not sent as $user"
    expect_fetched "$(release_files)"
    [ -z "$(awk -v user="$user" '$1 == 200 && $2 != user' "$access_log")" ] \
        || fail "files were served without the password"
done

echo "==> A release with a new updater program: it goes first, takes the folder over and finishes the run"
install=$scratch/install-self
mkdir -p "$install"
cp "$updater" "$install/updater"
publish_updater() {
    "$@" > "$www/qor_app/updater"
    chmod +x "$www/qor_app/updater"
    "$make_manifest" "$www/qor_app" -o "$www/qor_app/GameManifest.xml" >/dev/null
}
# The same program with other bytes.
publish_updater sh -c 'cat "$0"; echo "release 2.0.2"' "$updater"
serve
start_updater "$install" "$install/updater"
wait_until 60 "the new updater program to take over" test -s "$install/Config/UpdaterRunning.marker"
wait "$updater_pid" || fail "the previous updater program exited with $?"
updater_pid=""
successor=$(cat "$install/Config/UpdaterRunning.marker")
wait_until 60 "the launch button to light up" lit_window 更新
press_launch "$LIT_WINDOW"
wait_until 10 "the new updater program to quit" sh -c "! kill -0 $successor 2>/dev/null"
cmp -s "$install/updater" "$www/qor_app/updater" || fail "the new updater program is not in place"
check_installation "$install" 1 1
grep -q "Swapped the updater program updater: MD5 $(md5sum < "$updater" | cut -c1-32)" \
    "$install/Config/updater.log.1" || fail "no line tells of the swap"

echo "==> A release whose updater program does not start: rolled back once, and the run goes on"
cp "$install/updater" "$scratch/working-updater"
make_sample_release "$www" "$make_manifest" 2.0.3
(cd "$www/qor_app" && find App -type f -print0 | xargs -0 md5sum) > "$scratch/release.md5"
publish_updater echo "not a program"
for start in first second; do
    serve
    start_updater "$install" "$install/updater"
    launch_when_ready
    cmp -s "$install/updater" "$scratch/working-updater" || fail "the working updater is gone"
done
check_installation "$install" 1 3
[ "$(grep -c "was rolled back" "$install/Config/updater.log.1")" -eq 1 ] \
    || fail "the first start did not roll the new program back"
grep -q "Keeping the updater program updater" "$install/Config/updater.log" \
    || fail "the second start tried the program that did not start again"

echo "==> All cases passed"
