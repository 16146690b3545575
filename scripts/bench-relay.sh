#!/usr/bin/env bash
# Load benchmark of vantel-relay, measured against the limit of a relay. Every measurement runs,
# in the same run and interleaved, on these paths to the same fake servers: direct; through
# vantel-minrelay, the least a relay can do (edge-triggered epoll, one 256 KiB buffer, no
# parsing; splicing for POP3, as the relay does); through the relay; and with
# VANTEL_BASELINE_BIN (a folder with an earlier build's vantel-relay) through that build too.
# Besides the speed of each path it reports the CPU time (utime + stime) of the path's own
# process per MiB, per session and per message: that figure does not depend on how client,
# relay and server share the cores. The TLS rows compare the relay with stunnel in client mode,
# both in front of one TLS server, nginx's stream module, run from a private configuration.
# Environment: VANTEL_BIN (build/linux-release), VANTEL_BASELINE_BIN (none), BENCH_REPS (3),
# BENCH_SIZE_MIB (256), BENCH_SESSIONS (5000), BENCH_BURSTS ("1000 5000 10000"),
# BENCH_TLS_SESSIONS (1000), BENCH_RELOADS (100), BENCH_DEADLINE (1800 s).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${VANTEL_BIN:-build/linux-release}
baseline=${VANTEL_BASELINE_BIN:-}
reps=${BENCH_REPS:-3}
reloads=${BENCH_RELOADS:-100}
size=$((${BENCH_SIZE_MIB:-256} * 1024 * 1024))
sessions=${BENCH_SESSIONS:-5000}
read -r -a bursts <<<"${BENCH_BURSTS:-1000 5000 10000}"
tls_sessions=${BENCH_TLS_SESSIONS:-1000}
client_timeout=60   # seconds for one client run
deadline=${BENCH_DEADLINE:-1800}  # seconds for the whole script

for tool in "$bin/vantel-load" "$bin/vantel-relay" "$bin/vantel-minrelay" stunnel4 openssl nginx \
    ${baseline:+"$baseline/vantel-relay"}; do
    if ! command -v "$tool" >/dev/null; then
        echo "bench-relay: $tool is missing (make build-linux-release; make deps)" >&2
        exit 1
    fi
done
stream_module=/usr/lib/nginx/modules/ngx_stream_module.so
if [ ! -f "$stream_module" ]; then
    echo "bench-relay: nginx's stream module is missing (make deps)" >&2
    exit 1
fi
# Ten thousand sessions are twenty thousand descriptors in a relay.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

