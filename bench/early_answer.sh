#!/bin/sh
# How often curl hears an origin's early answer: a 16 MiB upload to an origin
# that reads the request head, answers 413 and closes while the body is still
# coming. Runs the same uploads straight to the origin and through the proxy,
# taking turns, and prints how many of each saw the 413.
# Usage: bench/early_answer.sh [build dir] [runs]
set -eu

build=${1:-build}
runs=${2:-20}
bench="$build/bench/bench_proxy_bench"
[ -x "$bench" ] || { echo "build $bench first (cmake --build $build --target bench_proxy_bench)" >&2; exit 1; }
for tool in curl python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "needs $tool" >&2; exit 1; }
done

. "$(dirname "$0")/bench_common.sh"

head -c $((16 * 1024 * 1024)) /dev/zero > "$work/upload"
originPort=$(freePort)
python3 - "$originPort" <<'PY' &
import socket, sys, threading

answer = (b"HTTP/1.1 413 Payload Too Large\r\nContent-Length: 9\r\n"
          b"Connection: close\r\n\r\ntoo large")

def serve(client):
    head = b""
    while b"\r\n\r\n" not in head:
        piece = client.recv(65536)
        if not piece:
            break
        head += piece
    client.sendall(answer)
    # Closed with the body unread: the kernel resets the connection.
    client.close()

listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", int(sys.argv[1])))
listener.listen(64)
while True:
    client, _ = listener.accept()
    threading.Thread(target=serve, args=(client,), daemon=True).start()
PY
pids="$pids $!"

"$bench" --port 0 > "$work/proxy.out" &
pids="$pids $!"
for _ in $(seq 1 250); do
    grep -q '^port ' "$work/proxy.out" 2>/dev/null && break
    python3 -c 'import time; time.sleep(0.02)'
done
proxyPort=$(sed -n 's/^port //p' "$work/proxy.out")
waitForPort "$originPort"
waitForPort "$proxyPort"

# 1 when curl heard the 413, else 0.
upload() {
    code=$(curl -q -s -o /dev/null -w '%{http_code}' --max-time 30 -H 'Expect:' \
        --data-binary "@$work/upload" "$@" "http://127.0.0.1:$originPort/up" || true)
    [ "$code" = 413 ] && echo 1 || echo 0
}

direct=0
proxied=0
for _ in $(seq 1 "$runs"); do
    direct=$((direct + $(upload)))
    proxied=$((proxied + $(upload -x "http://127.0.0.1:$proxyPort")))
done
echo "early 413 to a 16 MiB upload heard by curl: direct $direct of $runs, through tidewell $proxied of $runs"
