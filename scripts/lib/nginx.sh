# Debian's nginx as a private web server: its configuration, logs and temporary files live in a
# scratch folder, it listens on loopback only, and it ends with the script that started it.
# Sourced after scripts/lib/packages.sh.
#
#   nginx_install
#   nginx_start FOLDER ROOT [--port N] [--auth USER PASSWORD] [--limit-rate RATE] [--access-log]
#               [--http2-port N] [--http2] [--tls CERTIFICATE KEY] [--requests-per-connection N]
#   nginx_stop
#
# nginx_start serves the folder ROOT on 127.0.0.1 and, where the machine has it, on [::1]: on port N,
# or else on a free port. --auth asks for a password (Basic authentication), --limit-rate slows every
# transfer down to RATE bytes a second (nginx's units: 500k, 2m), --access-log writes one line per
# request to FOLDER/access.log: "STATUS USER URI BYTES PROTOCOL", where USER is "-" for a request
# without one, BYTES counts the body sent and PROTOCOL is HTTP/1.1 or HTTP/2.0. --http2-port also
# serves the same on 127.0.0.1:N in HTTP/2 over plain TCP, for clients that speak it from their first
# byte ("prior knowledge"); --http2 makes port N itself speak it instead of HTTP/1.1. --tls makes port N
# speak HTTPS with the certificate and key in those PEM files, offering HTTP/2 by ALPN with --http2.
# --requests-per-connection closes each connection after N requests, as servers and load balancers
# do at their limits: in HTTP/2 with a GOAWAY, which refuses the streams that came after the Nth.
# It sets NGINX_PORT and NGINX_PID. Call it directly, not in a subshell, so that nginx_stop can
# wait for it.

NGINX_PORT=""
NGINX_PID=""

# A freshly installed Debian nginx would start itself as the machine's web server on port 80:
# policy-rc.d forbids that while the package is installed. A policy-rc.d of the machine is left alone.
nginx_install() {
    if dpkg-query -W -f='${Status}' nginx 2>/dev/null | grep -q "install ok installed"; then
        return 0
    fi
    if [ -e /usr/sbin/policy-rc.d ]; then
        ensure_packages nginx
        return
    fi
    local callers_trap status=0
    callers_trap=$(trap -p EXIT)
    trap 'as_root rm -f /usr/sbin/policy-rc.d' EXIT
    printf '#!/bin/sh\nexit 101\n' | as_root tee /usr/sbin/policy-rc.d >/dev/null
    as_root chmod +x /usr/sbin/policy-rc.d
    ensure_packages nginx || status=$?
    as_root rm -f /usr/sbin/policy-rc.d
    eval "${callers_trap:-trap - EXIT}"
    return "$status"
}

_nginx_port_answers() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Writes FOLDER/nginx.conf for one port from the _nginx_* settings of nginx_start.
_nginx_write_config() {
    local folder=$1 root=$2 port=$3
    local user_line="" ipv6_line="" log_line="access_log off;" auth_lines="" rate_line="" http2_line=""
    # As root, nginx would hand its workers to www-data, which cannot read a scratch folder.
    [ "$(id -u)" -eq 0 ] && user_line="user root;"
    local listen_flags="" tls_lines=""
    if [ -n "$_nginx_tls_certificate" ]; then
        listen_flags=" ssl"
        tls_lines="ssl_certificate $_nginx_tls_certificate; ssl_certificate_key $_nginx_tls_key;
        ssl_protocols TLSv1.2 TLSv1.3;"
    fi
    [ "$_nginx_http2" = yes ] && listen_flags="$listen_flags http2"
    grep -qs ' lo$' /proc/net/if_inet6 && ipv6_line="listen [::1]:$port$listen_flags;"
    [ "$_nginx_access_log" = yes ] && log_line="access_log $folder/access.log requests;"
    if [ -n "$_nginx_auth_user" ]; then
        auth_lines="auth_basic \"Updates\"; auth_basic_user_file $folder/htpasswd;"
    fi
    [ -n "$_nginx_limit_rate" ] && rate_line="limit_rate $_nginx_limit_rate;"
    [ -n "$_nginx_http2_port" ] && http2_line="listen 127.0.0.1:$_nginx_http2_port http2;"
    cat > "$folder/nginx.conf" <<CONF
$user_line
worker_processes 1;
daemon off;
pid $folder/nginx.pid;
error_log $folder/error.log;
events { worker_connections 64; }
http {
    log_format requests '\$status \$remote_user \$request_uri \$body_bytes_sent \$server_protocol';
    $log_line
    sendfile on;
    tcp_nopush on;
    keepalive_requests $_nginx_requests_per_connection;
    keepalive_timeout 60s;
    default_type application/octet-stream;
    client_body_temp_path $folder/tmp/body;
    proxy_temp_path $folder/tmp/proxy;
    fastcgi_temp_path $folder/tmp/fastcgi;
    uwsgi_temp_path $folder/tmp/uwsgi;
    scgi_temp_path $folder/tmp/scgi;
    server {
        listen 127.0.0.1:$port$listen_flags;
        $ipv6_line
        $http2_line
        root $root;
        $tls_lines
        $rate_line
        $auth_lines
    }
}
CONF
}

