#!/usr/bin/env bash
# Load benchmark of vantel-relay. Every measurement runs, in the same run and interleaved, against
# three paths to the same fake server: direct, through socat (a plain forwarder with the relay's
# 2,048-byte blocks: the baseline), and through the relay; with VANTEL_BASELINE_BIN (a folder
# with an earlier build's vantel-relay) a fourth path goes through that build, so a change can be
# judged against the figures before it on the same machine at the same time. Prints the medians
# and the ratios, and how many connections failed while the relay reloaded its settings.
# Environment: VANTEL_BIN (build/linux-release), VANTEL_BASELINE_BIN (none), BENCH_REPS (3),
# BENCH_SESSIONS (2000), BENCH_CONCURRENT (5000), BENCH_MESSAGES (5000), BENCH_SIZE_MIB (64),
# BENCH_RELOADS (100), BENCH_TLS_SESSIONS (500). The TLS rows compare the relay with stunnel in
# client mode, both in front of one TLS server (stunnel in server mode before the fake servers).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${VANTEL_BIN:-build/linux-release}
baseline=${VANTEL_BASELINE_BIN:-}
reps=${BENCH_REPS:-3}
reloads=${BENCH_RELOADS:-100}
size=$((${BENCH_SIZE_MIB:-64} * 1024 * 1024))
sessions=${BENCH_SESSIONS:-2000}
concurrent=${BENCH_CONCURRENT:-5000}
messages=${BENCH_MESSAGES:-5000}
tls_sessions=${BENCH_TLS_SESSIONS:-500}
client_timeout=60   # seconds for one client run
deadline=${BENCH_DEADLINE:-900}  # seconds for the whole script

for tool in "$bin/vantel-load" "$bin/vantel-relay" socat stunnel4 openssl \
    ${baseline:+"$baseline/vantel-relay"}; do
    if ! command -v "$tool" >/dev/null; then
        echo "bench-relay: $tool is missing (make build-linux-release; make deps)" >&2
        exit 1
    fi
done

