#!/bin/sh
# Throughput of the proxy on loopback against direct access to a local nginx,
# with squid as a reference, in one run: 1 KiB responses over 1 and 50
# keep-alive connections, 1 MiB over 10, 256 KiB of text chunked and gzipped
# over 10 (wrk), one 64 MiB body (curl) and one through a CONNECT tunnel; each
# relayed only (a filter that counts) and through a proxy capturing every
# exchange into a cache folder below the work folder, as tidewell-capture
# does. Also the CPU time per small exchange at 50 connections (squid's from
# its rate) and the capturing proxy's resident memory at the end. Then 1,000
# keep-alive clients at once through a proxy started with the soft limit of
# open files desktops give (1,024): every request must be answered.
# Usage: bench/proxy_bench.sh [build dir] [seconds per wrk run]
set -eu
# wrk's thousand connections need more than a desktop's 1,024 descriptors.
ulimit -Sn "$(ulimit -Hn)"

build=${1:-build}
seconds=${2:-8}
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
head -c $((1024 * 1024)) /dev/urandom > "$work/www/1m"
head -c $((64 * 1024 * 1024)) /dev/urandom > "$work/www/64m"
# 256 KiB of text, as pages and scripts are: sent chunked (the sub filter
# drops the length) and gzip-compressed (chunked as well).
mkdir -p "$work/www/chunked" "$work/www/gzip"
python3 -c '
import random, sys
random.seed(1)
words = ["capture", "relay", "origin", "header", "<div class=\"row\">", "</div>", "function",
         "return", "var", "{", "}", "0x%04x" % 4097, "tidewell", "stream", "chunk"]
out, size = [], 0
while size < 262144:
    line = " ".join(random.choice(words) for _ in range(12)) + "\n"
    out.append(line)
    size += len(line)
sys.stdout.write("".join(out)[:262144])
' > "$work/www/chunked/text"
cp "$work/www/chunked/text" "$work/www/gzip/text"
chmod 755 "$work/www/chunked" "$work/www/gzip"
chmod 644 "$work/www/1k" "$work/www/1m" "$work/www/64m" "$work/www/"*/text

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
        location /chunked/ { sub_filter_types *; sub_filter "no such text" ""; }
        location /gzip/ { gzip on; gzip_types *; gzip_min_length 0; gzip_proxied any; }
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