work=$(mktemp -d)
pids=()
declare -A pid_of=()  # path -> the process that carries it
cleanup() {
    trap - EXIT INT TERM
    for pid in "${pids[@]}" "${pid_of[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

source scripts/lib/ports.sh
source scripts/lib/stats.sh
read -r smtp_port pop3_port min_smtp min_pop3 relay_smtp relay_pop3 before_smtp before_pop3 \
    tls_smtp tls_pop3 stunnel_smtp stunnel_pop3 <<<"$(pick_ports 12)"
declare -A smtp_of=([direct]=$smtp_port [minimal]=$min_smtp [relay]=$relay_smtp
    [before]=$before_smtp [stunnel]=$stunnel_smtp)
declare -A pop3_of=([direct]=$pop3_port [minimal]=$min_pop3 [relay]=$relay_pop3
    [before]=$before_pop3 [stunnel]=$stunnel_pop3)

echo "Starting the fake servers (the POP3 one builds its $((size / 1048576)) MiB message)..." >&2
"$bin/vantel-load" smtp-server "$smtp_port" --timeout "$deadline" >"$work/smtp-server.out" &
pids+=("$!")
"$bin/vantel-load" pop3-server "$pop3_port" "$size" --timeout "$deadline" >"$work/pop3-server.out" &
pids+=("$!")
wait_for_port "$smtp_port"
wait_for_port "$pop3_port"

# The lines for a random-line kludge.
printf 'Relayed by Vantel\nSent through the load test\nAnother line from the file\n' \
    >"$work/lines.txt"

write_settings() {  # write_settings FILE SMTP_PORT POP3_PORT plain|kludges|tls
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]\r\n'
        printf '"ServersCount"="2"\r\n'
        if [ "$4" = tls ]; then
            printf '"Servers0"="%s %s 0 -1 localhost"\r\n"ServerSecurity0"="1"\r\n' "$2" "$tls_smtp"
            printf '"Servers1"="%s %s 1 -1 localhost"\r\n"ServerSecurity1"="1"\r\n' "$3" "$tls_pop3"
        else
            printf '"Servers0"="%s %s 0 -1 127.0.0.1"\r\n' "$2" "$smtp_port"
            printf '"Servers1"="%s %s 1 -1 127.0.0.1"\r\n' "$3" "$pop3_port"
        fi
        if [ "$4" = kludges ]; then
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

stop_path() {  # stop_path PATH
    local pid=${pid_of[$1]:-}
    if [ -n "$pid" ]; then
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    unset "pid_of[$1]"
}
# start_path PATH [plain|kludges|tls]: a fresh process, so that its peak memory is its own. The
# minimal relay copies on the SMTP port and splices on the POP3 one (two processes: the SMTP
# one is measured where a path has one process only).
start_path() {
    local path=$1 mode=${2:-plain} pid
    stop_path "$path"
    case $path in
        minimal)
            stop_path minimal-pop3
            "$bin/vantel-minrelay" "$min_smtp" "$smtp_port" 2>>"$work/minrelay.log" &
            pid_of[minimal]=$!
            "$bin/vantel-minrelay" --splice "$min_pop3" "$pop3_port" 2>>"$work/minrelay.log" &
            pid_of[minimal-pop3]=$!
            ;;
        relay | before)
            local program=$bin/vantel-relay
            if [ "$path" = before ]; then program=$baseline/vantel-relay; fi
            write_settings "$work/$path.reg" "${smtp_of[$path]}" "${pop3_of[$path]}" "$mode"
            SSL_CERT_FILE="$work/tls.pem" "$program" --store "$work/$path.reg" \
                2>>"$work/$path.log" &
            pid_of[$path]=$!
            ;;
        *) return 0 ;;
    esac
    wait_for_port "${smtp_of[$path]}"
    wait_for_port "${pop3_of[$path]}"
}
rss_kib() { awk -v k="$2" '$1 == k ":" {print $2}' "/proc/$1/status"; }  # rss_kib PID VmRSS|VmHWM
listen_overflows() {
    awk '/^TcpExt:/ {if (!seen) {for (i = 1; i <= NF; i++) name[i] = $i; seen = 1}
        else for (i = 1; i <= NF; i++) if (name[i] == "ListenOverflows") print $i}' \
        /proc/net/netstat
}

rows=()
tls_rows=()
notes=()
goals=()
failures=0
paths=(direct minimal relay)
if [ -n "$baseline" ]; then paths+=(before); fi
declare -A values=() cpus=() cpus2=()

goal() {  # goal LABEL VALUE '>='|'<=' LIMIT
    goals+=("$1|$2|$3|$4")
}

