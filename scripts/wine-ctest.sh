#!/usr/bin/env bash
# Runs the Windows test executables under Wine in a throw-away prefix.
set -euo pipefail
cd "$(dirname "$0")/.."

# The tray tests create windows: give Wine a display of its own, from the start (a Wine server
# started without one cannot create windows later).
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

source scripts/lib/wine.sh
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
fresh_wine_prefix "$work/prefix"
start_wine_server
ctest --preset windows "$@"
