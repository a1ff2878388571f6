# Shared by the benchmark scripts: a private work folder removed at exit with
# every process listed in $pids, and loopback port helpers. Source it.
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
# Waits up to 30 s for a listener on 127.0.0.1:$1.
waitForPort() {
    python3 - "$1" <<'PY'
import socket, sys, time
for _ in range(1500):
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), 0.2).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.02)
sys.exit("port %s never opened" % sys.argv[1])
PY
}
