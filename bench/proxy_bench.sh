#!/bin/sh
# Throughput of the proxy on loopback against direct access to a local nginx,
# with squid as a reference: requests per second for 1 KiB responses over 1
# and 50 keep-alive connections (wrk), MiB/s for one 64 MiB body (curl),
# relayed and through a CONNECT tunnel, and the proxy's CPU time per small
# exchange; the small exchanges and the 64 MiB body also through the proxy
# capturing every exchange into a cache folder. Then 1,000 keep-alive clients
# at once through a proxy started with the soft limit of open files desktops
# give (1,024): every request must be answered by the origin.
# Usage: bench/proxy_bench.sh [build dir] [seconds per wrk run]
set -eu
# wrk's thousand connections need more than a desktop's 1,024 descriptors.
ulimit -Sn "$(ulimit -Hn)"

build=${1:-build}
seconds=${2:-5}
bench="$build/bench/bench_proxy_bench"
[ -x "$bench" ] || { echo "build $bench first (cmake --build $build --target bench_proxy_bench)" >&2; exit 1; }
for tool in wrk nginx squid curl python3; do
    command -v "$tool" >/dev/null 2>&1 || [ -x "/usr/sbin/$tool" ] || { echo "needs $tool" >&2; exit 1; }
done
PATH="$PATH:/usr/sbin"

. "$(dirname "$0")/bench_common.sh"
# The capturing proxy's cache folder goes below it too.
TMPDIR=$work
export TMPDIR

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
worker_rlimit_nofile 8192;
events { worker_connections 4096; }
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

# Starts a proxy with the given soft limit of open files, its name and further
# arguments; sets startedPid and startedPort.
startProxy() {
    limit=$1
    name=$2
    shift 2
    sh -c 'ulimit -Sn "$1"; shift; exec "$@"' limit "$limit" "$bench" --port 0 "$@" > "$work/$name.out" &
    startedPid=$!
    pids="$pids $startedPid"
    for _ in $(seq 1 250); do
        grep -q '^port ' "$work/$name.out" 2>/dev/null && break
        python3 -c 'import time; time.sleep(0.02)'
    done
    startedPort=$(sed -n 's/^port //p' "$work/$name.out")
}
startProxy "$(ulimit -Hn)" proxy
proxyPid=$startedPid
proxyPort=$startedPort
startProxy 1024 limited
limitedPid=$startedPid
limitedPort=$startedPort
startProxy "$(ulimit -Hn)" capture --capture
capturePid=$startedPid
capturePort=$startedPort
waitForPort "$nginxPort"
waitForPort "$squidPort"
waitForPort "$proxyPort"
waitForPort "$limitedPort"
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

# MiB/s of one 64 MiB download, direct and through a CONNECT tunnel of the
# given proxy, taken in turns; the best of five each.
tunnelMiBPerSecond() {
    bestDirect=0
    bestTunnel=0
    for _ in 1 2 3 4 5; do
        speed=$(curl -q -s -o /dev/null -w '%{speed_download}' "$origin/64m")
        bestDirect=$(python3 -c "print(max($bestDirect, $speed / 1048576))")
        speed=$(curl -q -s -o /dev/null -w '%{speed_download}' -p -x "http://127.0.0.1:$1" "$origin/64m")
        bestTunnel=$(python3 -c "print(max($bestTunnel, $speed / 1048576))")
    done
    echo "$bestDirect $bestTunnel"
}

# The stats line of a proxy: its name (default "proxy") and process.
stats() {
    name=${1:-proxy}
    pid=${2:-$proxyPid}
    before=$(grep -c '^stats' "$work/$name.out" || true)
    kill -USR1 "$pid"
    for _ in $(seq 1 250); do
        [ "$(grep -c '^stats' "$work/$name.out" || true)" -gt "$before" ] && break
        python3 -c 'import time; time.sleep(0.02)'
    done
    grep '^stats' "$work/$name.out" | tail -1
}

# squid's own CPU seconds (user and system), for the same figure.
squidCpu() {
    awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$squidPid/stat"
}

# Warm every path once (connection setup, page cache).
curl -q -s -o /dev/null "$origin/64m"
curl -q -s -o /dev/null -x "http://127.0.0.1:$proxyPort" "$origin/1k"
curl -q -s -o /dev/null -x "http://127.0.0.1:$squidPort" "$origin/1k"
curl -q -s -o /dev/null -x "http://127.0.0.1:$capturePort" "$origin/1k"

