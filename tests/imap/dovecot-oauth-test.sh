#!/usr/bin/env bash
# OAuth 2.0 through vantel-relay to a real server: a private dovecot whose oauth2 password
# database checks each token at the fake authorization server's introspection endpoint.
# vantel auth signs the entries in (the pasted-address way), IMAP and POP3 clients log in to
# the relay with the local password, and the relay logs in to dovecot with XOAUTH2 and
# tokens it renews itself. Usage: dovecot-oauth-test.sh BUILD_DIR. Exits 77 (skipped) where
# dovecot or python3 is missing.
set -uo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
dovecot=/usr/sbin/dovecot
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
read -r imap_port pop_port relay_imap relay_pop <<<"$(pick_ports 4)"

# Tokens last 300 s, less than the relay's margin: every login renews, and the fake server
# retires each refresh token once used, so a rotated one that was not kept ends the test.
"$bin/vantel-fake-auth-server" --plain --username tester@example.test --expires-in 300 >"$work/auth.port" &
wait_until 10 test -s "$work/auth.port" || { echo "the fake authorization server did not start" >&2; exit 1; }
auth="http://127.0.0.1:$(cat "$work/auth.port")"

dovecot_users '' tester@example.test
cat >"$work/oauth2.conf" <<CONF
introspection_mode = post
introspection_url = $auth/introspect
username_attribute = username
active_attribute = active
active_value = true
CONF
dovecot_start "$imap_port" "$pop_port" <<CONF || exit 1
auth_mechanisms = xoauth2 oauthbearer
passdb {
    driver = oauth2
    mechanisms = xoauth2 oauthbearer
    args = $work/oauth2.conf
}
userdb {
    driver = passwd-file
    args = $work/users
}
CONF

# The entries and their sign-in, as a user makes them; the tokens live under XDG_STATE_HOME.
export XDG_STATE_HOME="$work/xdg"
store="$work/settings.reg"
v() { "$bin/vantel" --store "$store" "$@"; }
for entry in "imap4 $relay_imap $imap_port" "pop3 $relay_pop $pop_port"; do
    read -r type local remote <<<"$entry"
    v server add --type "$type" --host 127.0.0.1 --remote-port "$remote" --local-port "$local" \
        --sign-in oauth2 --provider other --account tester@example.test --client-id vantel-test-client \
        --authorize-url "$auth/authorize" --token-url "$auth/token" --scopes mail >/dev/null ||
        echo "server add $type failed" >&2
done
check "show: not signed in yet" grep -q "not signed in yet: run vantel auth 1" <<<"$(v show)"

# vantel auth N --paste: the "browser" follows the page it prints and pastes where the
# provider sent it; the local password is read off what vantel auth says.
sign_in() {  # sign_in N: prints vantel auth's output
    "$python" - "$bin/vantel" "$store" "$1" <<'PY'
import re, subprocess, sys, urllib.request
vantel, store, number = sys.argv[1:4]
auth = subprocess.Popen([vantel, "--store", store, "auth", number, "--paste"], text=True,
                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
said = []
for line in auth.stdout:
    said.append(line)
    page = re.search(r"(http://127\.0\.0\.1:\d+/authorize\?\S+)", line)
    if page:
        class Stay(urllib.request.HTTPRedirectHandler):
            def redirect_request(self, *args):
                return None
        try:
            urllib.request.build_opener(Stay).open(page.group(1))
        except urllib.error.HTTPError as redirect:
            auth.stdin.write(redirect.headers["Location"] + "\n")
            auth.stdin.close()
said.extend(auth.stdout)
sys.stdout.write("".join(said))
sys.exit(auth.wait())
PY
}
out=$(sign_in 1)
check "auth: exits 0" test $? -eq 0
check "auth: signed in" grep -q "Signed in as tester@example.test to server 1; access renewed automatically" <<<"$out"
password=$(sed -n 's/.*Local password for tester@example.test[^:]*: //p' <<<"$out")
check "auth: a local password shown" test -n "$password"
refresh_token() { "$python" -c 'import glob, json, sys; print(json.load(open(glob.glob(sys.argv[1] + "/*")[0]))["refresh_token"])' "$XDG_STATE_HOME/vantel/tokens"; }
signed_in_with=$(refresh_token)
check "tokens: one private file per account" test "$(stat -c %a "$XDG_STATE_HOME/vantel/tokens")" = 700
# Both entries name one account: one sign-in serves them both.
check "show: both entries signed in" test "$(v show | grep -c "signed in as tester@example.test")" -eq 2
check "show: no token" bash -c '! grep -qE "access-|refresh-|code-" <<<"$1"' _ "$(v show; v show --json)"

"$bin/vantel-relay" --store "$store" --trace 2>"$work/relay.log" &
wait_for_port "$relay_imap" && wait_for_port "$relay_pop"

imap_login() {  # imap_login PASSWORD: the relayed login, a mailbox made and listed
    "$python" - "$relay_imap" "$1" <<'PY'
import imaplib, sys
port, password = int(sys.argv[1]), sys.argv[2]
with imaplib.IMAP4("127.0.0.1", port, timeout=20) as imap:
    try:
        imap.login("tester@example.test", password)
    except imaplib.IMAP4.error as refused:
        print("refused:", refused)
        sys.exit(1)
    imap.create("Relayed")
    status, boxes = imap.list()
    print(status, b" ".join(boxes).decode())
    imap.logout()
PY
}
out=$(imap_login "$password")
check "imap: logged in with the local password" test $? -eq 0
check "imap: dovecot's mailbox listed" grep -q "Relayed" <<<"$out"
out=$(imap_login "not-the-password")
check "imap: a wrong local password refused" grep -q "AUTHENTICATIONFAILED" <<<"$out"

out=$("$python" - "$relay_pop" "$password" <<'PY'
import poplib, sys
pop = poplib.POP3("127.0.0.1", int(sys.argv[1]), timeout=20)
pop.user("tester@example.test")
print(pop.pass_(sys.argv[2]).decode())
print(pop.stat())
pop.quit()
PY
)
check "pop3: logged in with the local password" grep -q "^+OK" <<<"$out"
check "pop3: the mailbox opened" grep -q "^(0, 0)" <<<"$out"

check "dovecot: took the relay's tokens" grep -q "imap-login: Info: Login: user=<tester@example.test>, method=XOAUTH2" "$work/dovecot.log"
check "dovecot: and for POP3" grep -q "pop3-login: Info: Login: user=<tester@example.test>, method=XOAUTH2" "$work/dovecot.log"
check "tokens: renewed, and the rotated refresh token kept" test "$(refresh_token)" != "$signed_in_with"
check "trace: the token hidden" grep -q "AUTHENTICATE XOAUTH2 \*\*\*\*" "$work/relay.log"
check "trace: no token, code or password" bash -c '! grep -qE "access-|refresh-|code-|$1" "$2"' _ "$password" "$work/relay.log"
check "auth --status: renewed since" grep -q "signed in as tester@example.test" <<<"$(v auth 1 --status)"
out=$(v auth 1 --sign-out)
check "sign-out: says so" grep -q "Signed out tester@example.test from server 1" <<<"$out"
# Signed out, the local password is gone with the tokens: the relay refuses at once.
out=$(imap_login "$password")
check "sign-out: the relay takes it up without a restart" grep -q "AUTHENTICATIONFAILED" <<<"$out"

if [ "$failed" -ne 0 ]; then
    tail -n 20 "$work/dovecot.log" "$work/relay.log" >&2
fi
echo "dovecot-oauth-test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