# collect LABEL KIND MODE ARG OPTIONS PORTS PATH...: runs the client $reps times on every path,
# interleaved, on the port PORTS (an array name) gives it, and leaves in `values` the medians
# of what the client measured and in `cpus` those of the path process's CPU time per unit of
# KIND: ms per MiB (mib), µs per session (session), or µs per message (message; `cpus2` then
# has ms per MiB).
collect() {
    local label=$1 kind=$2 mode=$3 arg=$4 options=$5
    local -n port_of=$6
    shift 6
    local -A runs=() cpu_runs=() cpu2_runs=()
    local rep path line value count bytes pid before after
    for rep in $(seq "$reps"); do
        for path in "$@"; do
            if [ "$SECONDS" -ge "$deadline" ]; then
                echo "bench-relay: over $deadline s, stopping" >&2
                exit 1
            fi
            pid=${pid_of[$path]:-}
            if [ "$mode" = pop3-retr ] && [ "$path" = minimal ]; then pid=${pid_of[minimal-pop3]}; fi
            before=$([ -n "$pid" ] && cpu_ns "$pid" || echo 0)
            # shellcheck disable=SC2086 # ARG and OPTIONS are lists of words
            if ! line=$("$bin/vantel-load" "$mode" "${port_of[$path]}" $arg $options); then
                notes+=("$label via $path, run $rep: ${line#* ok=0 }")
                if [ "$path" = direct ] || [ "$path" = relay ]; then failures=$((failures + 1)); fi
            fi
            after=$([ -n "$pid" ] && cpu_ns "$pid" || echo 0)
            value=$(sed -n 's/.* value=\([0-9.]*\).*/\1/p' <<<"$line")
            count=$(sed -n 's/.* succeeded=\([0-9]*\).*/\1/p' <<<"$line")
            bytes=$(sed -n 's/.* bytes=\([0-9]*\).*/\1/p' <<<"$line")
            if [ "$mode" = messages ] && [ "${count:-0}" -lt "$arg" ] && [ -n "$value" ]; then
                notes+=("$label via $path, run $rep: time was up after $count messages")
            fi
            runs[$path]+="${value:-0} "
            if [ -n "$pid" ]; then
                cpu_runs[$path]+="$(awk -v t=$((after - before)) -v k="$kind" \
                    -v c="${count:-0}" -v b="${bytes:-0}" 'BEGIN {
                        s = t / 1e9
                        if (k == "mib") print (b > 0 ? s * 1000 / (b / 1048576) : 0)
                        else print (c > 0 ? s * 1e6 / c : 0)
                    }') "
                cpu2_runs[$path]+="$(awk -v t=$((after - before)) -v b="${bytes:-0}" \
                    'BEGIN {print (b > 0 ? t / 1e6 / (b / 1048576) : 0)}') "
            fi
            printf '  %-34s %-8s run %d: %s\n' "$label" "$path" "$rep" "${line:-no answer}" >&2
        done
    done
    values=()
    cpus=()
    cpus2=()
    for path in "$@"; do
        values[$path]=$(median "${runs[$path]}")
        cpus[$path]=$(if [ -n "${cpu_runs[$path]:-}" ]; then median "${cpu_runs[$path]}"; else echo -; fi)
        cpus2[$path]=$(if [ -n "${cpu2_runs[$path]:-}" ]; then median "${cpu2_runs[$path]}"; else echo -; fi)
    done
}
row() {  # row LABEL UNIT ARRAY: one line of the table from values of every path
    local -n of=$3
    rows+=("$(printf '%-40s %-10s %9s %9s %9s %9s %10s %10s %10s' "$1" "$2" \
        "$(round "${of[direct]:--}")" "$(round "${of[minimal]:--}")" "$(round "${of[relay]:--}")" \
        "$(round "${of[before]:--}")" "$(ratio "${of[relay]:--}" "${of[minimal]:--}")" \
        "$(ratio "${of[relay]:--}" "${of[direct]:--}")" "$(ratio "${of[relay]:--}" "${of[before]:--}")")")
}
vs_minimal() { local -n of=$1; ratio "${of[relay]:--}" "${of[minimal]:--}"; }

# measure LABEL UNIT KIND MODE ARG OPTIONS PORTS: a throughput row and a CPU row.
measure() {
    collect "$1" "$3" "$4" "$5" "$6" "$7" "${paths[@]}"
    row "$1" "$2" values
    case $3 in
        mib) row "  CPU per MiB" ms cpus ;;
        session) row "  CPU per session" µs cpus ;;
        message) row "  CPU per message" µs cpus; row "  CPU per MiB" ms cpus2 ;;
    esac
}

# measure_burst N: N SMTP clients connect at once, from several loopback addresses; every path
# has a fresh process, so that its memory per session is (peak RSS - RSS before) / N.
measure_burst() {
    local n=$1 rep path line pid idle peak o1 o2
    local -A p99=() held=() kib=() overflows=()
    for rep in $(seq "$reps"); do
        for path in "${paths[@]}"; do
            start_path "$path"
            pid=${pid_of[$path]:-}
            idle=$([ -n "$pid" ] && rss_kib "$pid" VmRSS || echo 0)
            o1=$(listen_overflows)
            line=$("$bin/vantel-load" burst "${smtp_of[$path]}" "$n" --timeout 20) || true
            o2=$(listen_overflows)
            peak=$([ -n "$pid" ] && rss_kib "$pid" VmHWM || echo 0)
            printf '  %-34s %-8s run %d: %s\n' "burst of $n" "$path" "$rep" "$line" >&2
            p99[$path]+="$(sed -n 's/.* value=\([0-9.]*\).*/\1/p' <<<"$line") "
            held[$path]+="$(sed -n 's/.* held=\([0-9]*\).*/\1/p' <<<"$line") "
            overflows[$path]+="$((o2 - o1)) "
            if [ -n "$pid" ]; then
                kib[$path]+="$(awk -v a="$peak" -v b="$idle" -v n="$n" 'BEGIN {print (a - b) / n}') "
            fi
        done
    done
    local -A m=()
    for path in "${paths[@]}"; do m[$path]=$(median "${p99[$path]}"); done
    row "burst of $n: greeting p99" ms m
    goal "greeting p99, $n at once" "$(vs_minimal m)" '<=' 2
    for path in "${paths[@]}"; do m[$path]=$(median "${held[$path]}"); done
    row "  sessions held open" sessions m
    goal "sessions held, $n at once" "$(vs_minimal m)" '>=' 1.0
    for path in "${paths[@]}"; do m[$path]=$(median "${overflows[$path]}"); done
    row "  accept-queue overflows" times m
    if [ "$n" -le 5000 ]; then goal "accept-queue overflows, $n (relay)" "${m[relay]}" '<=' 0; fi
    for path in "${paths[@]}"; do
        m[$path]=$(if [ -n "${kib[$path]:-}" ]; then median "${kib[$path]}"; else echo -; fi)
    done
    row "  memory per session" KiB m
    if [ "$n" -ge 5000 ]; then goal "KiB per session, $n at once (relay)" "${m[relay]}" '<=' 2; fi
}

