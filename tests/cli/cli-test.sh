#!/usr/bin/env bash
# The vantel command as a person runs it, on scratch settings files. Usage: cli-test.sh BUILD_DIR
set -uo pipefail
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
source "$here/../../scripts/lib/checks.sh"
source "$here/../../scripts/lib/ports.sh"
port_open() { ! port_free "$1"; }
store="$work/settings.reg"
v() { "$bin/vantel" --store "$store" "$@"; }
# stored NAME: the value NAME of the user's settings key, as the file holds it.
stored() {
    python3 -c '
import re, sys
text = re.sub(r"\\\r?\n\s*", "", open(sys.argv[1], encoding="utf-8", errors="replace").read())
for line in text.splitlines():
    if line.startswith("\"%s\"=" % sys.argv[2]):
        print(line.split("=", 1)[1])
        break' "$store" "$1"
}
has() { grep -qF -- "$1" <<<"$2"; }
password='Pa55-w0rd!s3cret'
# The token records of the sign-ins: never the real user's.
export XDG_STATE_HOME="$work/state"

# --- Server entries: what the Server Settings dialog would store for the same edits. ---
out=$(v server add --host pop.example.org --type pop3 --security tls --local-port 1110 \
    --user alice --password-stdin <<<"$password" 2>&1)