work=$(mktemp -d)
pids=()
relay_pid=
before_pid=
cleanup() {
    trap - EXIT INT TERM
    for pid in "${pids[@]}" $relay_pid $before_pid; do
        # socat serves each connection in a child of its own.
        pkill -TERM -P "$pid" 2>/dev/null || true
        kill -TERM "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

source scripts/lib/ports.sh
source scripts/lib/stats.sh
free_ports=$(pick_ports 14)
read -r smtp_port pop3_port socat_smtp socat_pop3 relay_smtp relay_pop3 before_smtp before_pop3 \
    tls_smtp tls_pop3 stunnel_smtp stunnel_pop3 relay_tls_smtp relay_tls_pop3 <<<"$free_ports"

echo "Starting the fake servers (the POP3 one builds its $((size / 1048576)) MiB message)..." >&2
"$bin/vantel-load" smtp-server "$smtp_port" --timeout "$deadline" >"$work/smtp-server.out" &
pids+=("$!")
"$bin/vantel-load" pop3-server "$pop3_port" "$size" --timeout "$deadline" >"$work/pop3-server.out" &
pids+=("$!")
for pair in "$socat_smtp:$smtp_port" "$socat_pop3:$pop3_port"; do
    socat -b 2048 "TCP-LISTEN:${pair%:*},reuseaddr,fork,bind=127.0.0.1" "TCP:127.0.0.1:${pair#*:}" \
        2>>"$work/socat.log" &
    pids+=("$!")
done
for p in "$smtp_port" "$pop3_port" "$socat_smtp" "$socat_pop3"; do wait_for_port "$p"; done

# The lines for a random-line kludge.
printf 'Relayed by Vantel\nSent through the load test\nAnother line from the file\n' \
    >"$work/lines.txt"

write_settings() {  # write_settings FILE SMTP_PORT POP3_PORT [kludges]
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n'
        printf '"DefaultPort"="%s"\r\n' "$2"
        printf '"DefaultPOPPort"="%s"\r\n' "$3"
        printf '"DefaultPOPServer"="1"\r\n'
        printf '"ServersCount"="2"\r\n'
        printf '"Servers0"="%s %s 0 -1 127.0.0.1"\r\n' "$2" "$smtp_port"
        printf '"Servers1"="%s %s 1 -1 127.0.0.1"\r\n' "$3" "$pop3_port"
        if [ "${4:-}" = kludges ]; then
            # Twenty SMTP kludges on headers every load message has: 0 replaces the text,
            # 1 deletes the line, 2 takes a random line of a file, 3 adds a line.
            local kludges=(
                "X-Mailer:|0 Vantel relay" "User-Agent:|0 Vantel/1.0"
                "Organization:|0 Relayed Organisation" "X-Internal:|1 "
                "X-Originating-IP:|1 " "X-Spam-Status:|1 " "X-Spam-Score:|1 " "X-Face:|1 "
                "Keywords:|2 $work/lines.txt" "Comments:|2 $work/lines.txt"
                "Subject:|3 [load]" "X-Priority:|0 1 (Highest)" "Thread-Topic:|1 "
                "List-Id:|0 relayed list" "Sender:|0 relay@example.org" "X-Campaign:|1 "
                "MIME-Version:|0 1.0" "X-Load-01:|1 " "X-Load-10:|0 rewritten padding"
                "Return-Path:|0 <relay@example.org>"
            )
            printf '"KludgesCount"="%d"\r\n"SubstCount"="%d"\r\n' ${#kludges[@]} ${#kludges[@]}
            local i
            for i in "${!kludges[@]}"; do
                printf '"Kludges%d"="0 %s"\r\n' "$i" "${kludges[$i]%%|*}"
                printf '"Subst%d"="%s"\r\n' "$i" "${kludges[$i]#*|}"
            done
            printf '"SignalStrCount"="1"\r\n"SignalStr0"="[load]"\r\n'
            printf '"SpecialKludgesCount"="1"\r\n"SpecialKludges0"="# X-Topic:"\r\n'
        fi
    } >"$1"
}

start_relay() {  # start_relay NAME [kludges]: a fresh relay, so its peak memory is its own
    stop_relay
    write_settings "$work/$1.reg" "$relay_smtp" "$relay_pop3" "${2:-}"
    "$bin/vantel-relay" --store "$work/$1.reg" 2>>"$work/relay.log" &
    relay_pid=$!
    wait_for_port "$relay_smtp"
    wait_for_port "$relay_pop3"
    if [ -n "$baseline" ]; then
        write_settings "$work/$1-before.reg" "$before_smtp" "$before_pop3" "${2:-}"
        "$baseline/vantel-relay" --store "$work/$1-before.reg" 2>>"$work/before.log" &
        before_pid=$!
        wait_for_port "$before_smtp"
        wait_for_port "$before_pop3"
    fi
}
stop_relay() {
    local pid
    for pid in $relay_pid $before_pid; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    relay_pid=
    before_pid=
}
peak_rss_kib() { awk '/^VmHWM:/ {print $2}' "/proc/$relay_pid/status"; }

rows=()
tls_rows=()
notes=()
failures=0
paths=(direct socat relay)
if [ -n "$baseline" ]; then paths+=(before); fi
declare -A values
# collect LABEL UNIT MODE ARG CLIENT_OPTIONS PATH=PORT...: runs the client $reps times on every
# path, interleaved, and leaves the medians in `values`.
collect() {
    local label=$1 unit=$2 mode=$3 arg=$4 options=$5
    shift 5
    local -A ports=() runs=()
    local order=() pair rep path line value count
    for pair in "$@"; do
        ports[${pair%%=*}]=${pair#*=}
        runs[${pair%%=*}]=""
        order+=("${pair%%=*}")
    done
    for rep in $(seq "$reps"); do
        for path in "${order[@]}"; do
            if [ "$SECONDS" -ge "$deadline" ]; then
                echo "bench-relay: over $deadline s, stopping" >&2
                exit 1
            fi
            # shellcheck disable=SC2086 # ARG and OPTIONS are lists of words
            if ! line=$("$bin/vantel-load" "$mode" "${ports[$path]}" $arg $options); then
                notes+=("$label via $path, run $rep: ${line#* ok=0 }")
                # The baselines may fall short; only our own paths count as failures.
                if [ "$path" = direct ] || [ "$path" = relay ]; then failures=$((failures + 1)); fi
            fi
            value=$(sed -n 's/.* value=\([0-9.]*\).*/\1/p' <<<"$line")
            count=$(sed -n 's/.* succeeded=\([0-9]*\).*/\1/p' <<<"$line")
            if [ "$mode" = messages ] && [ "${count:-0}" -lt "$arg" ] && [ -n "$value" ]; then
                notes+=("$label via $path, run $rep: time was up after $count messages")
            fi
            runs[$path]+="${value:-0} "
            printf '  %-32s %-7s run %d: %s %s\n' "$label" "$path" "$rep" "${value:-0}" "$unit" >&2
        done
    done
    values=()
    for path in "${order[@]}"; do values[$path]=$(median "${runs[$path]}"); done
}
# The goals, checked in the summary.
goals=()
goal() {  # goal LABEL VALUE '>='|'<=' LIMIT
    goals+=("$1|$2|$3|$4")
}

# measure LABEL UNIT MODE ARG CLIENT_OPTIONS DIRECT_PORT SOCAT_PORT RELAY_PORT [BEFORE_PORT]
measure() {
    local label=$1 unit=$2 mode=$3 arg=$4 options=$5
    local -A ports=([direct]=$6 [socat]=$7 [relay]=$8 [before]=${9:-})
    local path pairs=()
    for path in "${paths[@]}"; do pairs+=("$path=${ports[$path]}"); done
    collect "$label" "$unit" "$mode" "$arg" "$options" "${pairs[@]}"
    local d=${values[direct]} s=${values[socat]} r=${values[relay]} b=${values[before]:--}
    rows+=("$(printf '%-32s %-11s %10s %10s %10s %10s %12s %13s %13s' "$label" "$unit" "$d" "$s" \
        "$r" "$b" "$(ratio "$r" "$s")" "$(ratio "$r" "$d")" "$(ratio "$r" "$b")")")
    last_vs_direct=$(ratio "$r" "$d")
}
# measure_tls LABEL UNIT MODE ARG CLIENT_OPTIONS STUNNEL_PORT RELAY_PORT: plain in, TLS out to
# the same TLS server, through stunnel in client mode and through the relay.
measure_tls() {
    collect "$1" "$2" "$3" "$4" "$5" "stunnel=$6" "relay=$7"
    local s=${values[stunnel]} r=${values[relay]}
    tls_rows+=("$(printf '%-32s %-11s %10s %10s %14s' "$1" "$2" "$s" "$r" "$(ratio "$r" "$s")")")
    last_vs_stunnel=$(ratio "$r" "$s")
}

# measure_reload LABEL SESSIONS: rounds of SESSIONS sessions open at once while the relay is
# told to reload its settings every 20 ms ($reloads times); counts the sessions that failed.
# Only the relays reload.
measure_reload() {
    local label=$1 count=$2
    local -A failed=([relay]=- [before]=-)
    local -A pids=([relay]=$relay_pid [before]=$before_pid)
    local -A ports=([relay]=$relay_smtp [before]=$before_smtp)
    local path line hup ok bad
    for path in relay ${baseline:+before}; do
        (for _ in $(seq "$reloads"); do kill -HUP "${pids[$path]}" 2>/dev/null; sleep 0.02; done) &
        hup=$!
        ok=0
        bad=0
        while kill -0 "$hup" 2>/dev/null; do
            line=$("$bin/vantel-load" concurrent "${ports[$path]}" "$count" --timeout 20) || true
            ok=$((ok + $(sed -n 's/.* succeeded=\([0-9]*\).*/\1/p' <<<"$line")))
            bad=$((bad + $(sed -n 's/.* failed=\([0-9]*\).*/\1/p' <<<"$line")))
        done
        wait "$hup" 2>/dev/null || true
        failed[$path]=$bad
        printf '  %-32s %-6s: %s failed, %s succeeded\n' "$label" "$path" "$bad" "$ok" >&2
        if [ "$path" = relay ] && [ "$bad" != 0 ]; then
            failures=$((failures + 1))
            notes+=("$label: $bad sessions failed through the relay")
        fi
    done
    rows+=("$(printf '%-32s %-11s %10s %10s %10s %10s %12s %13s %13s' "$label" failed - - \
        "${failed[relay]}" "${failed[before]}" - - -)")
}

echo "Measuring ($reps runs of each, paths interleaved)..." >&2
mib=$((size / 1048576))
t="--timeout $client_timeout"
start_relay plain
measure "SMTP body, $mib MiB" MiB/s smtp-send "$size" "$t" "$smtp_port" "$socat_smtp" "$relay_smtp" \
    "$before_smtp"
goal "SMTP body: relay/direct" "$last_vs_direct" '>=' 0.8
measure "POP3 RETR, $mib MiB" MiB/s pop3-retr "" "$t" "$pop3_port" "$socat_pop3" "$relay_pop3" \
    "$before_pop3"
goal "POP3 RETR: relay/direct" "$last_vs_direct" '>=' 0.8
measure "short sessions ($sessions)" sessions/s sessions "$sessions" "$t" \
    "$smtp_port" "$socat_smtp" "$relay_smtp" "$before_smtp"
goal "short sessions: relay/direct" "$last_vs_direct" '>=' 0.7
measure_reload "300 at once, $reloads reloads" 300
throughput_rss=$(peak_rss_kib)

start_relay concurrent
idle_rss=$(peak_rss_kib)
# Sessions not open after half of this count as failed: socat's listen backlog of 5 loses some.
measure "concurrent sessions ($concurrent)" succeeded concurrent "$concurrent" "--timeout 20" \
    "$smtp_port" "$socat_smtp" "$relay_smtp" "$before_smtp"
concurrent_rss=$(peak_rss_kib)
goal "concurrent sessions: relay/direct" "$last_vs_direct" '>=' 1.0
per_session=$(awk -v a="$concurrent_rss" -v b="$idle_rss" -v n="$concurrent" \
    'BEGIN {printf "%.2f", (a - b) / n}')
goal "KiB per concurrent session" "$per_session" '<=' 8

start_relay kludges kludges
# socat lets Nagle hold back the end of each message, so its runs are cut short.
measure "messages ($messages, 20 kludges)" messages/s messages "$messages" "$t --stop-after 15" \
    "$smtp_port" "$socat_smtp" "$relay_smtp" "$before_smtp"
goal "messages with kludges: relay/direct" "$last_vs_direct" '>=' 0.6
messages_rss=$(peak_rss_kib)
stop_relay

# TLS: one stunnel in server mode is the TLS server in front of the fake servers; plain clients
# reach it through stunnel in client mode and through the relay. Both verify the certificate
# (chain and name); neither resumes sessions, so every session is a full handshake.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
    -addext subjectAltName=DNS:localhost -keyout "$work/tls.key" -out "$work/tls.pem" 2>/dev/null
{
    printf 'foreground = yes\npid =\n'
    printf '[smtp]\naccept = 127.0.0.1:%s\nconnect = 127.0.0.1:%s\n' "$tls_smtp" "$smtp_port"
    printf 'cert = %s\nkey = %s\n' "$work/tls.pem" "$work/tls.key"
    printf '[pop3]\naccept = 127.0.0.1:%s\nconnect = 127.0.0.1:%s\n' "$tls_pop3" "$pop3_port"
    printf 'cert = %s\nkey = %s\n' "$work/tls.pem" "$work/tls.key"
} >"$work/stunnel-server.conf"
{
    printf 'foreground = yes\npid =\nclient = yes\nsslVersionMin = TLSv1.2\n'
    printf 'verifyChain = yes\nCAfile = %s\ncheckHost = localhost\nsessionResume = no\n' \
        "$work/tls.pem"
    printf '[smtp]\naccept = 127.0.0.1:%s\nconnect = 127.0.0.1:%s\n' "$stunnel_smtp" "$tls_smtp"
    printf '[pop3]\naccept = 127.0.0.1:%s\nconnect = 127.0.0.1:%s\n' "$stunnel_pop3" "$tls_pop3"
} >"$work/stunnel-client.conf"
for conf in server client; do
    stunnel4 "$work/stunnel-$conf.conf" 2>>"$work/stunnel.log" &
    pids+=("$!")
done
for p in "$tls_smtp" "$tls_pop3" "$stunnel_smtp" "$stunnel_pop3"; do wait_for_port "$p"; done
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n'
    printf '"ServersCount"="2"\r\n'
    printf '"Servers0"="%s %s 0 -1 localhost"\r\n"ServerSecurity0"="1"\r\n' \
        "$relay_tls_smtp" "$tls_smtp"
    printf '"Servers1"="%s %s 1 -1 localhost"\r\n"ServerSecurity1"="1"\r\n' \
        "$relay_tls_pop3" "$tls_pop3"
} >"$work/tls.reg"
SSL_CERT_FILE="$work/tls.pem" "$bin/vantel-relay" --store "$work/tls.reg" 2>>"$work/relay.log" &
relay_pid=$!
wait_for_port "$relay_tls_smtp"
wait_for_port "$relay_tls_pop3"
measure_tls "TLS: SMTP body, $mib MiB" MiB/s smtp-send "$size" "$t" "$stunnel_smtp" "$relay_tls_smtp"
goal "TLS SMTP body: relay/stunnel" "$last_vs_stunnel" '>=' 1.2
measure_tls "TLS: POP3 RETR, $mib MiB" MiB/s pop3-retr "" "$t" "$stunnel_pop3" "$relay_tls_pop3"
goal "TLS POP3 RETR: relay/stunnel" "$last_vs_stunnel" '>=' 1.2
measure_tls "TLS: new sessions ($tls_sessions)" sessions/s sessions "$tls_sessions" "$t" \
    "$stunnel_smtp" "$relay_tls_smtp"
goal "TLS new sessions: relay/stunnel" "$last_vs_stunnel" '>=' 1.2
stop_relay

echo
printf '%-32s %-11s %10s %10s %10s %10s %12s %13s %13s\n' measurement unit direct socat relay \
    before relay/socat relay/direct relay/before
printf '%s\n' "${rows[@]}"
echo
echo
printf '%-32s %-11s %10s %10s %14s\n' measurement unit stunnel relay relay/stunnel
printf '%s\n' "${tls_rows[@]}"
echo
echo "Medians of $reps runs; the kludges apply on the relay path only."
echo "Relay peak RSS (VmHWM): $concurrent_rss KiB with $concurrent concurrent sessions (the fresh" \
    "relay had $idle_rss KiB before them); $throughput_rss KiB after the throughput and session" \
    "runs; $messages_rss KiB after the message runs."
echo
printf '%-40s %10s %12s %8s\n' goal measured "should be" met
for entry in "${goals[@]}"; do
    IFS='|' read -r label value op limit <<<"$entry"
    met=$(awk -v v="$value" -v op="$op" -v l="$limit" \
        'BEGIN {print (v != "-" && (op == "<=" ? v <= l : v >= l)) ? "yes" : "no"}')
    printf '%-40s %10s %12s %8s\n' "$label" "$value" "$op $limit" "$met"
done
if [ ${#notes[@]} -gt 0 ]; then
    echo "Notes:"
    printf '  %s\n' "${notes[@]}"
fi
echo "Total time: $SECONDS s."
if [ "$failures" -gt 0 ]; then
    echo "bench-relay: $failures runs of the direct or relay path failed; the relay said:" >&2
    tail -n 20 "$work/relay.log" >&2
    exit 1
fi
