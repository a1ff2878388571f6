#!/bin/sh
# Throughput of the proxy on loopback against direct access to a local nginx,
# with squid as a reference: requests per second for 1 KiB responses over 1
# and 50 keep-alive connections (wrk), MiB/s for one 64 MiB body (curl), and
# the proxy's CPU time per small exchange; each for the proxy relaying only
# and for the proxy capturing every exchange into a cache folder.
# Usage: bench/proxy_bench.sh [build dir] [seconds per wrk run]
set -eu

build=${1:-build}
seconds=${2:-5}
bench="$build/bench/bench_proxy_bench"
[ -x "$bench" ] || { echo "build $bench first (cmake --build $build --target bench_proxy_bench)" >&2; exit 1; }
for tool in wrk nginx squid curl python3; do
    command -v "$tool" >/dev/null 2>&1 || [ -x "/usr/sbin/$tool" ] || { echo "needs $tool" >&2; exit 1; }
done
PATH="$PATH:/usr/sbin"

work=$(mktemp -d)
chmod 755 "$work"
pids=""
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    for pid in $pids; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

freePort() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
waitForPort() {
    python3 - "$1" <<'PY'
import socket, sys, time
for _ in range(500):
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), 0.2).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.02)
sys.exit("port %s never opened" % sys.argv[1])
PY
}

mkdir -p "$work/www" "$work/logs"
chmod 777 "$work/logs"
head -c 1024 /dev/urandom > "$work/www/1k"
head -c $((64 * 1024 * 1024)) /dev/urandom > "$work/www/64m"
chmod 644 "$work/www/"*

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
    sendfile on;
    server {
        listen 127.0.0.1:$nginxPort;
        root $work/www;
    }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" &
pids="$pids $!"

squidPort=$(freePort)
cat > "$work/squid.conf" <<CONF
http_port 127.0.0.1:$squidPort
http_access allow all
cache deny all
cache_mem 0 MB
pid_filename $work/logs/squid.pid
cache_log $work/logs/squid-cache.log
access_log none
coredump_dir $work/logs
shutdown_lifetime 0 seconds
max_filedescriptors 4096
CONF
squid -N -f "$work/squid.conf" &
squidPid=$!
pids="$pids $squidPid"

# startProxy NAME [--capture]: runs the benchmark proxy, output in NAME.out.
startProxy() {
    out="$work/$1.out"
    shift
    TMPDIR="$work" "$bench" --port 0 "$@" > "$out" &
    pids="$pids $!"
    echo $! > "$out.pid"
    for _ in $(seq 1 250); do
        grep -q '^port ' "$out" 2>/dev/null && break
        python3 -c 'import time; time.sleep(0.02)'
    done
}
startProxy proxy
proxyPid=$(cat "$work/proxy.out.pid")
proxyPort=$(sed -n 's/^port //p' "$work/proxy.out")
startProxy capture --capture
capturePid=$(cat "$work/capture.out.pid")
capturePort=$(sed -n 's/^port //p' "$work/capture.out")
waitForPort "$nginxPort"
waitForPort "$squidPort"
waitForPort "$proxyPort"
waitForPort "$capturePort"

origin="http://127.0.0.1:$nginxPort"
# Through a proxy the request line carries the absolute URL, as browsers send it.
cat > "$work/proxied.lua" <<LUA
wrk.path = "$origin/1k"
wrk.headers["Proxy-Connection"] = "keep-alive"
LUA

# wrk's "Requests/sec" for: connections, proxy port or "direct".
requestsPerSecond() {
    if [ "$2" = direct ]; then
        wrk -t1 -c"$1" -d"${seconds}s" "$origin/1k"
    else
        wrk -t1 -c"$1" -d"${seconds}s" -s "$work/proxied.lua" "http://127.0.0.1:$2/"
    fi > "$work/wrk.out"
    # Errors and error statuses would count as fast requests: show them.
    grep -E 'Non-2xx|Socket errors' "$work/wrk.out" >&2 || true
    awk '/^Requests\/sec/ { print $2 }' "$work/wrk.out"
}

# MiB/s of one 64 MiB download, best of three.
mibPerSecond() {
    best=0
    for _ in 1 2 3; do
        if [ "$1" = direct ]; then
            speed=$(curl -q -s -o /dev/null -w '%{speed_download}' "$origin/64m")
        else
            speed=$(curl -q -s -o /dev/null -w '%{speed_download}' -x "http://127.0.0.1:$1" "$origin/64m")
        fi
        best=$(python3 -c "print(max($best, $speed / 1048576))")
    done
    echo "$best"
}