d1=$(requestsPerSecond 1 direct)
p1=$(requestsPerSecond 1 "$proxyPort")
c1=$(requestsPerSecond 1 "$capturePort")
s1=$(requestsPerSecond 1 "$squidPort")
d50=$(requestsPerSecond 50 direct)
statsBefore=$(stats)
p50=$(requestsPerSecond 50 "$proxyPort")
statsAfter=$(stats)
captureBefore=$(stats capture "$capturePid")
c50=$(requestsPerSecond 50 "$capturePort")
captureAfter=$(stats capture "$capturePid")
squidBefore=$(squidCpu)
s50=$(requestsPerSecond 50 "$squidPort")
squidAfter=$(squidCpu)
dBig=$(mibPerSecond direct)
pBig=$(mibPerSecond "$proxyPort")
cBig=$(mibPerSecond "$capturePort")
sBig=$(mibPerSecond "$squidPort")
set -- $(tunnelMiBPerSecond "$proxyPort")
dTunnel=$1
pTunnel=$2
set -- $(tunnelMiBPerSecond "$squidPort")
sTunnel=$2

# A thousand keep-alive clients at once; wrk counts the errors and the answers
# that are not 2xx (the proxy's own 500 and 504 among them).
wrk -t2 -c1000 --timeout 30s -d"${seconds}s" -s "$work/proxied.lua" "http://127.0.0.1:$limitedPort/" > "$work/load.out"
loadRate=$(awk '/^Requests\/sec/ { print $2 }' "$work/load.out")
loadRequests=$(awk '/requests in/ { print $1 }' "$work/load.out")
loadFailures=$(awk '/Non-2xx/ { n += $NF } /Socket errors/ { gsub(/,/, ""); n += $4 + $6 + $8 + $10 } END { print n + 0 }' "$work/load.out")
limitedFiles=$(awk '/Max open files/ { print $4 " (hard " $5 ")" }' "/proc/$limitedPid/limits")

python3 - "$d1" "$p1" "$s1" "$d50" "$p50" "$s50" "$dBig" "$pBig" "$sBig" "$dTunnel" "$pTunnel" "$sTunnel" "$statsBefore" "$statsAfter" \
    "$c1" "$c50" "$cBig" "$captureBefore" "$captureAfter" "$squidBefore" "$squidAfter" "$seconds" <<'PY'
import sys
d1, p1, s1, d50, p50, s50, dBig, pBig, sBig, dTunnel, pTunnel, sTunnel = (float(x) for x in sys.argv[1:13])
c1, c50, cBig = (float(x) for x in sys.argv[15:18])
ratio = lambda x, d: "%8.2fx" % (x / d) if d and x is not None else "%9s" % "-"
rows = [
    ("1 KiB, 1 connection (req/s)", d1, p1, c1, s1, None),
    ("1 KiB, 50 connections (req/s)", d50, p50, c50, s50, "0.3x"),
    ("64 MiB body (MiB/s)", dBig, pBig, cBig, sBig, "0.6x, capture 0.45x"),
    ("64 MiB through a tunnel (MiB/s)", dTunnel, pTunnel, None, sTunnel, "0.8x"),
]
print("%-32s %10s %10s %10s %10s %9s %9s %9s  %s" % ("", "direct", "tidewell", "capturing", "squid",
                                                  "tw/dir", "cap/dir", "sq/dir", "goal"))
for name, d, p, c, s, goal in rows:
    print("%-32s %10.1f %10.1f %10s %10.1f %s %s %s  %s" % (
        name, d, p, "%.1f" % c if c is not None else "-", s, ratio(p, d), ratio(c, d), ratio(s, d),
        goal or "-"))
for label, before, after, goal in (("relaying", sys.argv[13], sys.argv[14], ""),
                                   ("capturing", sys.argv[18], sys.argv[19], ", goal <= 40 us")):
    b, a = before.split(), after.split()
    exchanges = int(a[1]) - int(b[1])
    cpu = float(a[3]) - float(b[3])
    if exchanges > 0:
        print("proxy CPU per 1 KiB exchange, %s (50 connections): %.1f us (%d exchanges, %.2f s CPU)%s" % (
            label, cpu / exchanges * 1e6, exchanges, cpu, goal))
squidExchanges = s50 * float(sys.argv[22])
if squidExchanges > 0:
    print("squid CPU per 1 KiB exchange (50 connections, from its rate): %.1f us" % (
        (float(sys.argv[21]) - float(sys.argv[20])) / squidExchanges * 1e6))
PY
echo "1000 keep-alive clients, proxy started with soft limit 1024 (now $limitedFiles):" \
     "$loadRequests requests, $loadRate req/s, $loadFailures failed or not 2xx"
