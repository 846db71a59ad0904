#!/usr/bin/env bash
# Reads the Windows executables with the build machine's tools, as a publisher's would: the PE
# headers (x86-64, subsystem), the DLLs they load (Windows' own only: everything else is linked in,
# OpenSSL among it),
# and the updater's resources (the icon group IDI_ICON1 with its 13 images, and a manifest that asks
# for administrator rights).
#
#   check_executable.sh UPDATER_EXE MAKE_MANIFEST_EXE
set -euo pipefail
updater=$1 make_manifest=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in x86_64-w64-mingw32-objdump wrestool icotool; do
    command -v "$tool" >/dev/null || fail "$tool is missing: ./scripts/test-windows installs it"
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# check_headers EXE SUBSYSTEM
check_headers() {
    local exe=$1 subsystem=$2 headers foreign
    headers=$(x86_64-w64-mingw32-objdump -p "$exe")
    grep -q '^Magic[[:space:]]*020b[[:space:]]*(PE32+)' <<<"$headers" || fail "$exe is not a PE32+ image"
    grep -q "^Subsystem.*($subsystem)" <<<"$headers" || fail "$exe is not a $subsystem program"
    # The MinGW runtime, Qt and the libraries it bundles come as lib*.dll or Qt5*.dll when not linked in.
    foreign=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | grep -iE '^(lib|qt)' || true)
    [ -z "$foreign" ] || fail "$exe needs DLLs that Windows does not have: $foreign"
}
check_headers "$updater" "Windows GUI"
check_headers "$make_manifest" "Windows CUI"
# HTTPS comes from the OpenSSL linked into it, not from a DLL.
grep -aq "OpenSSL 3\." "$updater" || fail "$updater has no OpenSSL 3 linked in for HTTPS"

wrestool -x --type=group_icon --name=IDI_ICON1 -o "$scratch/updater.ico" "$updater" \
    || fail "no icon group IDI_ICON1 in $updater"
images=$(icotool -l "$scratch/updater.ico")
[ "$(wc -l <<<"$images")" -eq 13 ] || fail "the icon group holds $(wc -l <<<"$images") images, not 13:
$images"
for size_depth in 16:32 20:32 24:32 32:32 40:32 48:32 64:32 256:32 16:8 32:8 48:8 16:4 32:4; do
    grep -q -- "--width=${size_depth%:*} --height=${size_depth%:*} --bit-depth=${size_depth#*:}" \
        <<<"$images" || fail "no ${size_depth%:*}x${size_depth%:*} image of ${size_depth#*:} bits"
done

manifest=$(wrestool -x --raw --type=24 "$updater")
grep -q "level=['\"]requireAdministrator['\"]" <<<"$manifest" \
    || fail "the manifest does not ask for administrator rights:
$manifest"
grep -q "uiAccess=['\"]false['\"]" <<<"$manifest" || fail "the manifest does not say uiAccess false"
grep -q "Microsoft.Windows.Common-Controls" <<<"$manifest" \
    || fail "the manifest does not depend on the common controls"
echo "updater.exe and make-manifest.exe: PE32+, GUI and console, Windows' own DLLs only, OpenSSL linked in;"\
     "IDI_ICON1 with 13 images; manifest with requireAdministrator"
