#!/usr/bin/env bash
# Whole runs of the Windows updater.exe under Wine, started as a Windows user starts it: from a fresh
# folder, against Debian's nginx serving a release whose installer and application are real Windows
# programs (the trace program, which leaves a file when it runs), on a virtual X display, with 启动
# pressed by xdotool. Then the same folder with a stale file that is read-only (it is replaced), and
# with a stale file that another program holds open without delete sharing, as a running
# application does (nothing of the update moves, the log says why, and once the file is let go the
# update completes by itself).
# Then HTTPS: UPDATER_HTTPS_EXE speaks it to HOST:443 and trusts the CA of the tests' CERTIFICATES
# (scripts/lib/certificates.sh), whose server certificates nginx presents: a whole run over HTTP/2,
# certificates that must be refused, and a password. Like the Linux end-to-end test it runs in a
# network namespace of its own, where nginx takes the port compiled into the updater.
#
#   updater_wine_e2e.sh UPDATER_EXE MAKE_MANIFEST_EXE TRACE_PROGRAM_EXE HOLDFILE_EXE HOST PORT USER
#                       UPDATER_HTTPS_EXE CERTIFICATES
#
# Exit code 77 (skipped): the updater is built for a server that is not on loopback, or no network
# namespace can be made.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
source "$source_dir/scripts/lib/e2e.sh"

if [ "${1:-}" != --in-namespace ]; then
    [ $# -eq 9 ] || { echo "usage: $0 UPDATER_EXE MAKE_MANIFEST_EXE TRACE_PROGRAM_EXE HOLDFILE_EXE HOST PORT USER UPDATER_HTTPS_EXE CERTIFICATES" >&2; exit 2; }
    case $5 in
        localhost | 127.*) ;;
        *) echo "SKIP: this updater is built for $5, not for a loopback server"; exit 77 ;;
    esac
    for tool in wine wineboot Xvfb xdotool import unshare ip md5sum; do
        command -v "$tool" >/dev/null || { echo "$tool is missing: ./scripts/test-windows installs it" >&2; exit 1; }
    done
    run_in_network_namespace "$(realpath "$1")" "$(realpath "$2")" "$(realpath "$3")" \
        "$(realpath "$4")" "${@:5:3}" "$(realpath "$8")" "$(realpath "$9")"
fi
shift
updater=$1 make_manifest=$2 trace_program=$3 holdfile=$4 port=$6 user=$7 updater_https=$8
certificates=$9
source "$source_dir/scripts/lib/nginx.sh"
source "$source_dir/scripts/lib/window.sh"

ip link set lo up
scratch=$(mktemp -d "${TMPDIR:-/tmp}/updater-wine-e2e.XXXXXX")
www=$scratch/www
access_log=$scratch/nginx/access.log
release=$www/qor_app
holder_pid=""
# The windows of the real platform, on the virtual display; a Wine prefix of the test's own.
unset QT_QPA_PLATFORM
export WINEPREFIX=$scratch/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

