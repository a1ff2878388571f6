#!/bin/sh
# HTTPS decryption side by side with mitmproxy (mitmdump), both decrypting,
# against a local nginx speaking TLS with its own test CA: keep-alive
# requests per second for 1 KiB responses over 1 and 10 connections, and each
# proxy's CPU per new TLS connection (one request each) once the host
# certificate is cached, for clients making a full handshake (a first visit)
# and for clients resuming a session, beside the same connection only
# tunnelled. Direct HTTPS to nginx is the baseline.
# Usage: bench/https_bench.sh [build dir] [seconds per run]
set -eu

build=${1:-build}
seconds=${2:-5}
client="$build/bench/bench_https_client"
proxy="$build/bench/bench_https_proxy"
for program in "$client" "$proxy"; do
    [ -x "$program" ] || { echo "build $program first (cmake --build $build --target bench_https_client bench_https_proxy)" >&2; exit 1; }
done
PATH="$PATH:/usr/sbin"
for tool in nginx mitmdump openssl python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "needs $tool" >&2; exit 1; }
done

. "$(dirname "$0")/bench_common.sh"
# User plus system CPU seconds of a process so far.
cpuOf() {
    python3 - "$1" <<'PY'
import os, sys
fields = open("/proc/%s/stat" % sys.argv[1]).read().rsplit(")", 1)[1].split()
print((int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK"))
PY
}

# The origin's own CA and certificate (ECDSA P-256, as most sites now use).
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
    -subj "/CN=bench origin CA" -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=localhost" \
    -keyout "$work/origin.key" -out "$work/origin.csr" 2>/dev/null
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' > "$work/ext"
openssl x509 -req -in "$work/origin.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
    -CAcreateserial -days 2 -extfile "$work/ext" -out "$work/origin.pem" 2>/dev/null

mkdir -p "$work/www" "$work/logs"
chmod 777 "$work/logs"
head -c 1024 /dev/urandom > "$work/www/1k"
chmod 644 "$work/www/1k"
nginxPort=$(freePort)
cat > "$work/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/logs/nginx-error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $work/logs/body;
    proxy_temp_path $work/logs/proxy;
    fastcgi_temp_path $work/logs/fastcgi;
    uwsgi_temp_path $work/logs/uwsgi;
    scgi_temp_path $work/logs/scgi;
    keepalive_requests 10000000;
    server {
        listen 127.0.0.1:$nginxPort ssl;
        ssl_certificate $work/origin.pem;
        ssl_certificate_key $work/origin.key;
        root $work/www;
    }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" &
pids="$pids $!"

# Both proxies trust the origin's CA and nothing else.
SSL_CERT_FILE="$work/ca.pem" SSL_CERT_DIR="$work/none" "$proxy" --port 0 --data "$work/tidewell" \
    > "$work/proxy.out" &
tidewellPid=$!
pids="$pids $tidewellPid"
# The same proxy only tunnelling: what a new connection costs without decryption.
SSL_CERT_FILE="$work/ca.pem" SSL_CERT_DIR="$work/none" "$proxy" --port 0 --data "$work/tidewell" \
    --tunnel > "$work/tunnel.out" &
tunnelPid=$!
pids="$pids $tunnelPid"
mitmPort=$(freePort)
mitmdump -q --listen-host 127.0.0.1 --listen-port "$mitmPort" --set confdir="$work/mitm" \
    --set ssl_verify_upstream_trusted_ca="$work/ca.pem" > "$work/mitm.out" 2>&1 &
mitmPid=$!
pids="$pids $mitmPid"
for _ in $(seq 1 250); do
    grep -q '^port ' "$work/proxy.out" 2>/dev/null && break
    python3 -c 'import time; time.sleep(0.02)'
done
for _ in $(seq 1 250); do
    grep -q '^port ' "$work/tunnel.out" 2>/dev/null && break
    python3 -c 'import time; time.sleep(0.02)'
done
tunnelPort=$(sed -n 's/^port //p' "$work/tunnel.out")
tidewellPort=$(sed -n 's/^port //p' "$work/proxy.out")
tidewellRoot=$(sed -n 's/^root //p' "$work/proxy.out")
waitForPort "$nginxPort"
waitForPort "$tidewellPort"
waitForPort "$mitmPort"
mitmRoot="$work/mitm/mitmproxy-ca-cert.pem"
target="localhost:$nginxPort"

# Requests per second: connections, "direct" or proxy port and root, extra flags.
rate() {
    connections=$1
    shift
    if [ "$1" = direct ]; then
        set -- --direct --cafile "$work/ca.pem"
    else
        set -- --proxy "$1" --cafile "$2"
    fi
    "$client" "$@" --target "$target" --path /1k --connections "$connections" \
        --seconds "$seconds" > "$work/client.out"
    read -r _ requests _ elapsed _ errors < "$work/client.out"
    [ "$errors" = 0 ] || echo "($errors failed connections)" >&2
    python3 -c "print($requests / $elapsed)"
}

# Proxy CPU per new connection: pid, port, root, and --full for clients that
# resume no session (a first visit), nothing for clients that resume one.
perConnection() {
    before=$(cpuOf "$1")
    "$client" --proxy "$2" --cafile "$3" --new ${4:-} --target "$target" --path /1k \
        --connections 1 --seconds "$seconds" > "$work/client.out"
    after=$(cpuOf "$1")
    read -r _ requests _ elapsed _ errors < "$work/client.out"
    python3 -c "print(($after - $before) / $requests * 1000)"
}

# Warm up: host certificates made, code paths touched.
rate 1 "$tidewellPort" "$tidewellRoot" >/dev/null
rate 1 "$mitmPort" "$mitmRoot" >/dev/null

d1=$(rate 1 direct)
t1=$(rate 1 "$tidewellPort" "$tidewellRoot")
m1=$(rate 1 "$mitmPort" "$mitmRoot")
d10=$(rate 10 direct)
t10=$(rate 10 "$tidewellPort" "$tidewellRoot")
m10=$(rate 10 "$mitmPort" "$mitmRoot")
tNew=$(perConnection "$tidewellPid" "$tidewellPort" "$tidewellRoot")
tunnelNew=$(perConnection "$tunnelPid" "$tunnelPort" "$work/ca.pem")
mNew=$(perConnection "$mitmPid" "$mitmPort" "$mitmRoot")
tFull=$(perConnection "$tidewellPid" "$tidewellPort" "$tidewellRoot" --full)
tunnelFull=$(perConnection "$tunnelPid" "$tunnelPort" "$work/ca.pem" --full)
mFull=$(perConnection "$mitmPid" "$mitmPort" "$mitmRoot" --full)

python3 - "$d1" "$t1" "$m1" "$d10" "$t10" "$m10" "$tNew" "$mNew" "$tunnelNew" \
    "$tFull" "$mFull" "$tunnelFull" <<'PY'
import sys
d1, t1, m1, d10, t10, m10, tNew, mNew, tunnelNew, tFull, mFull, tunnelFull = (
    float(x) for x in sys.argv[1:])
print("%-40s %10s %10s %10s %9s %9s" % ("", "direct", "tidewell", "mitmproxy", "tw/mitm", "tw/direct"))
for name, d, t, m in (("HTTPS 1 KiB keep-alive, 1 conn (req/s)", d1, t1, m1),
                      ("HTTPS 1 KiB keep-alive, 10 conns (req/s)", d10, t10, m10)):
    print("%-40s %10.1f %10.1f %10.1f %8.2fx %8.2fx" % (name, d, t, m, t / m, t / d))
for name, t, m, tunnelled in (("CPU per new TLS connection, full (ms)", tFull, mFull, tunnelFull),
                              ("CPU per new TLS connection, resumed (ms)", tNew, mNew, tunnelNew)):
    print("%-40s %10s %10.2f %10.2f %8.2fx   goal <= 1 ms" % (name, "-", t, m, t / m))
    print("  of which decryption (over a tunnelled connection's %.2f ms): %.2f ms" % (
        tunnelled, t - tunnelled))
PY
