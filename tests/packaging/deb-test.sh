#!/usr/bin/env bash
# The Debian package as a person gets it, unpacked into a scratch root (never installed on
# this machine), and `make install` beside it. Run after `make package-deb`.
# Usage: deb-test.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$repo/build/linux-release}" && pwd)
work=$(mktemp -d)
cleanup() {
    local pids
    pids=$(jobs -p)
    [ -z "$pids" ] || kill $pids 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
source "$repo/scripts/lib/checks.sh"
source "$repo/scripts/lib/ports.sh"
port_open() { ! port_free "$1"; }
same() { diff -u "$1" "$2" >&2; }  # same EXPECTED ACTUAL, showing the difference

version=$(sed -n 's/^version=//p' "$build/package.env")
deb="$repo/build/packages/vantel_${version}_$(dpkg --print-architecture).deb"
if [ ! -f "$deb" ]; then
    echo "deb-test: no $deb; make package-deb builds it" >&2
    exit 1
fi

# --- What the package holds, and who owns it. ---
cat >"$work/expected" <<'EOF'
/usr/bin/vantel
/usr/bin/vantel-relay
/usr/lib/systemd/user/vantel-relay.service
/usr/share/doc/vantel/README.md
/usr/share/doc/vantel/changelog.gz
/usr/share/doc/vantel/copyright
/usr/share/man/man1/vantel.1.gz
/usr/share/man/man8/vantel-relay.8.gz
EOF
dpkg-deb -c "$deb" >"$work/listing"
awk '$1 !~ /^d/ {sub(/^\./, "", $6); print $6}' "$work/listing" | sort >"$work/files"
check "contents: exactly the expected files" same "$work/expected" "$work/files"
check "contents: everything root's" test -z "$(awk '$2 != "root/root"' "$work/listing")"
check "contents: the programs executable, the rest not" test -z "$(awk '
    $1 ~ /^-/ && (($6 ~ /^\.\/usr\/bin\//) != ($1 == "-rwxr-xr-x"))' "$work/listing")"
check "control: the project's version" test "$(dpkg-deb -f "$deb" Version)" = "$version"
check "control: libraries found by dpkg-shlibdeps" grep -q 'libc6 (>= ' <<<"$(dpkg-deb -f "$deb" Depends)"
# Token renewals go through libcurl, TLS and hashing through OpenSSL.
check "control: libcurl and OpenSSL among them" bash -c 'grep -q "libcurl4 (>= " <<<"$1" && grep -q "libssl3 (>= " <<<"$1"' _ "$(dpkg-deb -f "$deb" Depends)"
check "control: xdg-open recommended, for signing in" test "$(dpkg-deb -f "$deb" Recommends)" = "xdg-utils"

if command -v lintian >/dev/null; then
    # Errors and warnings fail; info tags (the build's hardening flags) are only shown.
    check "lintian: no errors or warnings" lintian --fail-on error,warning "$deb"
else
    echo "deb-test: lintian is not installed; its checks are skipped"
fi

# --- The package unpacked into a scratch root. ---
root="$work/root"
dpkg-deb -x "$deb" "$root"
for program in vantel-relay vantel; do
    check "$program: stripped" bash -c '! readelf -S "$1" | grep -qE "\.symtab|\.comment"' _ \
        "$root/usr/bin/$program"
    check "$program --version: the project's version" \
        test "$("$root/usr/bin/$program" --version)" = "$program $version"
done
check "vantel --help" grep -q '^Usage: vantel ' <<<"$("$root/usr/bin/vantel" --help)"
check "copyright: the licence of LICENSE" grep -q '^ Permission is hereby granted' \
    "$root/usr/share/doc/vantel/copyright"

# Each page renders with its sections and without a single roff or man warning.
for page in man1/vantel.1.gz man8/vantel-relay.8.gz; do
    file="$root/usr/share/man/$page"
    rendered=$(MANWIDTH=80 man -l "$file" 2>/dev/null) || rendered=""
    check "$page: renders with NAME and SYNOPSIS" \
        bash -c 'grep -q "^NAME" <<<"$1" && grep -q "^SYNOPSIS" <<<"$1"' _ "$rendered"
    check "$page: no man warnings" test -z "$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)"
    check "$page: no groff warnings" test -z "$(zcat "$file" | groff -ww -z -man 2>&1)"
done

# The unit as systemd reads it, in user mode, with its ExecStart moved to the scratch root
# and MANPATH there so that Documentation= is looked up too.
unit="$root/usr/lib/systemd/user/vantel-relay.service"
check "unit: starts the packaged relay" grep -qx 'ExecStart=/usr/bin/vantel-relay' "$unit"
mkdir -m 0700 "$work/runtime" "$work/units"
sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" "$unit" >"$work/units/vantel-relay.service"
analyze() { XDG_RUNTIME_DIR="$work/runtime" MANPATH="$root/usr/share/man" systemd-analyze --user verify "$@" 2>&1; }
printf '[Service]\nExecStart=/bin/true\n' >"$work/units/probe.service"
if ! command -v systemd-analyze >/dev/null || ! analyze --man=no "$work/units/probe.service" >/dev/null; then
    echo "deb-test: systemd-analyze cannot run here; the unit is not verified"
else
    out=$(analyze "$work/units/vantel-relay.service") && status=0 || status=$?
    check "unit: systemd-analyze verify passes" test "$status" -eq 0 -a -z "$out"
    [ -z "$out" ] || echo "$out" >&2
fi

# The stripped relay at work: listens for its one entry, reloads on SIGHUP, ends cleanly.
port=$(pick_ports 1)
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n"ServersCount"="1"\r\n"Servers0"="%d 9 0 -1 127.0.0.1"\r\n' \
    "$port" >"$work/settings.reg"
"$root/usr/bin/vantel-relay" --store "$work/settings.reg" 2>"$work/relay.log" &
pid=$!
check "relay: listens on the entry's port" wait_until 5 port_open "$port"
kill -HUP "$pid"
check "relay: reloads on SIGHUP" wait_until 5 grep -q "settings reloaded from $work/settings.reg" "$work/relay.log"
kill -TERM "$pid"
wait "$pid" && status=0 || status=$?
check "relay: exit status 0 on SIGTERM" test "$status" -eq 0

# --- make install: the same files as the package, below PREFIX. The package has the
# licence in its copyright file and a changelog where make install keeps LICENSE, and
# compressed manual pages. ---
make -C "$repo" --no-print-directory install DESTDIR="$work/local" PREFIX=/usr/local >/dev/null
local_root="$work/local/usr/local"
(cd "$local_root" && find . -type f | sed 's|^\.|/usr|' | sort) >"$work/installed"
sed -e '/\/copyright$/d' -e '/\/changelog\.gz$/d' -e 's|\.gz$||' "$work/files" |
    { cat; echo /usr/share/doc/vantel/LICENSE; } | sort >"$work/expected-installed"
check "make install: the package's files" same "$work/expected-installed" "$work/installed"
for page in man1/vantel.1 man8/vantel-relay.8; do
    check "make install: $page as packaged" \
        cmp -s <(zcat "$root/usr/share/man/$page.gz") "$local_root/share/man/$page"
done
check "make install: the unit starts /usr/local/bin/vantel-relay" \
    grep -qx 'ExecStart=/usr/local/bin/vantel-relay' "$local_root/lib/systemd/user/vantel-relay.service"
check "make install: the relay's version" \
    test "$("$local_root/bin/vantel-relay" --version)" = "vantel-relay $version"

echo "deb-test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