# measure_reload LABEL SESSIONS: rounds of SESSIONS sessions open at once while the relay is
# told to reload its settings every 20 ms ($reloads times); counts the sessions that failed.
measure_reload() {
    local label=$1 count=$2 path line hup bad
    local -A failed=()
    for path in relay ${baseline:+before}; do
        (for _ in $(seq "$reloads"); do kill -HUP "${pid_of[$path]}" 2>/dev/null; sleep 0.02; done) &
        hup=$!
        bad=0
        while kill -0 "$hup" 2>/dev/null; do
            line=$("$bin/vantel-load" concurrent "${smtp_of[$path]}" "$count" --timeout 20) || true
            bad=$((bad + $(sed -n 's/.* failed=\([0-9]*\).*/\1/p' <<<"$line")))
        done
        wait "$hup" 2>/dev/null || true
        failed[$path]=$bad
        printf '  %-34s %-8s: %s failed\n' "$label" "$path" "$bad" >&2
        if [ "$path" = relay ] && [ "$bad" != 0 ]; then
            failures=$((failures + 1))
            notes+=("$label: $bad sessions failed through the relay")
        fi
    done
    row "$label" failed failed
}

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
    -addext subjectAltName=DNS:localhost -keyout "$work/tls.key" -out "$work/tls.pem" 2>/dev/null

echo "Measuring ($reps runs of each, paths interleaved)..." >&2
mib=$((size / 1048576))
t="--timeout $client_timeout"
for path in "${paths[@]}"; do start_path "$path"; done
measure "SMTP body, $mib MiB" MiB/s mib smtp-send "$size" "$t" smtp_of
goal "SMTP body: CPU per MiB" "$(vs_minimal cpus)" '<=' 1.3
goal "SMTP body: MiB/s" "$(vs_minimal values)" '>=' 0.9
measure "POP3 RETR, $mib MiB" MiB/s mib pop3-retr "" "$t" pop3_of
goal "POP3 RETR: CPU per MiB" "$(vs_minimal cpus)" '<=' 1.1
measure "short sessions ($sessions)" sessions/s session sessions "$sessions" "$t" smtp_of
goal "short session: CPU per session" "$(vs_minimal cpus)" '<=' 1.1
measure_reload "300 at once, $reloads reloads" 300

for n in "${bursts[@]}"; do measure_burst "$n"; done

