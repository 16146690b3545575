#!/usr/bin/env bash
# Shows the relay at work: a demo settings file with a few kludges, a local SMTP sink behind
# the relay, one message sent through it, and the message as the sink received it.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${VANTEL_BIN:-build/linux-release}
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

source scripts/lib/ports.sh
free_ports=$(pick_ports 2)
read -r relay_port sink_port <<<"$free_ports"
cat > "$work/settings.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]
"DefaultPort"="$relay_port"
"ServersCount"="1"
"Servers0"="$relay_port $sink_port 0 -1 127.0.0.1"
"KludgesCount"="3"
"Kludges0"="0 X-Mailer:"
"Kludges1"="0 X-Internal:"
"Kludges2"="0 Subject:"
"SubstCount"="3"
"Subst0"="0 Vantel demo relay"
"Subst1"="1 "
"Subst2"="3 [demo]"
"SignalStrCount"="1"
"SignalStr0"="[demo]"
"SpecialKludgesCount"="1"
"SpecialKludges0"="# X-Topic:"
REG

"$bin/vantel-smtp-sink" "$sink_port" 1 > "$work/received.eml" &
sink=$!
pids+=("$sink")
"$bin/vantel-relay" --store "$work/settings.reg" 2> "$work/relay.log" &
pids+=("$!")
wait_for_port "$sink_port"
wait_for_port "$relay_port"

message=$'From: Demo Sender <sender@example.org>\r\nTo: someone@example.org\r\nSubject: [DEMO] Planning #Budget Review#\r\nDate: Tue, 8 Dec 2026 12:00:00 +0000\r\nX-Mailer: SomeMailer 1.0\r\nX-Internal: do not leak this\r\n\r\nHello through the relay.\r\n'

exec 3<>"/dev/tcp/127.0.0.1/$relay_port"
talk() {
    [ -n "$1" ] && printf '%s\r\n' "$1" >&3
    IFS= read -r -t 5 reply <&3 || { echo "no reply from the relay; its log:" >&2; cat "$work/relay.log" >&2; exit 1; }
}
talk ""
talk "EHLO demo.example.org"
talk "MAIL FROM:<sender@example.org>"
talk "RCPT TO:<someone@example.org>"
talk "DATA"
printf '%s.\r\n' "$message" >&3
talk ""
# The sink stops after its one message, so the goodbye may go unanswered.
printf 'QUIT\r\n' >&3 || true
exec 3>&-

for _ in $(seq 100); do
    kill -0 "$sink" 2>/dev/null || break
    sleep 0.05
done

echo "=== Sent through the relay on port $relay_port:"
printf '%s' "$message" | tr -d '\r'
echo "=== Received by the SMTP sink on port $sink_port:"
tr -d '\r' < "$work/received.eml"
