#!/usr/bin/env bash
# Runs the Windows test executables under Wine in a throw-away prefix. The first run makes a
# template prefix (slow); later runs copy it.
set -euo pipefail
cd "$(dirname "$0")/.."

export WINEDEBUG=-all
export WINEARCH=win64
template="$PWD/build/wine-template"
if [ ! -f "$template/system.reg" ]; then
    rm -rf "$template"
    echo "Preparing a Wine prefix (once)..."
    WINEPREFIX="$template" wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX="$template" wineserver -w
fi

work=$(mktemp -d)
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
cp -a "$template" "$work/prefix"
export WINEPREFIX="$work/prefix"
# Keep one Wine server up for all test executables instead of one per start, and start
# Wine's background services now, detached from our output: ctest waits for every holder of
# a test's stdout to close it, and those services outlive the test.
wineserver -p
wine cmd /c exit >/dev/null 2>&1 </dev/null
ctest --preset windows "$@"
