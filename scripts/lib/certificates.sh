# Certificates for trying HTTPS on this machine, made with Debian's openssl: a CA of our own, and
# server certificates that it signed. Sourced by scripts/demo; the tests' build runs it too.
#
#   make_test_certificates FOLDER
#
# writes into FOLDER: ca.pem and ca.key, the CA; server.key, the key of every server certificate;
# localhost.pem for localhost, 127.0.0.1 and ::1; other-host.pem for another host name; expired.pem for
# localhost, expired a day before it was made; untrusted.pem for localhost from a CA that no one trusts.

# _sign_server_certificate FOLDER NAME CA DAYS ALT_NAMES: FOLDER/NAME.pem for server.key, by CA.
_sign_server_certificate() {
    local folder=$1 name=$2 ca=$3 days=$4 alt_names=$5 common_name
    common_name=${alt_names%%,*}
    openssl req -new -key "$folder/server.key" -subj "/CN=${common_name#DNS:}" -out "$folder/$name.csr" \
        2>/dev/null
    openssl x509 -req -in "$folder/$name.csr" -CA "$folder/$ca.pem" -CAkey "$folder/$ca.key" \
        -set_serial "0x$(openssl rand -hex 8)" -days "$days" -out "$folder/$name.pem" \
        -extfile <(printf 'basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=%s\n' \
                          "$alt_names") 2>/dev/null
    rm -f "$folder/$name.csr"
}

# _make_ca FOLDER NAME SUBJECT
_make_ca() {
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3650 \
        -subj "/CN=$3" -keyout "$1/$2.key" -out "$1/$2.pem" 2>/dev/null
}

make_test_certificates() {
    local folder=$1 localhost="DNS:localhost,IP:127.0.0.1,IP:::1"
    mkdir -p "$folder"
    _make_ca "$folder" ca "Updater Test CA"
    _make_ca "$folder" unknown-ca "Unknown CA"
    openssl genpkey -algorithm ec -pkeyopt ec_paramgen_curve:P-256 -out "$folder/server.key"
    _sign_server_certificate "$folder" localhost ca 3650 "$localhost"
    _sign_server_certificate "$folder" other-host ca 3650 "DNS:updates.invalid"
    # A negative lifetime ends it before it begins: expired from the first day.
    _sign_server_certificate "$folder" expired ca -1 "$localhost"
    _sign_server_certificate "$folder" untrusted unknown-ca 3650 "$localhost"
    rm -f "$folder/unknown-ca.key"
}

# Run rather than sourced (the tests' build does): bash scripts/lib/certificates.sh FOLDER
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    make_test_certificates "$1"
fi
