#!/usr/bin/env bash
# vantel-relay in front of a real server (a private dovecot): messages saved through it,
# read back straight from that server and compared byte for byte; and server offers that
# would let a client get past the relay's rules, as a client library sees them through it.
# Usage: dovecot-test.sh BUILD_DIR. Exits 77 (skipped) where dovecot or python3 is missing.
set -uo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
dovecot=/usr/sbin/dovecot
# The interpreter itself, not a version manager's shim, which costs half a second a run.
python=$(python3 -c 'import sys; print(sys.executable)' 2>/dev/null)
if [ ! -x "$dovecot" ] || [ ! -x /usr/lib/dovecot/pop3 ] || [ -z "$python" ]; then
    echo "dovecot (IMAP and POP3) or python3 is not installed; skipped"
    exit 77
fi
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT
source "$here/../../scripts/lib/checks.sh"
source "$here/../../scripts/lib/ports.sh"
source "$here/dovecot-common.sh"
read -r imap_port pop_port kludge_port plain_port stored_port open_port <<<"$(pick_ports 6)"

dovecot_users '{PLAIN}secret'
dovecot_start "$imap_port" "$pop_port" <<CONF || exit 1
# What a client must not take up through the relay: compression (the relay could no longer
# read the stream) and, where the relay holds the POP3 login, logins other than USER/PASS
# (SASL, and APOP, which needs the plain passwords the passdb has). COMPRESS is offered
# before login too, so that the greeting carries it; after login dovecot lists it twice.
auth_mechanisms = plain apop
mail_plugins = \$mail_plugins zlib
protocol imap {
    mail_plugins = \$mail_plugins imap_zlib
    imap_capability = +COMPRESS=DEFLATE
}
passdb {
    driver = passwd-file
    args = scheme=PLAIN $work/users
}
userdb {
    driver = passwd-file
    args = $work/users
}
CONF