check "server add: says what it added" has "POP3 on local port 1110 to pop.example.org:995 (SSL/TLS), login stored for alice" "$out"
line=$(stored Servers0)
index=$(awk '{print $4}' <<<"${line//\"/}")
check "server add: the server line" test "$line" = "\"1110 995 1 $index pop.example.org\""
check "server add: a PassData number of its own" test "$index" -ge 0
check "server add: the mode beside the entry" test "$(stored ServerSecurity0)" = '"1"'
# The login as the dialog packs it: user, NUL, password, every byte's bits reversed.
expected_hex=$(python3 -c '
import sys
data = b"alice\0" + sys.argv[1].encode()
print(",".join("%02x" % int(format(b, "08b")[::-1], 2) for b in data))' "$password")
check "server add: the login packed" test "$(stored "PassData$index")" = "hex:$expected_hex"

v server add --host mail.example.org >/dev/null
check "server add: SMTP defaults" test "$(stored Servers1)" = '"25 25 0 -1 mail.example.org"'
v server edit 2 --type pop3 >/dev/null
check "type switch: ports holding the old defaults follow" test "$(stored Servers1)" = '"110 110 1 -1 mail.example.org"'
v server edit 2 --type smtp --security starttls --local-port 2525 >/dev/null
check "mode switch: the remote port follows, a chosen local port stays" test "$(stored Servers1)" = '"2525 587 0 -1 mail.example.org"'
v server edit 2 --remote-port 10025 --security tls >/dev/null
check "mode switch: a chosen remote port stays" test "$(stored Servers1)" = '"2525 10025 0 -1 mail.example.org"'
v server edit 2 --pin 'ab cd ef 01 23 45 67 89 ab cd ef 01 23 45 67 89 ab cd ef 01 23 45 67 89 ab cd ef 01 23 45 67 89' >/dev/null
check "pin: stored in the dialog's form" test "$(stored ServerFingerprint1)" = '"AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89"'
v server edit 2 --no-pin --security none >/dev/null
check "no pin: the values go" bash -c '! grep -q "ServerFingerprint1\|ServerSecurity1" "$1"' _ "$store"
v server add --host third.example.org --type imap4 >/dev/null
v server remove 2 >/dev/null
check "remove: the entries after move up" test "$(stored Servers1)" = '"143 143 2 -1 third.example.org"'
check "remove: the login of entry 1 stays" grep -q "PassData$index" "$store"
v server edit 1 --user bob --password-stdin <<<"another-$password" >/dev/null
check "new login: same PassData number" test "$(awk '{print $4}' <<<"$(stored Servers0 | tr -d '"')")" = "$index"
v server edit 1 --no-login >/dev/null
out=$(v show)
check "no login: forgotten" bash -c '! grep -q "alice\|bob" <<<"$1"' _ "$out"

# --- The password never shows: not in arguments, output, the file in clear, or the trace. ---
v server edit 1 --user carol --password-stdin <<<"$password" >"$work/out.txt" 2>&1
v show >>"$work/out.txt" 2>&1
v show --json >>"$work/out.txt" 2>&1
check "password: not in any output" bash -c '! grep -qF -- "$1" "$2"' _ "$password" "$work/out.txt"
check "password: not in the file in clear" bash -c '! grep -qF -- "$1" "$2"' _ "$password" "$store"
check "password: show names the user only" grep -q "carol (password stored)" "$work/out.txt"
out=$(v server edit 1 --user carol --password "$password" 2>&1)
check "password argument: refused" test $? -ne 0
check "password argument: says why" has "never given as an argument" "$out"
out=$(v server edit 1 --user carol </dev/null 2>&1)
check "no terminal: asks for --password-stdin" has "--password-stdin" "$out"
# At a terminal the prompt reads the password without echo.
prompt_out=$(python3 - "$bin/vantel" "$store" "$password" <<'PY'
import os, pty, select, signal, sys, time
program, store, secret = sys.argv[1:]
pid, fd = pty.fork()
if pid == 0:
    os.execv(program, [program, "--store", store, "server", "edit", "1", "--user", "dave"])
seen = b""
deadline = time.time() + 10
def read_some():
    global seen
    if not select.select([fd], [], [], max(0.0, deadline - time.time()))[0]:
        return False
    try:
        chunk = os.read(fd, 1024)
    except OSError:
        return False
    seen += chunk
    return bool(chunk)
while b"Password for dave: " not in seen and time.time() < deadline and read_some():
    pass
os.write(fd, secret.encode() + b"\n")
while time.time() < deadline and read_some():
    pass
if os.waitpid(pid, os.WNOHANG) == (0, 0):
    os.kill(pid, signal.SIGKILL)  # a prompt that never returns fails the checks, not the run
    os.waitpid(pid, 0)
sys.stdout.write(seen.decode(errors="replace") + "\n")
PY
)
check "prompt: asks for the password" has "Password for dave: " "$prompt_out"
check "prompt: the login is stored" has "login stored for dave" "$prompt_out"
check "prompt: no echo" bash -c '! grep -qF -- "$1" <<<"$2"' _ "$password" "$prompt_out"

# --- Kludges, special kludges and general values. ---
printf 'only line\n' >"$work/faces.txt"
v kludge add --smtp X-Mailer --change 'Vantel 2.0' >/dev/null
v kludge add --pop3 X-Spam-Flag: --delete >/dev/null
(cd "$work" && "$bin/vantel" --store "$store" kludge add --smtp X-Face --from-file faces.txt >/dev/null)
check "kludge: colon added, type and header" test "$(stored Kludges0)" = '"0 X-Mailer:"'
check "kludge: change text" test "$(stored Subst0)" = '"0 Vantel 2.0"'
check "kludge: POP3 delete" test "$(stored Kludges1)$(stored Subst1)" = '"1 X-Spam-Flag:""1 "'
check "kludge: file by its full path" test "$(stored Subst2)" = "\"2 $work/faces.txt\""
out=$(v kludge add --smtp Subject --special '#' 2>&1)
check "special kludge needed first: refused" has "no special kludge has the signal string '#'" "$out"
v special add '#' '#' X-Topic >/dev/null
check "special: signal" test "$(stored SignalStr0)" = '"#"'
check "special: separator and name, colon added" test "$(stored SpecialKludges0)" = '"# X-Topic:"'
v kludge add --smtp Subject --special '#' >/dev/null
check "kludge: special" test "$(stored Subst3)" = '"3 #"'
out=$(v special add sig '' Name 2>&1)
check "special: separator needed" has "Please enter a separator character." "$out"
out=$(v special add sig ';' 'Two words' 2>&1)
check "special: no blanks in the name" has "The kludge name cannot contain blanks." "$out"
v kludge edit 1 --pop3 >/dev/null
check "kludge edit: the action stays" test "$(stored Kludges0)$(stored Subst0)" = '"1 X-Mailer:""0 Vantel 2.0"'
v kludge edit 1 --smtp >/dev/null
for setting in "connect-timeout 30:ConnectTimeout:30" "timeout 20:MessageTimeout:20" \
    "default-smtp-port 2525:DefaultPort:2525" "cyclic-change on:POPCycleChange:1" \
    "log-traffic yes:LogTraffic:1" "listen-address local:ListenAddress:"; do
    IFS=: read -r args name value <<<"$setting"
    # shellcheck disable=SC2086
    v set $args >/dev/null
    check "set $args" test "$(stored "$name")" = "\"$value\""
done

# --- Schemas, with the Schemes dialog's messages. ---
out=$(v schema save Work)
check "schema save: the dialog's message" test "$out" = "Schema 'Work' was successfully saved"
check "schema save: listed and current" test "$(stored Schemes0)$(stored DefaultSchema)" = '"Work""1"'
check "schema save: a key of its own" grep -qF 'Settings\Work]' "$store"
v set timeout 5 >/dev/null
check "schema: edits go to the current schema" test "$(v show --schema Work --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["general"]["timeout"])')" = 5
v schema select --default >/dev/null
check "schema select: the default's own values" test "$(v show --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["general"]["timeout"])')" = 20
out=$(v schema save 'a\b' 2>&1)
check "schema name: no backslash" has 'A schema name cannot contain a backslash' "$out"
out=$(v schema delete Nope 2>&1)
check "schema delete: unknown name, the dialog's message, failure" test "$?$out" = '1vantel: Schema "Nope" not found'
out=$(v schema delete Work)
check "schema delete: the dialog's message" test "$out" = "Schema 'Work' was successfully deleted"
check "schema delete: its key is gone" bash -c '! grep -qF "Settings\\Work]" "$1"' _ "$store"

# --- JSON for scripts, and the machine-wide copy. ---
json_ok=$(v show --json | python3 -c '
import json, sys
d = json.load(sys.stdin)
print(d["servers"][0]["user"], d["servers"][0]["passwordStored"], d["kludges"][0]["header"], d["specialKludges"][0]["name"])')
check "show --json: parses, login and rules" test "$json_ok" = "dave True X-Mailer: X-Topic:"
"$bin/vantel" --store "$store" --machine server add --host machine.example.org >/dev/null
check "--machine: written to the machine key" grep -qF '[HKEY_LOCAL_MACHINE\SOFTWARE\Raderador\Vantel\Settings]' "$store"
check "--machine: the user's list unchanged" test "$(v show --json | python3 -c 'import json,sys; print(len(json.load(sys.stdin)["servers"]))')" = 2

# --- Mistakes: one clear line, a non-zero status, nothing written. ---
cp "$store" "$work/before.reg"
for bad in "server edit 9 --host x" "server add --host x --type gopher" "server add --host x --local-port 70000" \
    "server add --host x --pin 12:34" "kludge add --smtp X-A" "kludge remove 0" "set timeout 61" \
    "set nothing 1" "special edit 7 a b c" "server add --host" "server add --host x --frobnicate"; do
    # shellcheck disable=SC2086
    out=$(v $bad 2>&1)
    status=$?
    check "refused: $bad" test "$status" -ne 0 -a "$(wc -l <<<"$out")" -eq 1
done
check "refused: nothing written" cmp -s "$store" "$work/before.reg"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n"Servers0"="broken\r\n' >"$work/bad.reg"
cp "$work/bad.reg" "$work/bad.copy"
out=$("$bin/vantel" --store "$work/bad.reg" server add --host x 2>&1)
check "malformed file: refused with its line" test "$?" -eq 1 -a -n "$(grep 'bad.reg:4:' <<<"$out")"
check "malformed file: left as it was" cmp -s "$work/bad.reg" "$work/bad.copy"
# Hostile bytes in a hand-edited store: JSON stays valid, the tables show no control bytes.
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n"ServersCount"="1"\r\n"Servers0"="25 25 0 -1 h\x01\x1b[2J\xff\xc3\xa9"\r\n"KludgesCount"="1"\r\n"Kludges0"="0 X-\x7f\xe2\x82:"\r\n' >"$work/odd.reg"
check "odd bytes: JSON parses" bash -c '"$1/vantel" --store "$2" show --json | python3 -c "import json,sys; d=json.load(sys.stdin); assert d[\"servers\"][0][\"host\"].startswith(\"h\")"' _ "$bin" "$work/odd.reg"
check "odd bytes: no control byte in the tables" bash -c '! "$1/vantel" --store "$2" show | LC_ALL=C grep -q "[[:cntrl:]]"' _ "$bin" "$work/odd.reg"
check "help: every command" bash -c 'for c in show server kludge special set schema check rewrite probe; do "$1/vantel" "$c" --help | grep -q "^Usage: vantel $c" || exit 1; done; "$1/vantel" --help | grep -q "^Usage: vantel"' _ "$bin"

# --- check: every problem of a broken store, each with what to do. ---
cat >"$work/broken.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]
"ServersCount"="4"
"Servers0"="2525 25 0 -1 mail.example.org"
"Servers1"="2525 110 1 77 pop.example.org"
"Servers2"="1110 995 1 -1 pop2.example.org"
"ServerSecurity2"="1"
"ServerFingerprint2"="not a fingerprint"
"Servers3"="1111 995 1 -1 pop3.example.org"
"ServerSecurity3"="9"
"KludgesCount"="2"
"Kludges0"="0 X-Face:"
"Kludges1"="0 Subject:"
"SubstCount"="2"
"Subst0"="2 $work/missing-faces.txt"
"Subst1"="3 nosuchsignal"
"ListenAddress"="192.0.2.77"
REG
out=$("$bin/vantel" --store "$work/broken.reg" check)
check "check: exit status 1 for problems" test $? -eq 1
for words in "server 1 (SMTP) and server 2 (POP3) both listen on local port 2525" \
    "server 2's stored login (PassData77) is missing" "server 3 pins 'not a fingerprint'" \
    "server 4 has security mode 9" "missing-faces.txt', which does not exist" \
    "the signal string 'nosuchsignal', and there is none" "listen address '192.0.2.77' is not one" \
    "7 problems"; do
    check "check: $words" has "$words" "$out"
done
check "check: what to do for each" test "$(grep -c "  what to do: " <<<"$out")" -eq 7
out=$("$bin/vantel" --store "$work/bad.reg" check)
check "check: malformed file with line, status 1" test "$?" -eq 1 -a -n "$(grep 'bad.reg:4:' <<<"$out")"
out=$(v check)
check "check: a sound store passes" test "$?" -eq 0 -a -n "$(grep 'no problems found' <<<"$out")"

# --- Logins that would end their command early, and security values that are no mode. ---
# A CR, LF or NUL in a stored login would send the rest to the server as a command of its own.
cp "$store" "$work/before.reg"
users=($'alice\r\nDELE 1' $'alice\nx' $'alice\r' alice)
passwords=(pw pw pw $'pw\rRSET')
for i in "${!users[@]}"; do
    out=$(printf '%s\n' "${passwords[$i]}" | v server add --type pop3 --host p.example.org \
        --user "${users[$i]}" --password-stdin 2>&1)
    check "login with a line break: refused ($i)" test $? -eq 1 -a "$(wc -l <<<"$out")" -eq 1
    check "login with a line break: says why ($i)" has "line breaks" "$out"
done
out=$(printf 'pa\0ss\n' | v server edit 1 --user alice --password-stdin 2>&1)
check "password with a NUL: refused, and why" test $? -eq 1 -a -n "$(grep 'NUL' <<<"$out")"
check "logins refused: nothing written" cmp -s "$store" "$work/before.reg"
out=$(printf 'secret\r\n' | v server edit 1 --user alice --password-stdin 2>&1)
check "password line ending in CR LF: the CR is the line's end" has "login stored for alice" "$out"
# Hand-edited: such a login, and mode values that are empty, blank or of another type.
injected=$(python3 -c '
data = b"alice\r\nDELE 1\0pw"
print(",".join("%02x" % int(format(b, "08b")[::-1], 2) for b in data))')
cat >"$work/hostile.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]
"ServersCount"="4"
"Servers0"="1110 110 1 5 pop.example.org"
"PassData5"=hex:$injected
"Servers1"="2525 25 0 -1 a.example.org"
"ServerSecurity1"=""
"Servers2"="2526 25 0 -1 b.example.org"
"ServerSecurity2"="  "
"Servers3"="2527 25 0 -1 c.example.org"
"ServerSecurity3"=dword:00000000
REG
out=$("$bin/vantel" --store "$work/hostile.reg" check)
check "check: stored login with a line break, status 1" test $? -eq 1 -a -n "$(grep "server 1's stored login holds a line break" <<<"$out")"
for n in 2 3 4; do
    check "check: server $n's security value is no mode" has "server $n has a security value that is no mode" "$out"
done
check "check: the password is not shown" bash -c '! grep -q "pw" <<<"$1"' _ "$out"
modes=$("$bin/vantel" --store "$work/hostile.reg" show --json | python3 -c 'import json,sys; print(" ".join(s["security"] for s in json.load(sys.stdin)["servers"][1:]))')
check "show: a value that is no mode is not None ($modes)" test "$modes" = "unreadable unreadable unreadable"
out=$("$bin/vantel" --store "$work/hostile.reg" server edit 1 --remote-port 111)
check "edit: the stored login's line break not written out" bash -c '! LC_ALL=C grep -q "[[:cntrl:]]" <<<"$1"' _ "$out"

# --- A settings file the command creates. ---
fresh="$work/fresh/deeper/settings.reg"
(umask 022 && "$bin/vantel" --store "$fresh" server add --host mail.example.org >/dev/null)
check "new file: the connect time-out is the settings' default" test "$(store=$fresh stored ConnectTimeout)" = '"5"'
check "new file: its folders for the owner only" test "$(stat -c %a "$work/fresh" "$work/fresh/deeper" | tr '\n' ' ')" = "700 700 "
check "new file: for the owner only" test "$(stat -c %a "$fresh")" = 600
printf '%s\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n"ConnectTimeout"="0"\r\n' \
    'Windows Registry Editor Version 5.00' >"$work/waits.reg"
chmod 644 "$work/waits.reg"
"$bin/vantel" --store "$work/waits.reg" server add --host mail.example.org >/dev/null
check "existing file: its time-out stays" test "$(store=$work/waits.reg stored ConnectTimeout)" = '"0"'
check "existing file: made the owner's only" test "$(stat -c %a "$work/waits.reg")" = 600
# A settings file that is a link stays one: the file it points to is replaced.
mkdir "$work/dotfiles"
cp "$work/waits.reg" "$work/dotfiles/vantel.reg"
ln -s ../dotfiles/vantel.reg "$work/fresh/linked.reg"
"$bin/vantel" --store "$work/fresh/linked.reg" server add --host linked.example.org >/dev/null
check "link: still a link" test -L "$work/fresh/linked.reg"
check "link: the file it points to saved" test "$(store=$work/dotfiles/vantel.reg stored Servers1)" = '"25 25 0 -1 linked.example.org"'
check "link: no temporary file left" test "$(ls -A "$work/dotfiles" "$work/fresh" | tr '\n' ' ')" = "$work/dotfiles: vantel.reg  $work/fresh: deeper linked.reg "

# --- rewrite gives what the relay puts on the wire. ---
read -r relay_port sink_port <<<"$(pick_ports 2)"
wire="$work/wire.reg"
cp "$store" "$wire"
"$bin/vantel" --store "$wire" server remove 2 >/dev/null
"$bin/vantel" --store "$wire" server remove 1 >/dev/null
"$bin/vantel" --store "$wire" server add --host 127.0.0.1 --local-port "$relay_port" --remote-port "$sink_port" >/dev/null
"$bin/vantel" --store "$wire" kludge add --smtp X-Internal --delete >/dev/null
message=$'From: Someone <someone@example.org>\r\nTo: b@example.org\r\nSubject: Plans #budget# ahead\r\nDate: Tue, 8 Dec 2026 12:00:00 +0000\r\nX-Mailer: SomeMailer 1.0\r\nX-Face: old\r\nX-Internal: secret\r\n\r\nX-Mailer: in the body\r\nHello.\r\n'
printf '%s' "$message" >"$work/message.eml"
"$bin/vantel-smtp-sink" "$sink_port" 1 >"$work/received.eml" &
sink=$!
"$bin/vantel-relay" --store "$wire" 2>"$work/relay.log" &
relay=$!
wait_for_port "$sink_port"
wait_for_port "$relay_port"
exec 3<>"/dev/tcp/127.0.0.1/$relay_port"
printf 'HELO me\r\nMAIL FROM:<a@example.org>\r\nRCPT TO:<b@example.org>\r\nDATA\r\n%s.\r\nQUIT\r\n' "$message" >&3
timeout 5 cat <&3 >/dev/null
exec 3>&-
wait_until 5 bash -c "! kill -0 $sink 2>/dev/null"
kill "$relay" 2>/dev/null
"$bin/vantel" --store "$wire" rewrite --smtp "$work/message.eml" >"$work/rewritten.eml"
check "rewrite: byte for byte what the relay sent" cmp "$work/rewritten.eml" "$work/received.eml"
check "rewrite: from standard input too" cmp "$work/rewritten.eml" <("$bin/vantel" --store "$wire" rewrite --smtp <"$work/message.eml")
tr -d '\r' <"$work/message.eml" >"$work/unix.eml"
check "rewrite: Unix line ends in, Unix line ends out" cmp <(tr -d '\r' <"$work/received.eml") <("$bin/vantel" --store "$wire" rewrite --smtp "$work/unix.eml")
diff_out=$("$bin/vantel" --store "$wire" rewrite --smtp --diff "$work/message.eml")
check "rewrite --diff: changed header lines only" test "$(grep -c '^[-+] ' <<<"$diff_out")" -eq "$(wc -l <<<"$diff_out")"
check "rewrite --diff: the deleted line" has "- X-Internal: secret" "$diff_out"
check "rewrite --diff: the new text" has "+ X-Mailer:  Vantel 2.0" "$diff_out"
check "rewrite --diff: the body untouched" bash -c '! grep -q "in the body" <<<"$1"' _ "$diff_out"
pop_out=$(printf 'X-Spam-Flag: YES\r\nSubject: x\r\n\r\nbody\r\n' | "$bin/vantel" --store "$wire" rewrite --pop3)
check "rewrite --pop3: POP3 kludges only" test "$pop_out" = $'Subject: x\r\n\r\nbody\r'

# --- probe: a server reached as the relay reaches it; --pin-current pins what it showed. ---
read -r plain_port tls_port trusted_port <<<"$(pick_ports 3)"
pki="$work/pki"
mkdir "$pki"
key_args=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2)
openssl req -x509 "${key_args[@]}" -subj /CN=self.example -addext subjectAltName=IP:127.0.0.1 \
    -keyout "$pki/self.key" -out "$pki/self.pem" 2>/dev/null
openssl req -x509 "${key_args[@]}" -subj "/CN=Vantel Test CA" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=keyCertSign -keyout "$pki/ca.key" -out "$pki/ca.pem" 2>/dev/null
openssl req "${key_args[@]}" -subj /CN=trusted.example -keyout "$pki/srv.key" -out "$pki/srv.csr" 2>/dev/null
openssl x509 -req -in "$pki/srv.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial -days 2 \
    -extfile <(printf 'subjectAltName=IP:127.0.0.1\n') -out "$pki/srv.pem" 2>/dev/null
for name in plain tls trusted; do
    printf '#!/bin/sh\nprintf "220 %s.example ESMTP ready\\r\\n"\ncat >"%s"\n' "$name" "$work/$name.heard" >"$work/$name.sh"
    chmod +x "$work/$name.sh"
done
socat "TCP-LISTEN:$plain_port,bind=127.0.0.1,reuseaddr,fork" "EXEC:$work/plain.sh" &
socat "OPENSSL-LISTEN:$tls_port,bind=127.0.0.1,reuseaddr,fork,cert=$pki/self.pem,key=$pki/self.key,verify=0" \
    "EXEC:$work/tls.sh" 2>/dev/null &
socat "OPENSSL-LISTEN:$trusted_port,bind=127.0.0.1,reuseaddr,fork,cert=$pki/srv.pem,key=$pki/srv.key,verify=0" \
    "EXEC:$work/trusted.sh" 2>/dev/null &
wait_for_port "$plain_port"
wait_for_port "$tls_port"
wait_for_port "$trusted_port"
probes="$work/probes.reg"
p() { "$bin/vantel" --store "$probes" "$@"; }
p server add --host 127.0.0.1 --remote-port "$plain_port" --local-port 2601 >/dev/null
p server add --host 127.0.0.1 --remote-port "$tls_port" --local-port 2602 --security tls >/dev/null
p server add --host 127.0.0.1 --remote-port "$trusted_port" --local-port 2603 --security tls >/dev/null
out=$(p probe 1)
check "probe plain: works" test $? -eq 0
check "probe plain: the greeting" has "220 plain.example ESMTP ready" "$out"
check "probe plain: no TLS lines" bash -c '! grep -q "^TLS" <<<"$1"' _ "$out"
check "probe plain: no login sent" wait_until 3 bash -c 'test -f "$1" && ! grep -qi "user\|pass\|auth" "$1"' _ "$work/plain.heard"
self_print=$(openssl x509 -in "$pki/self.pem" -noout -fingerprint -sha256 | cut -d= -f2)
out=$(p probe 2)
check "probe self-signed: refused" test $? -eq 1
check "probe self-signed: says why, with the fingerprint" has "certificate not trusted (self-signed); its SHA-256 fingerprint is $self_print" "$out"
check "probe self-signed: the certificate shown" has "CN=self.example" "$out"
check "probe self-signed: its names" has "127.0.0.1" "$out"
out=$(p server edit 2 --pin-current)
check "pin-current: shows then pins" has "Pinned SHA-256 $self_print" "$out"
check "pin-current: stored" test "$(p show --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["servers"][1]["fingerprint"])')" = "$self_print"
out=$(p probe 2)
check "probe pinned: accepted" test $? -eq 0 -a -n "$(grep -i 'pinned' <<<"$out")"
check "probe pinned: TLS version and cipher" grep -q "^TLS: TLSv1\.[23], TLS_" <<<"$out"
out=$(SSL_CERT_FILE="$pki/ca.pem" p probe 3 --json)
check "probe trusted: verified" test "$(python3 -c 'import json,sys; d=json.load(sys.stdin); print(d["verified"], d["certificate"]["issuer"], d["greeting"].strip())' <<<"$out")" = "True CN=Vantel Test CA 220 trusted.example ESMTP ready"
out=$(p probe 3)
check "probe untrusted issuer: refused" test $? -eq 1 -a -n "$(grep 'issuer unknown' <<<"$out")"

# --- The daemon follows the commands, and the stored password never reaches its trace. ---
read -r pop_port pop_server <<<"$(pick_ports 2)"
# Appends: the port check's own connection reaches this server too, maybe after the session's.
printf '#!/bin/sh\nprintf "+OK ready\\r\\n"\ncat >>"%s"\n' "$work/pop.heard" >"$work/pop.sh"
chmod +x "$work/pop.sh"
socat "TCP-LISTEN:$pop_server,bind=127.0.0.1,reuseaddr,fork" "EXEC:$work/pop.sh" &
mkdir "$work/live"
live="$work/live/settings.reg"
"$bin/vantel-relay" --store "$live" --trace 2>"$work/live.log" &
wait_until 5 grep -q "server entries" "$work/live.log"
"$bin/vantel" --store "$live" server add --type pop3 --host 127.0.0.1 --remote-port "$pop_server" \
    --local-port "$pop_port" --user stored-user --password-stdin <<<"$password" >/dev/null
started=$(date +%s%N)
check "daemon: a server added by vantel opens its port" wait_until 3 port_open "$pop_port"
check "daemon: within a second" test $(( ($(date +%s%N) - started) / 1000000 )) -lt 1000
exec 3<>"/dev/tcp/127.0.0.1/$pop_port"
IFS= read -r -t 5 _ <&3
printf 'USER client-user\r\nPASS client-pass\r\nQUIT\r\n' >&3
check "daemon: the stored login reaches the server" wait_until 5 grep -q "PASS $password" "$work/pop.heard"
exec 3>&-
check "daemon: the user the relay sent in the trace" wait_until 5 grep -q "USER stored-user" "$work/live.log"
check "daemon: no password in the trace" bash -c '! grep -qF -- "$1" "$2" && ! grep -q client-pass "$2"' _ "$password" "$work/live.log"

# --- OAuth 2.0 entries: presets, each option through the store, bad values refused. ---
oauth_store="$work/oauth.reg"
o() { "$bin/vantel" --store "$oauth_store" "$@"; }
ostored() { store="$oauth_store" stored "$1"; }
out=$(o server add --preset microsoft --type imap4 --local-port 1143 --account alice@contoso.example 2>&1)
check "preset: says what it added" has "IMAP4 on local port 1143 to outlook.office365.com:993 (SSL/TLS), OAuth 2.0 (microsoft, alice@contoso.example)" "$out"
check "preset: the server line" test "$(ostored Servers0)" = '"1143 993 2 -1 outlook.office365.com"'
check "preset: the sign-in method" test "$(ostored ServerSignIn0)" = '"1"'
check "preset: the account" test "$(ostored ServerOAuthAccount0)" = '"alice@contoso.example"'
o server add --preset google --type smtp >/dev/null
check "preset: Google SMTP" test "$(ostored Servers1)" = '"25 465 0 -1 smtp.gmail.com"'
o server add --host mail.example.org --type pop3 --security tls --sign-in oauth2 --provider other >/dev/null
# option, value, stored name, stored value: each round-trips through the store.
while IFS='|' read -r entry option value name want; do
    o server edit "$entry" "$option" "$value" >/dev/null 2>&1
    check "round trip: $option" test "$(ostored "$name")" = "$want"
done <<'TABLE'
1|--tenant|organizations|ServerOAuthTenant0|"organizations"
1|--client-id|9e5f94bc-e8a4-4e73-b8be-63364c29d753|ServerOAuthClientId0|"9e5f94bc-e8a4-4e73-b8be-63364c29d753"
1|--account|bob@contoso.example|ServerOAuthAccount0|"bob@contoso.example"
3|--authorize-url|https://auth.example.org/authorize|ServerOAuthAuthorizeUrl2|"https://auth.example.org/authorize"
3|--token-url|http://127.0.0.1:8443/token|ServerOAuthTokenUrl2|"http://127.0.0.1:8443/token"
3|--device-url|http://[::1]:8443/device|ServerOAuthDeviceUrl2|"http://[::1]:8443/device"
3|--scopes|mail  offline_access|ServerOAuthScopes2|"mail offline_access"
3|--mechanism|oauthbearer|ServerOAuthMechanism2|"OAUTHBEARER"
3|--provider|google|ServerOAuthProvider2|"google"
TABLE
secret='GOCSPX-s3cret-Value_42'
o server edit 2 --client-secret-stdin <<<"$secret" >"$work/oauth.out" 2>&1
check "client secret: stored" test "$(ostored ServerOAuthClientSecret1)" = "\"$secret\""
# option, value, entry, words of the refusal: nothing is saved.
before=$(cat "$oauth_store")
while IFS='|' read -r entry option value words; do
    out=$(o server edit "$entry" "$option" "$value" 2>&1)
    check "refused: $option '$value'" test $? -ne 0
    check "refused: $option says why" has "$words" "$out"
done <<'TABLE'
1|--account|alice|the mailbox's address
1|--account|alice@|the mailbox's address
1|--tenant|contoso|--tenant is common, organizations, consumers
1|--client-id|a b|without blanks
1|--sign-in|kerberos|--sign-in is password or oauth2
1|--provider|yahoo|--provider is microsoft, google or other
1|--authorize-url|https://auth.example.org/|is for --provider other
2|--tenant|common|for Microsoft entries only
1|--mechanism|plain|--mechanism is xoauth2 or oauthbearer
1|--preset|nosuch|--preset
TABLE
o server add --host plain.example.org >/dev/null
before=$(cat "$oauth_store")
while IFS='|' read -r entry option value words; do
    out=$(o server edit "$entry" "$option" "$value" 2>&1)
    check "refused: $option on entry $entry" test $? -ne 0
    check "refused: $option on entry $entry says why" has "$words" "$out"
done <<'TABLE'
4|--account|alice@example.org|goes with --sign-in oauth2
4|--sign-in|oauth2|needs --provider
TABLE
o server add --host other.example.org --type imap4 --sign-in oauth2 --provider other --token-url http://auth.example.org/token >/dev/null 2>&1
check "http to another host: refused" test $? -ne 0
o server edit 2 --client-secret "$secret" >>"$work/oauth.out" 2>&1
check "client secret argument: refused" test $? -ne 0
o server edit 2 --client-secret-stdin <<<"bad secret $secret" >>"$work/oauth.out" 2>&1
check "client secret with a blank: refused" test $? -ne 0
check "refusals: nothing saved" test "$(cat "$oauth_store")" = "$before"
# The program-wide client registrations: IDs as arguments, the secret from standard input.
while IFS='|' read -r key value name; do
    o set "$key" "$value" >/dev/null 2>&1
    check "set $key: stored" test "$(ostored "$name")" = "\"$value\""
done <<'TABLE'
oauth-microsoft-client-id|9e5f94bc-e8a4-4e73-b8be-63364c29d753|OAuthMicrosoftClientId
oauth-google-client-id|1234-abc.apps.googleusercontent.com|OAuthGoogleClientId
TABLE
before=$(cat "$oauth_store")
out=$(o set oauth-google-client-id 'a b' 2>&1)
check "set client id with a blank: refused" has "without blanks" "$out"
o set oauth-google-client-secret "$secret" >>"$work/oauth.out" 2>&1
check "set secret as an argument: refused" test $? -ne 0
check "set secret as an argument: says why" grep -q "never given as an argument" "$work/oauth.out"
o set oauth-google-client-secret <<<"bad $secret" >>"$work/oauth.out" 2>&1
check "set secret with a blank: refused" test $? -ne 0
check "set refusals: nothing saved" test "$(cat "$oauth_store")" = "$before"
o set oauth-google-client-secret <<<"default-$secret" >>"$work/oauth.out" 2>&1
check "set secret: stored" test "$(ostored OAuthGoogleClientSecret)" = "\"default-$secret\""
out=$(o show)
check "show: an OAuth entry in words" has "Server 1 signs in with OAuth 2.0: microsoft, account bob@contoso.example, tenant organizations, client ID 9e5f94bc-e8a4-4e73-b8be-63364c29d753" "$out"
check "show: the default client ID" has "Server 2 signs in with OAuth 2.0: google, account (none), client ID default, client secret: set" "$out"
check "show: the sign-in state" has "not signed in yet: run vantel auth 2" "$out"
check "show: the defaults, secret as set" bash -c 'grep -q "oauth-google-client-secret *set" <<<"$1"' _ "$out"
out=$(o show --json)
check "show --json: the OAuth values" python3 -c '
import json, sys
d = json.loads(sys.argv[1])
s = d["servers"]
assert s[0]["signIn"] == "oauth2" and s[0]["oauth"]["tenant"] == "organizations"
assert s[1]["oauth"]["clientId"] == "default" and s[1]["oauth"]["clientSecretSet"] is True
assert "oauth" not in s[3] and d["oauthDefaults"]["googleClientSecretSet"] is True' "$out"
out=$(o check)
check "check: an OAuth entry without an account" has "server 2 signs in with OAuth 2.0 but names no account" "$out"
check "check: says how to name the account" has "vantel server edit 2 --account ADDRESS" "$out"
check "check: the sign-in state" has "server 1: not signed in yet: run vantel auth 1" "$out"
o server add --host imap.example.org --type imap4 --sign-in oauth2 --provider other --account a@example.org >/dev/null
out=$(o check)
check "check: an entry without a client ID" has "server 5 signs in with OAuth 2.0 but has no client ID" "$out"
o set oauth-microsoft-client-id '' >/dev/null
o server edit 1 --client-id '' >/dev/null
out=$(o check)
check "check: no default for Microsoft names vantel set" has "vantel set oauth-microsoft-client-id ID" "$out"
o show >>"$work/oauth.out" 2>&1
o show --json >>"$work/oauth.out" 2>&1
check "client secret: in no output" bash -c '! grep -qF -- "$1" "$2"' _ "$secret" "$work/oauth.out"

# --- vantel auth before any sign-in, and a token file others may read in show and --status. ---
out=$(o auth 5 --status 2>&1)
check "auth --status: not signed in" has "Server 5: not signed in yet: run vantel auth 5" "$out"
out=$(o auth 5 --sign-out 2>&1)
check "auth --sign-out: nothing to do" has "a@example.org is not signed in to server 5: nothing to do" "$out"
mkdir -p -m 700 "$XDG_STATE_HOME/vantel/tokens"
echo '{}' >"$XDG_STATE_HOME/vantel/tokens/other-a@example.org"
chmod 644 "$XDG_STATE_HOME/vantel/tokens/other-a@example.org"
out=$(o show)
check "show: a token file others may read" has "may be read by other users" "$out"
out=$(o auth 5 --status 2>&1)
check "auth --status: a token file others may read refused" test $? -eq 1
check "auth --status: says why" has "may be read by other users" "$out"

echo "cli-test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
