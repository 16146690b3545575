#!/usr/bin/env bash
# Runs the Windows test executables under Wine in a throw-away prefix, with the TLS test
# servers (tests/tls/tls-test-server.py) up for the Schannel tests.
set -euo pipefail
cd "$(dirname "$0")/.."

# The tray tests create windows: give Wine a display of its own, from the start (a Wine server
# started without one cannot create windows later).
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

source scripts/lib/wine.sh
work=$(mktemp -d)
tls_pid=
auth_pid=
cleanup() {
    if [ -n "$tls_pid" ]; then kill "$tls_pid" 2>/dev/null || true; fi
    if [ -n "$auth_pid" ]; then kill "$auth_pid" 2>/dev/null || true; fi
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The servers make their certificates in a directory of their own and write ports.json there
# once they listen; Wine sees the directory through its Z: drive. Without python3 or openssl
# the TLS tests skip.
# Waits up to 30 s for the file $1 to have content while the process $2 lives; its status
# says whether it came.
wait_for_file() {
    for _ in $(seq 300); do
        if [ -s "$1" ] || ! kill -0 "$2" 2>/dev/null; then break; fi
        sleep 0.1
    done
    [ -s "$1" ]
}

mkdir "$work/tls"
if command -v python3 >/dev/null && command -v openssl >/dev/null; then
    python3 tests/tls/tls-test-server.py "$work/tls" >/dev/null 2>"$work/tls-server.log" &
    tls_pid=$!
    if wait_for_file "$work/tls/ports.json" "$tls_pid"; then
        export VANTEL_TLS_TEST_DIR="Z:${work//\//\\}\\tls"
    else
        echo "TLS test servers did not start; the Schannel tests skip:" >&2
        cat "$work/tls-server.log" >&2
    fi
fi

# The fake authorization server of the Linux tests, for the sign-in tests: plain http:// on
# loopback, which the relay accepts for token endpoints on this computer only. Without the
# Linux build the sign-in tests skip.
auth_server=
for candidate in build/linux-release/vantel-fake-auth-server build/linux/vantel-fake-auth-server; do
    if [ -x "$candidate" ]; then auth_server=$candidate; break; fi
done
if [ -n "$auth_server" ]; then
    "$auth_server" --plain --username tester@example.test --expires-in 300 >"$work/auth.port" \
        2>"$work/auth-server.log" &
    auth_pid=$!
    if wait_for_file "$work/auth.port" "$auth_pid"; then
        export VANTEL_FAKE_AUTH_URL="http://127.0.0.1:$(head -n1 "$work/auth.port")"
    else
        echo "The fake authorization server did not start; the sign-in tests skip:" >&2
        cat "$work/auth-server.log" >&2
    fi
else
    echo "No vantel-fake-auth-server (make build-linux-release): the sign-in tests skip" >&2
fi

fresh_wine_prefix "$work/prefix"
start_wine_server
ctest --preset windows "$@"