# stats NAME PID: the proxy's current stats line.
stats() {
    before=$(grep -c '^stats' "$work/$1.out" || true)
    kill -USR1 "$2"
    for _ in $(seq 1 250); do
        [ "$(grep -c '^stats' "$work/$1.out" || true)" -gt "$before" ] && break
        python3 -c 'import time; time.sleep(0.02)'
    done
    grep '^stats' "$work/$1.out" | tail -1
}

# Warm every path once (connection setup, page cache).
curl -q -s -o /dev/null "$origin/64m"
curl -q -s -o /dev/null -x "http://127.0.0.1:$proxyPort" "$origin/1k"
curl -q -s -o /dev/null -x "http://127.0.0.1:$capturePort" "$origin/1k"
curl -q -s -o /dev/null -x "http://127.0.0.1:$squidPort" "$origin/1k"

d1=$(requestsPerSecond 1 direct)
p1=$(requestsPerSecond 1 "$proxyPort")
c1=$(requestsPerSecond 1 "$capturePort")
s1=$(requestsPerSecond 1 "$squidPort")
d50=$(requestsPerSecond 50 direct)
relayBefore=$(stats proxy "$proxyPid")
p50=$(requestsPerSecond 50 "$proxyPort")
relayAfter=$(stats proxy "$proxyPid")
captureBefore=$(stats capture "$capturePid")
c50=$(requestsPerSecond 50 "$capturePort")
captureAfter=$(stats capture "$capturePid")
# squid's own CPU seconds (user + system) from /proc, for the same figure.
squidCpu() {
    awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$squidPid/stat"
}
squidCpuBefore=$(squidCpu)
s50=$(requestsPerSecond 50 "$squidPort")
squidCpuAfter=$(squidCpu)
dBig=$(mibPerSecond direct)
pBig=$(mibPerSecond "$proxyPort")
cBig=$(mibPerSecond "$capturePort")
sBig=$(mibPerSecond "$squidPort")

python3 - "$d1" "$p1" "$c1" "$s1" "$d50" "$p50" "$c50" "$s50" "$dBig" "$pBig" "$cBig" "$sBig" \
    "$relayBefore" "$relayAfter" "$captureBefore" "$captureAfter" \
    "$squidCpuBefore" "$squidCpuAfter" "$seconds" <<'PY'
import sys
d1, p1, c1, s1, d50, p50, c50, s50, dBig, pBig, cBig, sBig = (float(x) for x in sys.argv[1:13])
rows = [
    ("1 KiB, 1 connection (req/s)", d1, p1, c1, s1, None),
    ("1 KiB, 50 connections (req/s)", d50, p50, c50, s50, None),
    ("64 MiB body (MiB/s)", dBig, pBig, cBig, sBig, 0.45),
]
ratio = lambda x, d: x / d if d else 0
print("%-31s %10s %10s %10s %10s %8s %8s %8s %6s" % (
    "", "direct", "relay", "capture", "squid", "rel/dir", "cap/dir", "sq/dir", "goal"))
for name, d, p, c, s, goal in rows:
    print("%-31s %10.1f %10.1f %10.1f %10.1f %7.2fx %7.2fx %7.2fx %6s" % (
        name, d, p, c, s, ratio(p, d), ratio(c, d), ratio(s, d),
        "%.2fx" % goal if goal else "-"))
for label, before, after, goal in (("relaying", sys.argv[13], sys.argv[14], None),
                                   ("capturing", sys.argv[15], sys.argv[16], 40)):
    b, a = before.split(), after.split()
    exchanges = int(a[1]) - int(b[1])
    cpu = float(a[3]) - float(b[3])
    if exchanges > 0:
        print("proxy CPU per 1 KiB exchange, %s (50 connections): %.1f us (%d exchanges, %.2f s CPU)%s" % (
            label, cpu / exchanges * 1e6, exchanges, cpu, ", goal <= %d us" % goal if goal else ""))
squidExchanges = s50 * float(sys.argv[19])
if squidExchanges > 0:
    cpu = float(sys.argv[18]) - float(sys.argv[17])
    print("squid CPU per 1 KiB exchange (50 connections, from its rate): %.1f us" % (
        cpu / squidExchanges * 1e6))
PY
