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
#include "platform/bsd/SockaddrConversion.h"
#include "tray/MainDialog.h"
#include "src/service/RelayService.h"
#include <daemon/RelayDaemon.h>
#include "platform/Notifier.h"
EOF
out=$("$check" "$work/dirty" 2>&1)
status=$?
[ "$status" -ne 0 ] || fail "a tree with forbidden includes passes"
expected_lines="2 3 4 5 6 7 8 9 10 11 12 13 14 15"
got_lines=$(sed -n 's/^.*Bad\.cpp:\([0-9]*\): .*$/\1/p' <<<"$out" | tr '\n' ' ' | sed 's/ $//')
[ "$got_lines" = "$expected_lines" ] ||
    fail "reported lines '$got_lines', expected '$expected_lines'; output:"$'\n'"$out"
[ "$(wc -l <<<"$out")" -eq 14 ] || fail "not one line per offence:"$'\n'"$out"
grep -q 'Bad.cpp:10: the core includes "platform/posix/PosixSocket.h", a platform backend' \
    <<<"$out" || fail "the message names neither the include nor why:"$'\n'"$out"

# Inside the core a layer includes only those below it; the command line is held to the
# core's rule as well, all but its main.cpp.
mkdir -p "$work/layers/core/config" "$work/layers/core/protocol" "$work/layers/cli"
cat > "$work/layers/core/config/Low.h" <<'EOF'
#include "core/config/RelaySettings.h"
#include "core/rewrite/MessageRewriter.h"
#include "../relay/RelayEngine.h"
EOF
cat > "$work/layers/core/protocol/Mid.h" <<'EOF'
#include "core/config/ServerEntry.h"
#include "core/rewrite/MessageRewriter.h"
#include "core/protocol/ProtocolFramer.h"
#include "core/app/SchemaManager.h"
EOF
cat > "$work/layers/cli/Command.cpp" <<'EOF'
#include "core/relay/RelayEngine.h"
#include "platform/win32/RegistryStore.h"
EOF
cp "$work/layers/cli/Command.cpp" "$work/layers/cli/main.cpp"
out=$("$check" "$work/layers/core" "$work/layers/cli" 2>&1)
[ $? -ne 0 ] || fail "includes against the layers pass"
got=$(sed -n 's/^.*\/\([A-Za-z]*\.[a-z]*:[0-9]*\): .*$/\1/p' <<<"$out" | sort | tr '\n' ' ')
[ "$got" = "Command.cpp:2 Low.h:2 Low.h:3 Mid.h:4 " ] ||
    fail "layer offences reported '$got'; output:"$'\n'"$out"
grep -q 'Low.h:2: config includes "core/rewrite/MessageRewriter.h", of the layer rewrite' \
    <<<"$out" || fail "the message names neither the layers nor the include:"$'\n'"$out"
grep -q 'Command.cpp:2: the command line includes' <<<"$out" ||
    fail "the command line is not named:"$'\n'"$out"

[ "$failed" -eq 0 ] && echo "check-layers: all cases pass"
exit "$failed"
