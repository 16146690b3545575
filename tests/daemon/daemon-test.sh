#!/usr/bin/env bash
# End-to-end checks of vantel-relay as a person runs it. Usage: daemon-test.sh BUILD_DIR
set -uo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
source "$here/../../scripts/lib/checks.sh"
source "$here/../../scripts/lib/ports.sh"
port_open() { ! port_free "$1"; }
# send_message PORT HEADER: one SMTP transaction through the relay on PORT, the header lines
# given with \r\n between them.
send_message() {
    local fd
    if exec {fd}<>"/dev/tcp/127.0.0.1/$1"; then
        printf 'MAIL FROM:<a@example.org>\r\nRCPT TO:<b@example.org>\r\nDATA\r\n%b\r\n\r\nbody\r\n.\r\nQUIT\r\n' \
            "$2" >&"$fd"
        timeout 5 cat <&"$fd" >/dev/null
        exec {fd}>&-
    fi
}
header='Windows Registry Editor Version 5.00'

# A message relayed with its headers rewritten.
demo=$(VANTEL_BIN="$bin" "$here/../../scripts/demo.sh" 2>&1)
received=${demo#*Received by the SMTP sink}
check "demo: kludge text" grep -q 'X-Mailer:  Vantel demo relay' <<<"$received"
check "demo: deleted header" bash -c '! grep -q X-Internal <<<"$1"' _ "$received"
check "demo: special kludge" grep -q 'X-Topic: budget review' <<<"$received"
check "demo: body" grep -q 'Hello through the relay.' <<<"$received"

# A malformed file is reported with its line and left alone.
printf '%s\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE]\r\n"Broken"="no end\r\n' "$header" >"$work/bad.reg"
cp "$work/bad.reg" "$work/bad.copy"
"$bin/vantel-relay" --store "$work/bad.reg" 2>"$work/bad.log"
check "malformed: exit status 1" test $? -eq 1
check "malformed: names file and line" grep -q "bad.reg:4:" "$work/bad.log"
check "malformed: file untouched" cmp -s "$work/bad.reg" "$work/bad.copy"

# A missing file starts with nothing to relay; SIGTERM ends it promptly and cleanly.
"$bin/vantel-relay" --store "$work/none/settings.reg" 2>"$work/none.log" &
pid=$!
check "missing: says where" wait_until 5 grep -q "no settings file at $work/none/settings.reg" "$work/none.log"
check "missing: follows the file all the same" bash -c '! grep -q "not following" "$1"' _ "$work/none.log"
kill -TERM "$pid"
check "missing: stops on SIGTERM" wait_until 5 bash -c "! kill -0 $pid 2>/dev/null"
wait "$pid"
check "missing: exit status 0" test $? -eq 0

# A newcomer's first steps: `make run` before any settings exist says what to type, and the
# relay it starts picks up the file `vantel server add` then writes, folders and all.
read -r first_sink first_port <<<"$(pick_ports 2)"
"$bin/vantel-smtp-sink" "$first_sink" >"$work/first-sink.out" 2>&1 &
wait_until 5 port_open "$first_sink"
mkdir "$work/home"
newcomer() { HOME="$work/home" XDG_CONFIG_HOME= "$@"; }
HOME="$work/home" XDG_CONFIG_HOME= "$here/../../scripts/run-relay.sh" "$bin" >"$work/first.out" 2>"$work/first.log" &
pid=$!
check "first steps: the relay starts" wait_until 5 grep -q "server entries" "$work/first.log"
check "first steps: what to type, with this build's vantel" grep -q "^    $bin/vantel server add --type smtp --host " "$work/first.out"
check "first steps: the commands are the command line's" bash -c '
    grep "^    $1/vantel server add" "$2" | grep -v -- --user | while read -r program words; do
        HOME="$3" XDG_CONFIG_HOME= "$program" --store "$3/try.reg" $words >/dev/null || exit 1
    done' _ "$bin" "$work/first.out" "$work/home"
newcomer "$bin/vantel" server add --host 127.0.0.1 --local-port "$first_port" --remote-port "$first_sink" >/dev/null
check "first steps: the new file is followed" wait_until 5 port_open "$first_port"
check "first steps: its folder is the owner's" test "$(stat -c %a "$work/home/.config/vantel")" = 700
send_message "$first_port" 'Subject: first steps'
check "first steps: relayed" wait_until 5 grep -q "Subject: first steps" "$work/first-sink.out"
kill -TERM "$pid"
wait "$pid"
check "first steps: clean exit" test $? -eq 0
newcomer "$here/../../scripts/run-relay.sh" "$bin" --version >"$work/again.out" 2>&1
check "first steps: no advice once the file is there" bash -c '! grep -q "server add" "$1"' _ "$work/again.out"

# A security value that is there but no mode is refused, never taken as plain text.
read -r blank_sink blank_port <<<"$(pick_ports 2)"
printf '#!/bin/sh\nprintf "220 plain\\r\\n"\ncat >>"%s"\n' "$work/blank-heard.out" >"$work/blank-server.sh"
chmod +x "$work/blank-server.sh"
socat "TCP-LISTEN:$blank_sink,reuseaddr,fork,bind=127.0.0.1" "EXEC:$work/blank-server.sh" &
wait_until 5 port_open "$blank_sink"
printf '%s\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n"ServersCount"="1"\r\n"Servers0"="%d %d 0 -1 127.0.0.1"\r\n"ServerSecurity0"=""\r\n' \
    "$header" "$blank_port" "$blank_sink" >"$work/blank.reg"
"$bin/vantel-relay" --store "$work/blank.reg" 2>"$work/blank.log" &
pid=$!
wait_until 5 port_open "$blank_port"
answer=$(printf 'EHLO x\r\n' | timeout 10 socat -t 5 - "TCP:127.0.0.1:$blank_port" 2>/dev/null | tr -d '\r')
check "empty security value: the client reads 421" grep -q '^421 4.7.0 Vantel could not secure the connection' <<<"$answer"
check "empty security value: the user is told" wait_until 5 grep -q "Error securing the connection to host.*not a number" "$work/blank.log"
check "empty security value: nothing reached the server" test ! -s "$work/blank-heard.out"
kill -TERM "$pid"
wait "$pid"

# SIGHUP reloads: a server entry written while running gets its port. Without the watch, so
# that it is the signal that does it.
port=$(pick_ports 1)
printf '%s\r\n' "$header" >"$work/live.reg"
"$bin/vantel-relay" --store "$work/live.reg" --no-watch 2>"$work/live.log" &
pid=$!
wait_until 5 grep -q "server entries" "$work/live.log"
check "reload: nothing listens before" port_free "$port"
printf '%s\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n"ServersCount"="1"\r\n"Servers0"="%d 9 2 -1 127.0.0.1"\r\n' \
    "$header" "$port" >"$work/live.reg"
kill -HUP "$pid"
check "reload: the new port opens" wait_until 5 port_open "$port"
check "reload: says so" wait_until 5 grep -q "settings reloaded from $work/live.reg, 1 server entries" "$work/live.log"
# A file caught empty (half written) or gone is no reason to close every port.
: >"$work/live.reg"
kill -HUP "$pid"
check "empty file: says so" wait_until 5 grep -q "the file is empty; settings not reloaded" "$work/live.log"
check "empty file: the port stays open" port_open "$port"
rm "$work/live.reg"
kill -HUP "$pid"
check "deleted file: says so" wait_until 5 grep -q "live.reg: .*settings not reloaded" "$work/live.log"
check "deleted file: the port stays open" port_open "$port"
kill -INT "$pid"
check "reload: stops on SIGINT" wait_until 5 bash -c "! kill -0 $pid 2>/dev/null"

# Without a signal, the relay follows its settings file: one created later in the directory,
# a save (a temporary file renamed over it, as FileStore and `vantel server add` save) while
# a message is half sent through it, and a save of a malformed file.
read -r follow_sink first_port second_port <<<"$(pick_ports 3)"
"$bin/vantel-smtp-sink" "$follow_sink" >"$work/follow-sink.out" 2>&1 &
wait_until 5 port_open "$follow_sink"
follow_settings() {  # follow_settings PORT...: an SMTP entry to the sink on each local port
    printf '%s\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n"ServersCount"="%d"\r\n' \
        "$header" $#
    local i=0 p
    for p in "$@"; do
        printf '"Servers%d"="%d %d 0 -1 127.0.0.1"\r\n' $((i++)) "$p" "$follow_sink"
    done
}
save_follow() { cat >"$work/follow/settings.tmp" && mv "$work/follow/settings.tmp" "$work/follow/settings.reg"; }
mkdir "$work/follow"
"$bin/vantel-relay" --store "$work/follow/settings.reg" 2>"$work/follow.log" &
pid=$!
wait_until 5 grep -q "server entries" "$work/follow.log"
follow_settings "$first_port" | save_follow
check "follow: a file created later is read" wait_until 5 port_open "$first_port"
reply=
if exec {client}<>"/dev/tcp/127.0.0.1/$first_port"; then
    printf 'MAIL FROM:<a@example.org>\r\nRCPT TO:<b@example.org>\r\nDATA\r\nSubject: in flight\r\n\r\nfirst half\r\n' >&"$client"
    while read -r -t 5 reply <&"$client" && [[ $reply != 354* ]]; do :; done
fi
check "follow: the message is under way" test "${reply:0:3}" = 354
saved=$EPOCHREALTIME
follow_settings "$first_port" "$second_port" | save_follow
wait_until 5 port_open "$second_port"
elapsed_ms=$(((${EPOCHREALTIME//[.,]/} - ${saved//[.,]/}) / 1000))
check "follow: the new port opens within a second of the save ($elapsed_ms ms)" test "$elapsed_ms" -le 1000
check "follow: says so in one line" \
    grep -q "settings reloaded from $work/follow/settings.reg, 2 server entries" "$work/follow.log"
if [ -n "$reply" ]; then
    printf 'second half\r\n.\r\nQUIT\r\n' >&"$client"
    timeout 5 cat <&"$client" >/dev/null
    exec {client}>&-
fi
printf 'Subject: in flight\r\n\r\nfirst half\r\nsecond half\r\n' >"$work/follow-whole.out"
check "follow: the message under way arrives whole" \
    wait_until 5 cmp -s "$work/follow-sink.out" "$work/follow-whole.out"
send_message "$second_port" 'Subject: through the new port'
check "follow: the new port relays" wait_until 5 grep -q "Subject: through the new port" "$work/follow-sink.out"
printf '%s\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE]\r\n"Broken"="no end\r\n' "$header" | save_follow
check "follow: a malformed save is reported with its line" \
    wait_until 5 grep -q "^vantel-relay: $work/follow/settings.reg:4: " "$work/follow.log"
check "follow: ... and leaves the running settings" grep -q "settings not reloaded; the running ones stay" "$work/follow.log"
send_message "$first_port" 'Subject: after the malformed save'
check "follow: the old ports still relay" wait_until 5 grep -q "Subject: after the malformed save" "$work/follow-sink.out"
check "follow: all of them" port_open "$second_port"
kill -TERM "$pid"
wait "$pid"
check "follow: clean exit" test $? -eq 0

# A settings file that is a link stays one, and the relay follows the file it leads to.
link_port=$(pick_ports 1)
mkdir "$work/linked" "$work/dotfiles"
printf '%s\r\n' "$header" >"$work/dotfiles/vantel.reg"
ln -s ../dotfiles/vantel.reg "$work/linked/settings.reg"
"$bin/vantel-relay" --store "$work/linked/settings.reg" 2>"$work/linked.log" &
pid=$!
wait_until 5 grep -q "server entries" "$work/linked.log"
"$bin/vantel" --store "$work/linked/settings.reg" server add --host 127.0.0.1 \
    --local-port "$link_port" --remote-port "$follow_sink" >/dev/null
check "linked file: a save through the link is followed" wait_until 5 port_open "$link_port"
check "linked file: still a link" test -L "$work/linked/settings.reg"
kill -TERM "$pid"
wait "$pid"

# A client that ends its stream after QUIT still gets the replies the server sends after that.
read -r half_server half_port <<<"$(pick_ports 2)"
printf '#!/bin/sh\nprintf "220 hi\\r\\n"\ncat >/dev/null\nprintf "250 ok\\r\\n221 bye\\r\\n"\n' >"$work/answer-at-end.sh"
chmod +x "$work/answer-at-end.sh"
socat "TCP-LISTEN:$half_server,reuseaddr,fork,bind=127.0.0.1" "EXEC:$work/answer-at-end.sh" &
printf '%s\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n"ServersCount"="1"\r\n"Servers0"="%d %d 2 -1 127.0.0.1"\r\n' \
    "$header" "$half_port" "$half_server" >"$work/half.reg"
"$bin/vantel-relay" --store "$work/half.reg" 2>"$work/half.log" &
pid=$!
wait_until 5 port_open "$half_server"
wait_until 5 port_open "$half_port"
replies=$(printf 'EHLO x\r\nQUIT\r\n' | timeout 10 socat -t 5 - "TCP:127.0.0.1:$half_port" | tr -d '\r')
check "half-close: every reply arrives" test "$replies" = $'220 hi\n250 ok\n221 bye'
kill -TERM "$pid"
wait "$pid"

# A kludge file that is a directory is a file that cannot be opened, not the end of the relay.
read -r dir_sink dir_port <<<"$(pick_ports 2)"
"$bin/vantel-smtp-sink" "$dir_sink" >"$work/dir-sink.out" 2>&1 &
wait_until 5 port_open "$dir_sink"
printf '%s\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n"DefaultPort"="%d"\r\n"ServersCount"="1"\r\n"Servers0"="%d %d 0 -1 127.0.0.1"\r\n"KludgesCount"="1"\r\n"Kludges0"="0 X-Quote:"\r\n"SubstCount"="1"\r\n"Subst0"="2 %s"\r\n' \
    "$header" "$dir_port" "$dir_port" "$dir_sink" "$work" >"$work/dir.reg"
"$bin/vantel-relay" --store "$work/dir.reg" 2>"$work/dir.log" &
pid=$!
wait_until 5 port_open "$dir_port"
send_message "$dir_port" 'X-Quote: hi\r\nSubject: dir'
check "directory as kludge file: reported" wait_until 5 grep -q "Error opening file '$work'" "$work/dir.log"
check "directory as kludge file: the relay goes on" kill -0 "$pid"
check "directory as kludge file: the message arrives" wait_until 5 grep -q "Subject: dir" "$work/dir-sink.out"
kill -TERM "$pid"
wait "$pid"
check "directory as kludge file: clean exit" test $? -eq 0

# A server that refuses: the notice names the entry, the host and the reason, once for a run
# of clients; --log writes the same lines with the time.
read -r refused_port gone_port <<<"$(pick_ports 2)"
printf '%s\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n"ServersCount"="1"\r\n"Servers0"="%d %d 0 -1 127.0.0.1"\r\n' \
    "$header" "$refused_port" "$gone_port" >"$work/refused.reg"
"$bin/vantel-relay" --store "$work/refused.reg" --log "$work/logs/relay.log" 2>"$work/refused.err" &
pid=$!
wait_until 5 port_open "$refused_port"
for _ in 1 2 3 4 5; do
    if exec {fd}<>"/dev/tcp/127.0.0.1/$refused_port"; then
        timeout 5 cat <&"$fd" >/dev/null
        exec {fd}>&-
    fi
done
refusal="Error connecting to host: local port $refused_port, server 127.0.0.1 port $gone_port; 127.0.0.1:$gone_port; connection refused"
check "notice: entry, host and reason" grep -qF "vantel-relay: $refusal" "$work/refused.err"
check "notice: told once for five clients" test "$(grep -c 'Error connecting' "$work/refused.err")" -eq 1
check "log: the same line with the time" \
    grep -Eq "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} Error connecting to host: local port $refused_port," "$work/logs/relay.log"
check "log: the start too" grep -q "settings from $work/refused.reg" "$work/logs/relay.log"
kill -TERM "$pid"
wait "$pid"
check "log: the end too" grep -q " stopped$" "$work/logs/relay.log"
"$bin/vantel-relay" --store "$work/refused.reg" --log /proc/none/relay.log 2>"$work/nolog.err"
check "log: a file that cannot be written stops the start" test $? -eq 1
check "log: says which file" grep -q "cannot open /proc/none/relay.log" "$work/nolog.err"

# TLS to the server: stunnel in front of the SMTP sink is the TLS server. Its certificate is
# self-signed, so the system's roots do not vouch for it: the client is told in SMTP, the user
# gets the fingerprint, and the entry pinned to that fingerprint delivers.
if command -v stunnel4 >/dev/null && command -v openssl >/dev/null; then
    read -r tls_sink tls_server tls_port <<<"$(pick_ports 3)"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
        -addext subjectAltName=DNS:localhost -keyout "$work/tls.key" -out "$work/tls.pem" 2>/dev/null
    "$bin/vantel-smtp-sink" "$tls_sink" >"$work/tls-sink.out" 2>&1 &
    printf 'foreground = yes\npid =\n[smtp]\naccept = 127.0.0.1:%s\nconnect = 127.0.0.1:%s\ncert = %s\nkey = %s\n' \
        "$tls_server" "$tls_sink" "$work/tls.pem" "$work/tls.key" >"$work/stunnel.conf"
    stunnel4 "$work/stunnel.conf" 2>"$work/stunnel.log" &
    wait_until 5 port_open "$tls_sink"
    wait_until 5 port_open "$tls_server"
    tls_settings() {  # tls_settings [FINGERPRINT]
        printf '%s\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n"ServersCount"="1"\r\n"Servers0"="%d %d 0 -1 localhost"\r\n"ServerSecurity0"="1"\r\n' \
            "$header" "$tls_port" "$tls_server"
        if [ -n "${1:-}" ]; then printf '"ServerFingerprint0"="%s"\r\n' "$1"; fi
    }
    tls_settings >"$work/tls.reg"
    "$bin/vantel-relay" --store "$work/tls.reg" 2>"$work/tls.log" &
    pid=$!
    wait_until 5 port_open "$tls_port"
    tls_refusal=$(printf 'EHLO x\r\n' | timeout 10 socat -t 5 - "TCP:127.0.0.1:$tls_port" 2>/dev/null | tr -d '\r')
    check "tls untrusted: the client reads 421 4.7.0 and why" grep -q \
        '^421 4.7.0 Vantel could not secure the connection to localhost: certificate not trusted (self-signed)' \
        <<<"$tls_refusal"
    check "tls untrusted: the notice gives the fingerprint" wait_until 5 grep -q \
        "Error securing the connection to host.*localhost.*fingerprint is" "$work/tls.log"
    fingerprint=$(sed -n 's/.*fingerprint is \([0-9A-F:]*\).*/\1/p' "$work/tls.log" | head -n 1)
    expected=$(openssl x509 -in "$work/tls.pem" -noout -fingerprint -sha256 | sed 's/.*=//')
    check "tls untrusted: the fingerprint is the certificate's" test "$fingerprint" = "$expected"
    kill -TERM "$pid"
    wait "$pid"
    tls_settings "$fingerprint" >"$work/tls.reg"
    "$bin/vantel-relay" --store "$work/tls.reg" 2>"$work/tls.log" &
    pid=$!
    wait_until 5 port_open "$tls_port"
    send_message "$tls_port" 'Subject: over tls'
    check "tls pinned: the message arrives" wait_until 5 grep -q "Subject: over tls" "$work/tls-sink.out"
    kill -TERM "$pid"
    wait "$pid"
fi

# Out of descriptors: accepting pauses and resumes instead of spinning, reported once. The
# sanitizers need descriptors of their own to check a program (and report false errors
# without them), so this runs on the release build.
if grep -qa __asan_init "$bin/vantel-relay"; then
    echo "descriptors: skipped in this sanitizer build; make test runs it on the release build"
    echo "$passed passed, $failed failed"
    test "$failed" -eq 0
    exit
fi
read -r sink_port fd_port <<<"$(pick_ports 2)"
"$bin/vantel-smtp-sink" "$sink_port" >/dev/null 2>&1 &
wait_until 5 port_open "$sink_port"
printf '%s\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n"ServersCount"="1"\r\n"Servers0"="%d %d 2 -1 127.0.0.1"\r\n' \
    "$header" "$fd_port" "$sink_port" >"$work/fd.reg"
(ulimit -n 32 && exec "$bin/vantel-relay" --store "$work/fd.reg") 2>"$work/fd.log" &
pid=$!
wait_until 5 grep -q "server entries" "$work/fd.log"
held=()
for _ in $(seq 30); do
    exec {fd}<>"/dev/tcp/127.0.0.1/$fd_port" && held+=("$fd")
done
# Whether the last descriptor goes to an accept or to the server's socket depends on how many
# the daemon inherited; either way it is reported, and the listener backs off.
out_of_descriptors="Unable to accept connections on local port|Could not create new socket"
check "descriptors: reported" wait_until 5 grep -Eq "$out_of_descriptors" "$work/fd.log"
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
before=$(cpu_ticks "$pid")
reports=$(grep -Ec "$out_of_descriptors" "$work/fd.log")
sleep 2
after=$(cpu_ticks "$pid")
check "descriptors: the relay waits instead of spinning ($((after - before)) ticks in 2 s)" \
    test $((after - before)) -lt 40
# Backing off (100 ms doubling), at most a handful of tries in those 2 s.
check "descriptors: few reports" test $(($(grep -Ec "$out_of_descriptors" "$work/fd.log") - reports)) -le 5
for fd in "${held[@]}"; do exec {fd}>&-; done
greeting=
if exec {fd}<>"/dev/tcp/127.0.0.1/$fd_port"; then
    read -r -t 5 greeting <&"$fd" || true
    exec {fd}>&-
fi
check "descriptors: served again once some are free" grep -q "^220" <<<"$greeting"
kill -TERM "$pid"
check "descriptors: stops on SIGTERM" wait_until 15 bash -c "! kill -0 $pid 2>/dev/null"

echo "$passed passed, $failed failed"
test "$failed" -eq 0
