#!/usr/bin/env bash
# Messages saved through vantel-relay to a real IMAP server (a private dovecot), read back
# straight from that server and compared byte for byte. Usage: dovecot-test.sh BUILD_DIR
# Exits 77 (skipped) where dovecot is not installed.
set -uo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
dovecot=/usr/sbin/dovecot
if [ ! -x "$dovecot" ]; then
    echo "dovecot is not installed; skipped"
    exit 77
fi
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT
passed=0
failed=0
check() {  # check NAME COMMAND...
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $name" >&2
    fi
}
source "$here/../../scripts/lib/ports.sh"
read -r imap_port kludge_port plain_port <<<"$(pick_ports 3)"

# Dovecot runs its login processes and the mail of its users as anyone but root: as root
# (CI) its own package users do that, otherwise the user running the test does it all.
# A system dovecot, if the package started one, has other ports, sockets and state.
internal=$(id -un) login=$(id -un)
mkdir "$work/mail"
if [ "$(id -u)" -eq 0 ]; then
    internal=dovecot login=dovenull
    chmod 711 "$work"
    chown "$internal:" "$work/mail"
fi
printf 'tester:{PLAIN}secret:%d:%d::%s\n' "$(id -u "$internal")" "$(id -g "$internal")" \
    "$work/mail/tester" >"$work/users"
cat >"$work/dovecot.conf" <<CONF
base_dir = $work/run
state_dir = $work/state
log_path = $work/dovecot.log
protocols = imap
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
default_internal_user = $internal
default_internal_group = $(id -gn "$internal")
default_login_user = $login
first_valid_uid = 1
mail_location = maildir:$work/mail/%u
passdb {
    driver = passwd-file
    args = scheme=PLAIN $work/users
}
userdb {
    driver = passwd-file
    args = $work/users
}
# Chroots need root; without them the same file serves a normal user.
service anvil {
    chroot =
}
service imap-login {
    chroot =
    inet_listener imap {
        port = $imap_port
    }
    inet_listener imaps {
        port = 0
    }
}
CONF
"$dovecot" -c "$work/dovecot.conf" -F &
wait_for_port "$imap_port" || { cat "$work/dovecot.log" >&2; exit 1; }

# The relay in front of it: one with the kludges, one without any.
settings() {  # settings FILE RELAY_PORT [MORE_LINES]
    printf '%s\n' 'Windows Registry Editor Version 5.00' '' \
        '[HKEY_CURRENT_USER\SOFTWARE\Raderador\Vantel\Settings]' '"ServersCount"="1"' \
        "\"Servers0\"=\"$2 $imap_port 2 -1 127.0.0.1\"" "${3:-}" >"$1"
}
settings "$work/kludges.reg" "$kludge_port" '"KludgesCount"="2"
"Kludges0"="0 X-Mailer:"
"Kludges1"="0 X-Internal:"
"SubstCount"="2"
"Subst0"="0 Vantel test relay"
"Subst1"="1 "'
settings "$work/plain.reg" "$plain_port"
"$bin/vantel-relay" --store "$work/kludges.reg" 2>"$work/relay-kludges.log" &
"$bin/vantel-relay" --store "$work/plain.reg" 2>"$work/relay-plain.log" &
wait_for_port "$kludge_port"
wait_for_port "$plain_port"

# The message, and what each relay must make of it: only the header is rewritten, and
# body lines that look like commands or headers stay as they are.
crlf() { printf '%s\r\n' "$@"; }
common=('From: Tester <tester@example.org>' 'To: someone@example.org' 'Subject: Saved through the relay')
mailer='X-Mailer: SomeMailer 1.0'
internal_line='X-Internal: do not leak this'
body=('First line of the body.' 'A1 LOGOUT' 'X-Mailer: body' 'Date: in the body, left alone' '' 'Last line.')
crlf "${common[@]}" 'Date: Tue, 8 Dec 2026 12:00:00 +0000' "$mailer" "$internal_line" '' "${body[@]}" >"$work/in.eml"
crlf "${common[@]}" 'Date: Tue, 8 Dec 2026 12:00:00  +0000' 'X-Mailer:  Vantel test relay' '' "${body[@]}" \
    >"$work/kludged.eml"
crlf "${common[@]}" 'Date: Tue, 8 Dec 2026 12:00:00  +0000' "$mailer" "$internal_line" '' "${body[@]}" \
    >"$work/dated.eml"
seq -f 'Line %07g of a large body, long enough to make three megabytes.' 48000 | sed 's/$/\r/' >"$work/big"
cat "$work/in.eml" "$work/big" >"$work/large-in.eml"
cat "$work/kludged.eml" "$work/big" >"$work/large-kludged.eml"

direct() { curl -sS -m 10 -u tester:secret "$@"; }  # straight to dovecot, not through the relay
relayed() {  # relayed PORT BOX FILE (curl's -m does not cover the wait for APPEND's reply)
    timeout 15 curl -sS -u tester:secret --upload-file "$3" "imap://127.0.0.1:$1/$2"
}
stored_as() {  # stored_as BOX EXPECTED: BOX holds that one message and nothing more
    check "$1: one message in the mailbox" \
        grep -q 'MESSAGES 1)' <<<"$(direct "imap://127.0.0.1:$imap_port" -X "STATUS $1 (MESSAGES)")"
    direct "imap://127.0.0.1:$imap_port/$1;UID=1" -o "$work/$1.stored"
    check "$1: stored byte for byte" cmp "$work/$1.stored" "$2"
}
imap_wait() {  # imap_wait FD TAG: reads up to TAG's reply; true when that is OK
    local line
    while IFS= read -r -t 10 line <&"$1"; do
        if [[ $line == "$2 "* ]]; then
            [[ $line == "$2 OK"* ]]
            return
        fi
    done
    return 1
}
append_literal_plus() (  # append_literal_plus PORT BOX FILE: a {n+} literal, sent unasked
    trap '' PIPE  # a connection cut short fails the check, not the script
    exec {fd}<>"/dev/tcp/127.0.0.1/$1" || exit 1
    printf 'A1 LOGIN tester secret\r\n' >&"$fd"
    imap_wait "$fd" A1 &&
        { printf 'A2 APPEND %s {%d+}\r\n' "$2" "$(stat -c %s "$3")" && cat "$3" && printf '\r\n'; } >&"$fd" &&
        imap_wait "$fd" A2
    ok=$?
    printf 'A3 LOGOUT\r\n' >&"$fd"
    exit $ok
)
for box in Sent Plain Literal Large; do
    check "$box: created" direct "imap://127.0.0.1:$imap_port" -X "CREATE $box" -o /dev/null
done

check "Sent: saved through the relay" relayed "$kludge_port" Sent "$work/in.eml"
stored_as Sent "$work/kludged.eml"
check "Plain: saved through the relay" relayed "$plain_port" Plain "$work/in.eml"
stored_as Plain "$work/dated.eml"
check "Literal: saved through the relay" append_literal_plus "$kludge_port" Literal "$work/in.eml"
stored_as Literal "$work/kludged.eml"
check "Large: saved through the relay" relayed "$kludge_port" Large "$work/large-in.eml"
stored_as Large "$work/large-kludged.eml"

echo "$passed passed, $failed failed"
if [ "$failed" -ne 0 ]; then
    for log in dovecot.log relay-kludges.log relay-plain.log; do
        echo "=== $log" >&2
        grep -v 'Info: Login:' "$work/$log" | tail -n 30 >&2
    done
fi
test "$failed" -eq 0