end_process() {
    if [ -n "$1" ]; then
        kill "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}
cleanup() {
    stop_updater
    end_process "$holder_pid"
    wineserver --kill 2>/dev/null || true
    xvfb_stop
    nginx_stop
    rm -rf "$scratch"
}
trap cleanup EXIT

# start_updater [PROGRAM]: the updater, or PROGRAM, in $install.
start_updater() {
    mkdir -p "$install"
    # A GUI program's debug lines reach the Windows debugger, and its log.
    updater_output=$install/Config/updater.log
    (cd "$install" && exec wine "${1:-$updater}") >"$install.out" 2>&1 &
    updater_pid=$!
}


launch_when_ready() {
    window_wait 更新 60 >/dev/null || fail "the updater's window did not appear"
    wait_until 120 "the launch button to light up" lit_window 更新
    press_launch "$LIT_WINDOW"
    wait_until 20 "updater.exe to quit after 启动 was pressed" updater_has_quit
    wait "$updater_pid" || fail "updater.exe exited with $?"
    updater_pid=""
}

lines_in() {
    if [ -f "$1" ]; then wc -l < "$1"; else echo 0; fi
}

# Every file of the release present with the release's digest, and the two programs started as
# often as expected.
check_installation() {
    local installer=$1 application=$2
    (cd "$install" && md5sum --quiet -c "$scratch/release.md5") \
        || fail "files in $install differ from the release"
    [ -e "$install/Config/UU_Installed.setting" ] || fail "no Config/UU_Installed.setting"
    wait_until 20 "the application to leave its line" \
        test "$(lines_in "$install/application-started.txt")" -ge 1
    [ "$(lines_in "$install/installer-ran.txt")" -eq "$installer" ] \
        || fail "the installer ran $(lines_in "$install/installer-ran.txt") times, expected $installer"
}

echo "==> Preparing Xvfb, a Wine prefix, a release of Windows programs and nginx on $5:$port"
# Wine's desktop takes the display that the prefix's first program finds.
xvfb_start "$scratch/xvfb"
wineboot --init >/dev/null 2>&1
wineserver --wait
mkdir -p "$release"
add() {
    mkdir -p "$(dirname "$release/$1")"
    if [ $# -eq 2 ]; then printf '%s' "$2" > "$release/$1"; else cat > "$release/$1"; fi
}
add App/QOR.exe < "$trace_program"
add App/Engine/Extras/Redist/en-us/UE4PrereqSetup_x64.exe < "$trace_program"
head -c 3000000 /dev/urandom | add App/QOR/Content/Paks/QOR-WindowsNoEditor.pak
add "App/QOR/Content/Movies/Intro Movie.mp4" "a movie"
add "App/QOR/Config/100% Speed.ini" "[Speed]"
add "App/Manual/说明 (中文).txt" "请先阅读"
add App/Engine/Config/BaseEngine.ini "[Engine]"
add App/Engine/Binaries/Win64/PhysX3_x64.dll "the physics library"
(cd "$release" && wine "$make_manifest" . -o GameManifest.xml) >"$scratch/make-manifest.out" 2>&1 \
    || { cat "$scratch/make-manifest.out" >&2; fail "make-manifest.exe could not write the manifest"; }
printf '<ReleaseNotes><Version>3.0</Version></ReleaseNotes>' > "$release/ReleaseNotes.xml"
(cd "$release" && find App -type f -print0 | xargs -0 md5sum) > "$scratch/release.md5"
nginx_start "$scratch/nginx" "$www" --port "$port"

echo "==> A fresh folder: every file arrives, the installer runs once, the application starts"
install=$scratch/install
start_updater
launch_when_ready
check_installation 1 1
[ ! -e "$install/Config/UU_Lock.setting" ] || fail "Config/UU_Lock.setting was left behind"

echo "==> A stale read-only file is replaced"
stale=$install/App/Engine/Config/BaseEngine.ini
printf 'edited by hand' > "$stale"
chmod a-w "$stale"
start_updater
launch_when_ready
check_installation 1 2

echo "==> A stale file held open by another program holds the update up until it is let go"
held=App/Engine/Binaries/Win64/PhysX3_x64.dll
other="App/QOR/Config/100% Speed.ini"
printf 'the running version' > "$install/$held"
printf 'the old speed' > "$install/$other"
(cd "$install" && exec wine "$holdfile" "${held//\//\\}" holding.txt) >"$scratch/holdfile.out" 2>&1 &
holder_pid=$!
wait_until 60 "holdfile.exe to hold $held" test -e "$install/holding.txt"
start_updater
window=$(window_wait 更新 60) || fail "the updater's window did not appear"
wait_until 120 "the switch to be held up by $held" \
    grep -q "Cannot replace $held yet" "$install/Config/updater.log"
[ "$(cat "$install/$held")" = "the running version" ] || fail "$held lost its content"
[ "$(cat "$install/$other")" = "the old speed" ] || fail "$other was replaced while $held was held"
! launch_button_lit "$window" || fail "the launch button lit up while the update was held up"
end_process "$holder_pid"
holder_pid=""
wait_until 60 "the launch button to light up once $held was let go" launch_button_lit "$window"
press_launch "$window"
wait_until 20 "updater.exe to quit after 启动 was pressed" updater_has_quit
updater_pid=""
check_installation 1 3

echo "==> A release with a new updater.exe: it goes first, takes the folder over and finishes the run"
install=$scratch/install-self
mkdir -p "$install"
cp "$updater" "$install/updater.exe"
publish_updater() {
    "$@" > "$release/updater.exe"
    (cd "$release" && wine "$make_manifest" . -o GameManifest.xml) >"$scratch/make-manifest.out" 2>&1 \
        || { cat "$scratch/make-manifest.out" >&2; fail "make-manifest.exe could not write the manifest"; }
}
# The same program with other bytes.
publish_updater sh -c 'cat "$0"; echo "release 3.0"' "$updater"
start_updater "$install/updater.exe"
wait_until 120 "the new updater.exe to take over" test -s "$install/Config/UpdaterRunning.marker"
wait "$updater_pid" || fail "the previous updater.exe exited with $?"
updater_pid=""
wait_until 120 "the launch button to light up" lit_window 更新
press_launch "$LIT_WINDOW"
window_gone 更新 20 || fail "the new updater.exe did not quit after 启动 was pressed"
cmp -s "$install/updater.exe" "$release/updater.exe" || fail "the new updater.exe is not in place"
check_installation 1 1

echo "==> A release whose updater.exe does not start: rolled back, and the run goes on with the previous one"
cp "$install/updater.exe" "$scratch/working-updater.exe"
printf 'the physics library, new' > "$release/App/Engine/Binaries/Win64/PhysX3_x64.dll"
(cd "$release" && find App -type f -print0 | xargs -0 md5sum) > "$scratch/release.md5"
publish_updater echo "not a program"
start_updater "$install/updater.exe"
wait_until 120 "the roll-back" grep -q "was rolled back" "$install/Config/updater.log"
wait_until 120 "the launch button to light up" lit_window 更新
press_launch "$LIT_WINDOW"
wait_until 20 "updater.exe to quit after 启动 was pressed" updater_has_quit
wait "$updater_pid" || fail "updater.exe exited with $?"
updater_pid=""
cmp -s "$install/updater.exe" "$scratch/working-updater.exe" || fail "the working updater.exe is gone"
check_installation 1 2
grep -q "was rolled back" "$install/Config/updater.log" || fail "no line tells of the roll-back"
rm "$release/updater.exe"
(cd "$release" && wine "$make_manifest" . -o GameManifest.xml) >/dev/null 2>&1

echo "==> Over HTTPS with HTTP/2, a fresh folder is the same"
install=$scratch/install-https
start_https_updater() { start_updater "$updater_https"; }
serve_https localhost --http2
start_https_updater
launch_when_ready
check_installation 1 1
expect_https_with_http2

echo "==> Certificates for another host, expired, or from an unknown CA are refused before any request"
expect_certificates_refused start_https_updater

echo "==> A password goes to the server inside TLS, and completes the run"
install=$scratch/install-https-password
serve_https localhost --http2 --auth "$user" "open sesame"
start_https_updater
window_wait Password 60 >/dev/null || fail "no Password dialog"
xdotool type --delay 5 "open sesame"
xdotool key Return
launch_when_ready
check_installation 1 1
[ -z "$(awk -v user="$user" '$1 == 200 && $2 != user' "$access_log")" ] \
    || fail "files were served without the password"

echo "==> All cases passed"