for path in "${paths[@]}"; do start_path "$path" kludges; done
# Message sizes and counts: about the same bytes in the larger three.
for pair in 1:10000 64:4000 1024:256 16384:16; do
    kib_size=${pair%%:*}
    count=${pair#*:}
    label="messages of $kib_size KiB, 20 kludges"
    measure "$label" messages/s message messages "$count" \
        "$t --stop-after 20 --body $((kib_size * 1024))" smtp_of
    if [ "$kib_size" -ge 1024 ]; then goal "$kib_size KiB messages: CPU per MiB" "$(vs_minimal cpus2)" '<=' 1.3; fi
done
for path in relay before; do stop_path "$path"; done

# TLS: nginx's stream module is the TLS server in front of the fake servers; plain clients
# reach it through stunnel in client mode and through the relay. Both verify the certificate
# (chain and name); neither resumes sessions, so every session is a full handshake.
mkdir -p "$work/nginx"
{
    printf 'load_module %s;\nworker_processes 1;\ndaemon off;\npid %s/nginx.pid;\n' \
        "$stream_module" "$work"
    printf 'error_log %s/nginx-error.log;\nevents { worker_connections 4096; }\n' "$work"
    printf 'stream {\n    ssl_certificate %s;\n    ssl_certificate_key %s;\n' \
        "$work/tls.pem" "$work/tls.key"
    printf '    server { listen 127.0.0.1:%s ssl; proxy_pass 127.0.0.1:%s; }\n' "$tls_smtp" \
        "$smtp_port"
    printf '    server { listen 127.0.0.1:%s ssl; proxy_pass 127.0.0.1:%s; }\n}\n' "$tls_pop3" \
        "$pop3_port"
} >"$work/nginx/nginx.conf"
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx-error.log" &
pids+=("$!")
{
    printf 'foreground = yes\npid =\nclient = yes\nsslVersionMin = TLSv1.2\n'
    printf 'verifyChain = yes\nCAfile = %s\ncheckHost = localhost\nsessionResume = no\n' \
        "$work/tls.pem"
    printf '[smtp]\naccept = 127.0.0.1:%s\nconnect = 127.0.0.1:%s\n' "$stunnel_smtp" "$tls_smtp"
    printf '[pop3]\naccept = 127.0.0.1:%s\nconnect = 127.0.0.1:%s\n' "$stunnel_pop3" "$tls_pop3"
} >"$work/stunnel-client.conf"
stunnel4 "$work/stunnel-client.conf" 2>>"$work/stunnel.log" &
pid_of[stunnel]=$!
for p in "$tls_smtp" "$tls_pop3" "$stunnel_smtp" "$stunnel_pop3"; do wait_for_port "$p"; done
tls_paths=(stunnel)
for path in relay ${baseline:+before}; do
    start_path "$path" tls
    tls_paths+=("$path")
done
tls_row() {  # tls_row LABEL UNIT ARRAY
    local -n of=$3
    tls_rows+=("$(printf '%-40s %-10s %9s %9s %9s %14s %13s' "$1" "$2" "$(round "${of[stunnel]}")" \
        "$(round "${of[relay]}")" "$(round "${of[before]:--}")" \
        "$(ratio "${of[relay]}" "${of[stunnel]}")" "$(ratio "${of[relay]}" "${of[before]:--}")")")
}
vs_stunnel() { local -n of=$1; ratio "${of[relay]}" "${of[stunnel]}"; }
collect "TLS: SMTP body, $mib MiB" mib smtp-send "$size" "$t" smtp_of "${tls_paths[@]}"
tls_row "TLS: SMTP body, $mib MiB" MiB/s values
tls_row "  CPU per MiB" ms cpus
goal "TLS SMTP body: CPU per MiB" "$(vs_stunnel cpus)" '<=' 1.0
goal "TLS SMTP body: MiB/s" "$(vs_stunnel values)" '>=' 1.0
collect "TLS: POP3 RETR, $mib MiB" mib pop3-retr "" "$t" pop3_of "${tls_paths[@]}"
tls_row "TLS: POP3 RETR, $mib MiB" MiB/s values
tls_row "  CPU per MiB" ms cpus
goal "TLS POP3 RETR: CPU per MiB" "$(vs_stunnel cpus)" '<=' 1.0
collect "TLS: new sessions ($tls_sessions)" session sessions "$tls_sessions" "$t" smtp_of \
    "${tls_paths[@]}"
tls_row "TLS: new sessions ($tls_sessions)" sessions/s values
tls_row "  CPU per session" µs cpus
goal "TLS new sessions/s" "$(vs_stunnel values)" '>=' 1.2

echo
printf '%-40s %-10s %9s %9s %9s %9s %10s %10s %10s\n' measurement unit direct minimal relay \
    before relay/min relay/dir relay/bef
printf '%s\n' "${rows[@]}"
echo
printf '%-40s %-10s %9s %9s %9s %14s %13s\n' measurement unit stunnel relay before \
    relay/stunnel relay/before
printf '%s\n' "${tls_rows[@]}"
echo
echo "Medians of $reps runs. CPU is the utime + stime of the path's own process (the minimal" \
    "relay splices POP3 and copies SMTP; the kludges apply on the relay paths only). Memory per" \
    "session is (peak RSS - RSS before) / N of a fresh process. Descriptors: $(ulimit -n)."
echo
printf '%-44s %10s %12s %8s\n' goal measured "should be" met
for entry in "${goals[@]}"; do
    IFS='|' read -r label value op limit <<<"$entry"
    met=$(awk -v v="$value" -v op="$op" -v l="$limit" \
        'BEGIN {print (v != "-" && (op == "<=" ? v <= l : v >= l)) ? "yes" : "no"}')
    printf '%-44s %10s %12s %8s\n' "$label" "$value" "$op $limit" "$met"
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
