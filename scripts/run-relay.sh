#!/usr/bin/env bash
# `make run`: the relay in the foreground on the user's settings file. Before there is one,
# it says how to make a first entry; the relay picks the file up as soon as it is written.
# Usage: run-relay.sh [BIN_DIR] [vantel-relay arguments...]
set -euo pipefail
bin=${1:-build/linux-release}
shift || true
# Where FileStore looks by default; an empty XDG_CONFIG_HOME counts as unset there too.
if [ -n "${XDG_CONFIG_HOME:-}" ]; then
    settings=$XDG_CONFIG_HOME/vantel/settings.reg
elif [ -n "${HOME:-}" ]; then
    settings=$HOME/.config/vantel/settings.reg
else
    settings=
fi
if [ -n "$settings" ] && [ ! -e "$settings" ]; then
    cat <<TEXT
No settings yet at $settings.
A first entry, from another terminal, with your provider's servers (local ports below 1024
are for root only):
    $bin/vantel server add --type smtp --host smtp.example.org --security starttls --local-port 2525
    $bin/vantel server add --type pop3 --host pop.example.org --security tls --local-port 1110 --user NAME
    $bin/vantel check
Then point the mail client at localhost, ports 2525 and 1110.
TEXT
fi
exec "$bin/vantel-relay" "$@"
