#!/usr/bin/env bash
# scripts/check-layers.sh against small trees: every kind of forbidden include is reported on
# its own line, and the includes the core is allowed pass.
set -uo pipefail
check=$(cd "$(dirname "$0")/../.." && pwd)/scripts/check-layers.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
    echo "FAILED: $*" >&2
    failed=1
}

mkdir -p "$work/clean/relay" "$work/dirty/config"
cat > "$work/clean/relay/Engine.h" <<'EOF'
#include <cstdint>
#include <string>
#include "core/config/ServerEntry.h"
#include "platform/EventLoop.h"
#include "platform/SocketAddress.h"
#include "../config/RelaySettings.h"
// #include <windows.h>
EOF
out=$("$check" "$work/clean" 2>&1) || fail "a clean tree is refused: $out"
[ -z "$out" ] || fail "a clean tree prints: $out"

cat > "$work/dirty/config/Bad.cpp" <<'EOF'
#include "core/config/ServerEntry.h"
#include <windows.h>
#  include <WinSock2.h>
#include <unistd.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <pthread.h>
#include <fcntl.h>
#include "platform/posix/PosixSocket.h"
#include "../../platform/win32/Win32Socket.h"
#include "tray/MainDialog.h"
#include "src/service/RelayService.h"
#include <daemon/RelayDaemon.h>
#include "platform/Notifier.h"
EOF
out=$("$check" "$work/dirty" 2>&1)
status=$?
[ "$status" -ne 0 ] || fail "a tree with forbidden includes passes"
expected_lines="2 3 4 5 6 7 8 9 10 11 12 13 14"
got_lines=$(sed -n 's/^.*Bad\.cpp:\([0-9]*\): .*$/\1/p' <<<"$out" | tr '\n' ' ' | sed 's/ $//')
[ "$got_lines" = "$expected_lines" ] ||
    fail "reported lines '$got_lines', expected '$expected_lines'; output:"$'\n'"$out"
[ "$(wc -l <<<"$out")" -eq 13 ] || fail "not one line per offence:"$'\n'"$out"
grep -q 'Bad.cpp:10: the core includes "platform/posix/PosixSocket.h", a platform backend' \
    <<<"$out" || fail "the message names neither the include nor why:"$'\n'"$out"

[ "$failed" -eq 0 ] && echo "check-layers: all cases pass"
exit "$failed"