# wrk's "Requests/sec" for: connections, proxy port or "direct", path, and an
# Accept-Encoding value (optional).
requestsPerSecond() {
    if [ "$2" = direct ]; then
        wrk -t1 -c"$1" -d"${seconds}s" ${4:+-H "Accept-Encoding: $4"} "$origin$3"
    else
        # Through a proxy the request line carries the absolute URL, as
        # browsers send it.
        {
            echo "wrk.path = \"$origin$3\""
            echo 'wrk.headers["Proxy-Connection"] = "keep-alive"'
            [ -z "${4:-}" ] || echo "wrk.headers[\"Accept-Encoding\"] = \"$4\""
        } > "$work/proxied.lua"
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
for port in "$proxyPort" "$squidPort" "$capturePort"; do
    curl -q -s -o /dev/null -x "http://127.0.0.1:$port" "$origin/1k"
done

# The text rows measure what they say only when the origin frames them so.
curl -q -s -D - -o /dev/null "$origin/chunked/text" | grep -qi '^transfer-encoding: chunked' ||
    { echo "nginx does not send /chunked/text chunked" >&2; exit 1; }
curl -q -s -D - -o /dev/null -H 'Accept-Encoding: gzip' "$origin/gzip/text" | grep -qi '^content-encoding: gzip' ||
    { echo "nginx does not send /gzip/text gzipped" >&2; exit 1; }

# One row of the table: connections, path and Accept-Encoding; the rates of
# direct, relaying, capturing and squid, in that order, one cell each.
row() {
    echo "$(requestsPerSecond "$1" direct "$2" "${3:-}") $(requestsPerSecond "$1" "$proxyPort" "$2" "${3:-}")" \
         "$(requestsPerSecond "$1" "$capturePort" "$2" "${3:-}") $(requestsPerSecond "$1" "$squidPort" "$2" "${3:-}")"
}
small1=$(row 1 /1k)
d50=$(requestsPerSecond 50 direct /1k)
statsBefore=$(stats)
p50=$(requestsPerSecond 50 "$proxyPort" /1k)
statsAfter=$(stats)
captureBefore=$(stats capture "$capturePid")
c50=$(requestsPerSecond 50 "$capturePort" /1k)
captureAfter=$(stats capture "$capturePid")
squidBefore=$(squidCpu)
s50=$(requestsPerSecond 50 "$squidPort" /1k)
squidAfter=$(squidCpu)
big10=$(row 10 /1m)
chunked10=$(row 10 /chunked/text)
gzip10=$(row 10 /gzip/text gzip)
dBig=$(mibPerSecond direct)
pBig=$(mibPerSecond "$proxyPort")
cBig=$(mibPerSecond "$capturePort")
sBig=$(mibPerSecond "$squidPort")
set -- $(tunnelMiBPerSecond "$proxyPort")
dTunnel=$1
pTunnel=$2
set -- $(tunnelMiBPerSecond "$squidPort")
sTunnel=$2
captureMemory=$(stats capture "$capturePid")

# A thousand keep-alive clients at once; wrk counts the errors and the answers
# that are not 2xx (the proxy's own 500 and 504 among them).
cat > "$work/proxied.lua" <<LUA
wrk.path = "$origin/1k"
wrk.headers["Proxy-Connection"] = "keep-alive"
LUA
wrk -t2 -c1000 --timeout 30s -d"${seconds}s" -s "$work/proxied.lua" "http://127.0.0.1:$limitedPort/" > "$work/load.out"
loadRate=$(awk '/^Requests\/sec/ { print $2 }' "$work/load.out")
loadRequests=$(awk '/requests in/ { print $1 }' "$work/load.out")
loadFailures=$(awk '/Non-2xx/ { n += $NF } /Socket errors/ { gsub(/,/, ""); n += $4 + $6 + $8 + $10 } END { print n + 0 }' "$work/load.out")
limitedFiles=$(awk '/Max open files/ { print $4 " (hard " $5 ")" }' "/proc/$limitedPid/limits")

python3 - "$small1" "$d50 $p50 $c50 $s50" "$big10" "$chunked10" "$gzip10" "$dBig $pBig $cBig $sBig" \
    "$dTunnel $pTunnel - $sTunnel" "$statsBefore" "$statsAfter" "$captureBefore" "$captureAfter" \
    "$squidBefore" "$squidAfter" "$s50" "$seconds" "$captureMemory" <<'PY'
import sys
cells = [[None if x == "-" else float(x) for x in a.split()] for a in sys.argv[1:8]]
(statsBefore, statsAfter, captureBefore, captureAfter, squidBefore, squidAfter, s50, seconds,
 captureMemory) = sys.argv[8:17]
rows = [
    ("1 KiB, 1 connection (req/s)", 1, "cap >= 0.6x direct"),
    ("1 KiB, 50 connections (req/s)", 1, "cap >= 1.5x squid"),
    ("1 MiB, 10 connections (MiB/s)", 1, "cap >= 0.45x"),
    ("chunked text, 10 connections (MiB/s)", 256 / 1024, "cap >= 0.5x"),
    ("gzip text, 10 connections (req/s)", 1, "cap >= 0.5x"),
    ("64 MiB, 1 connection (MiB/s)", 1, "cap >= 0.45x"),
    ("64 MiB through a tunnel (MiB/s)", 1, "relay >= 0.8x"),
]
ratio = lambda x, d: "%7.2fx" % (x / d) if d and x is not None else "%8s" % "-"
print("%-38s %9s %9s %9s %9s %8s %8s %8s %8s  %s" % ("", "direct", "relaying", "capturing", "squid",
      "rel/dir", "cap/dir", "sq/dir", "cap/sq", "goal"))
for (name, scale, goal), values in zip(rows, cells):
    d, p, c, s = (v * scale if v is not None else None for v in values)
    print("%-38s %9.1f %9.1f %9s %9.1f %s %s %s %s  %s" % (
        name, d, p, "%.1f" % c if c is not None else "-", s, ratio(p, d), ratio(c, d), ratio(s, d),
        ratio(c, s), goal))
for label, before, after, goal in (("relaying", statsBefore, statsAfter, ""),
                                   ("capturing", captureBefore, captureAfter, ", goal <= 50 us")):
    b, a = before.split(), after.split()
    exchanges = int(a[1]) - int(b[1])
    cpu = float(a[3]) - float(b[3])
    if exchanges > 0:
        print("CPU per 1 KiB exchange, 50 connections, %s: %.1f us (%d exchanges, %.2f s CPU)%s" % (
            label, cpu / exchanges * 1e6, exchanges, cpu, goal))
squidExchanges = float(s50) * float(seconds)
if squidExchanges > 0:
    print("CPU per 1 KiB exchange, 50 connections, squid (from its rate): %.1f us" % (
        (float(squidAfter) - float(squidBefore)) / squidExchanges * 1e6))
m = captureMemory.split()
if len(m) >= 6:
    print("capturing proxy after %s exchanges: resident %.1f MiB, peak %.1f MiB" % (
        m[1], int(m[4]) / 1024, int(m[5]) / 1024))
PY
echo "1000 keep-alive clients, proxy started with soft limit 1024 (now $limitedFiles):" \
     "$loadRequests requests, $loadRate req/s, $loadFailures failed or not 2xx"