# Starts nginx on one port; fails if it does not answer there within about 5 seconds.
_nginx_try_port() {
    local folder=$1 root=$2 port=$3 nginx
    _nginx_port_answers "$port" && return 1
    _nginx_write_config "$folder" "$root" "$port"
    nginx=$(command -v nginx || echo /usr/sbin/nginx)
    "$nginx" -p "$folder" -c "$folder/nginx.conf" -e "$folder/error.log" &
    NGINX_PID=$!
    local _
    for _ in $(seq 50); do
        if ! kill -0 "$NGINX_PID" 2>/dev/null; then
            break
        fi
        if _nginx_port_answers "$port"; then
            NGINX_PORT=$port
            return 0
        fi
        sleep 0.1
    done
    nginx_stop
    return 1
}

nginx_start() {
    local folder=$1 root=$2
    shift 2
    local ports=()
    mkdir -p "$folder/tmp"
    _nginx_auth_user="" _nginx_limit_rate="" _nginx_access_log=no _nginx_http2_port="" _nginx_http2=no
    _nginx_tls_certificate="" _nginx_tls_key="" _nginx_requests_per_connection=100000
    while [ $# -gt 0 ]; do
        case $1 in
            --port) ports=("$2"); shift 2 ;;
            --auth)
                _nginx_auth_user=$2
                printf '%s:%s\n' "$2" "$(openssl passwd -apr1 "$3")" > "$folder/htpasswd"
                shift 3 ;;
            --limit-rate) _nginx_limit_rate=$2; shift 2 ;;
            --access-log) _nginx_access_log=yes; shift ;;
            --http2-port) _nginx_http2_port=$2; shift 2 ;;
            --http2) _nginx_http2=yes; shift ;;
            --tls) _nginx_tls_certificate=$2 _nginx_tls_key=$3; shift 3 ;;
            --requests-per-connection) _nginx_requests_per_connection=$2; shift 2 ;;
            *) echo "nginx_start: unknown option $1" >&2; return 2 ;;
        esac
    done
    if [ ${#ports[@]} -eq 0 ]; then
        local _
        for _ in $(seq 10); do
            ports+=($((20000 + RANDOM % 40000)))
        done
    fi
    local port
    for port in "${ports[@]}"; do
        _nginx_try_port "$folder" "$root" "$port" && return 0
    done
    echo "nginx did not start (ports tried: ${ports[*]}); see $folder/error.log" >&2
    return 1
}

nginx_stop() {
    if [ -n "$NGINX_PID" ]; then
        kill "$NGINX_PID" 2>/dev/null || true
        wait "$NGINX_PID" 2>/dev/null || true
    fi
    NGINX_PID=""
    NGINX_PORT=""
}