# The relay in front of it: for IMAP one with the kludges, one without any; for POP3 one
# entry with a stored login (which replaces the client's USER and PASS), one without.
settings() {  # settings FILE MORE_LINES SERVER_LINE...
    local file=$1 more=$2 i
    shift 2
    {
        printf '%s\n' 'Windows Registry Editor Version 5.00' '' \
            '[HKEY_CURRENT_USER\SOFTWARE\Raderador\Vantel\Settings]' "\"ServersCount\"=\"$#\""
        for ((i = 1; i <= $#; i++)); do printf '"Servers%d"="%s"\n' $((i - 1)) "${!i}"; done
        printf '%s\n' "$more"
    } >"$file"
}
stored_login() {  # stored_login USER PASSWORD: "user\0password", each byte's bits reversed
    local hex=() byte bit r
    for byte in $(printf '%s\0%s' "$1" "$2" | od -An -v -tu1); do
        r=0
        for bit in {0..7}; do r=$(((r << 1) | (byte >> bit & 1))); done
        hex+=("$(printf '%02x' "$r")")
    done
    (IFS=, && echo "hex:${hex[*]}")
}
settings "$work/kludges.reg" '"KludgesCount"="2"
"Kludges0"="0 X-Mailer:"
"Kludges1"="0 X-Internal:"
"SubstCount"="2"
"Subst0"="0 Vantel test relay"
"Subst1"="1 "' "$kludge_port $imap_port 2 -1 127.0.0.1"
settings "$work/plain.reg" '' "$plain_port $imap_port 2 -1 127.0.0.1"
settings "$work/pop3.reg" "\"PassData0\"=$(stored_login tester secret)" \
    "$stored_port $pop_port 1 0 127.0.0.1" "$open_port $pop_port 1 -1 127.0.0.1"
for relay in kludges plain pop3; do
    "$bin/vantel-relay" --store "$work/$relay.reg" 2>"$work/relay-$relay.log" &
done
for port in "$kludge_port" "$plain_port" "$stored_port" "$open_port"; do
    wait_for_port "$port"
done

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

# Each offer first straight from dovecot, then as a client sees it through the relay.
client() {  # client NAME ARGS...: the client's account of a session, kept as NAME.out
    timeout 60 "$python" "$here/offers-client.py" "${@:2}" >"$work/$1.out" 2>&1
}
said() { sed -n "s/^$2 //p" "$work/$1.out"; }  # said NAME KEY: the lines NAME printed as KEY
no_compress() { sed -E 's/ COMPRESS=[^] ]+//g'; }
any_stamp() { sed 's/<[^>]*>$/<>/'; }  # APOP's time stamp differs from one connection to the next
stamp_gone() { [[ $2 == "${1% <*}"* && $2 != *"<"*">"* ]]; }  # stamp_gone DIRECT RELAYED
plus_ok() { [[ $1 == "+OK"* ]]; }
refused() { [[ $1 == "-ERR"* ]]; }
logged_in() { [[ $1 =~ ^\+OK\ [0-9]+\ [0-9]+ ]]; }  # STAT's reply: only a logged-in session gets it
absent() { ! grep -q "$@"; }

client imap-direct imap "$imap_port"
client imap-relayed imap "$kludge_port" compress
for key in greeting capability login; do
    check "IMAP $key: dovecot offers COMPRESS=DEFLATE" grep -q ' COMPRESS=DEFLATE' <<<"$(said imap-direct $key)"
    check "IMAP $key: through the relay, dovecot's without COMPRESS" \
        test "$(said imap-relayed $key)" = "$(said imap-direct $key | no_compress)"
done
check "IMAP: COMPRESS refused by the relay" grep -q '^TAG NO \[CANNOT\]' <<<"$(said imap-relayed compress)"
check "IMAP: the session goes on uncompressed" grep -q '^TAG OK' <<<"$(said imap-relayed select)"

client pop3-direct pop3 "$pop_port"
client pop3-open pop3 "$open_port"
client pop3-open-sasl pop3-sasl "$open_port" tester secret
client pop3-stored pop3 "$stored_port" relay-client wrong
client pop3-refused pop3-refused "$stored_port" relay-client wrong
greeting=$(said pop3-direct greeting)
check "POP3: dovecot offers APOP (a time stamp in its greeting)" grep -q ' <[^>]*>$' <<<"$greeting"
check "POP3: dovecot offers SASL PLAIN" grep -qx 'SASL PLAIN' <<<"$(said pop3-direct capa)"

# Without a stored login the client logs in as it likes: every offer passes unchanged.
check "POP3 without stored login: greeting with its time stamp" \
    test "$(said pop3-open greeting | any_stamp)" = "$(any_stamp <<<"$greeting")"
check "POP3 without stored login: CAPA unchanged" test "$(said pop3-open capa)" = "$(said pop3-direct capa)"
check "POP3 without stored login: APOP logs in" plus_ok "$(said pop3-open-sasl apop)"
check "POP3 without stored login: AUTH PLAIN logs in" plus_ok "$(said pop3-open-sasl auth)"

# With one, only USER/PASS carries it: APOP and SASL are neither offered nor let through.
# Dovecot would refuse the client's own APOP too; its log tells whether it got there.
check "POP3 stored login: greeting without a time stamp" stamp_gone "$greeting" "$(said pop3-stored greeting)"
check "POP3 stored login: CAPA without SASL" \
    test "$(said pop3-stored capa)" = "$(said pop3-direct capa | grep -v '^SASL')"
check "POP3 stored login: any USER/PASS logs in" logged_in "$(said pop3-stored login)"
check "POP3 stored login: AUTH refused by the relay" refused "$(said pop3-refused auth)"
check "POP3 stored login: USER/PASS after the refused AUTH" logged_in "$(said pop3-refused auth-then-login)"
check "POP3 stored login: APOP refused" refused "$(said pop3-refused apop)"
check "POP3 stored login: USER/PASS after the refused APOP" logged_in "$(said pop3-refused apop-then-login)"
check "POP3 stored login: the client's own login never reaches dovecot" absent relay-client "$work/dovecot.log"

echo "$passed passed, $failed failed"
if [ "$failed" -ne 0 ]; then
    for log in dovecot.log relay-kludges.log relay-plain.log relay-pop3.log; do
        echo "=== $log" >&2
        grep -v 'Info: Login:' "$work/$log" | tail -n 30 >&2
    done
    for out in "$work"/*.out; do
        echo "=== $(basename "$out")" >&2
        cat "$out" >&2
    done
fi
test "$failed" -eq 0
