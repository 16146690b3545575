#!/usr/bin/env bash
# The Windows program's relay under Wine, against an earlier build, for information: Wine's
# sockets are not Windows', so only the ratio between the two builds means anything. Each run
# starts the tray program (vantel.exe, service off) in a fresh Wine prefix on a virtual
# display, in front of vantel-load's fake servers, and measures speed and the CPU time of the
# program's process together with the Wine server's, which carries its socket calls.
# Environment: VANTEL_WIN_BIN (build/windows), VANTEL_BASELINE_WIN (a folder with an earlier
# build's vantel.exe; without one only this build runs), VANTEL_BIN (build/linux-release, for
# vantel-load), BENCH_REPS (3), BENCH_SIZE_MIB (64), BENCH_SESSIONS (1000), BENCH_BURST (1000).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
win=${VANTEL_WIN_BIN:-build/windows}
baseline=${VANTEL_BASELINE_WIN:-}
bin=${VANTEL_BIN:-build/linux-release}
reps=${BENCH_REPS:-3}
size=$((${BENCH_SIZE_MIB:-64} * 1024 * 1024))
sessions=${BENCH_SESSIONS:-1000}
burst=${BENCH_BURST:-1000}
for file in "$win/vantel.exe" "$bin/vantel-load" ${baseline:+"$baseline/vantel.exe"}; do
    if [ ! -f "$file" ]; then
        echo "bench-wine: $file is missing (make build-windows build-linux-release)" >&2
        exit 1
    fi
done

source scripts/lib/wine.sh
source scripts/lib/ports.sh
source scripts/lib/stats.sh
work=$(mktemp -d)
pids=()
program=
cleanup() {
    trap - EXIT INT TERM
    stop_program
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fresh_wine_prefix "$work/prefix"
start_wine_server
read -r smtp_port pop3_port relay_smtp relay_pop3 <<<"$(pick_ports 4)"
"$bin/vantel-load" smtp-server "$smtp_port" --timeout 3600 >/dev/null &
pids+=("$!")
"$bin/vantel-load" pop3-server "$pop3_port" "$size" --timeout 3600 >/dev/null &
pids+=("$!")
wait_for_port "$smtp_port"
wait_for_port "$pop3_port"
cat >"$work/settings.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]
"UseService"="0"
"ServersCount"="2"
"Servers0"="$relay_smtp $smtp_port 0 -1 127.0.0.1"
"Servers1"="$relay_pop3 $pop3_port 1 -1 127.0.0.1"
REG
wine reg import "$(winepath -w "$work/settings.reg")" >/dev/null 2>&1
server_pid=$(pgrep -n wineserver)  # the newest: this prefix's

stop_program() {
    if [ -n "$program" ]; then
        kill -TERM "$program" 2>/dev/null || true
        # Until the port is free for the next build.
        for _ in $(seq 100); do port_free "$relay_smtp" && break; sleep 0.1; done
    fi
    program=
}
start_program() {  # start_program FOLDER: its vantel.exe, fresh
    stop_program
    wine "$1/vantel.exe" >/dev/null 2>&1 &
    pids+=("$!")
    wait_for_port "$relay_smtp"
    wait_for_port "$relay_pop3"
    program=$(pgrep -n -f 'vantel\.exe')
}

builds=(now)
declare -A folder=([now]=$win [before]=$baseline)
if [ -n "$baseline" ]; then builds+=(before); fi
declare -A speed=() cpu=()
rows=()
# measure LABEL UNIT MODE PORT ARG: $reps runs per build, interleaved, each on a fresh program;
# CPU per MiB (ms), per session (µs) or, for a burst, the greeting's p99 (ms) instead.
measure() {
    local label=$1 unit=$2 mode=$3 port=$4 arg=$5 rep build line value count bytes a b
    speed=()
    cpu=()
    for rep in $(seq "$reps"); do
        for build in "${builds[@]}"; do
            start_program "${folder[$build]}"
            a=$(($(cpu_ns "$program") + $(cpu_ns "$server_pid")))
            # shellcheck disable=SC2086 # ARG is a list of words
            line=$("$bin/vantel-load" "$mode" "$port" $arg --timeout 60) || true
            b=$(($(cpu_ns "$program") + $(cpu_ns "$server_pid")))
            printf '  %-28s %-7s run %d: %s\n' "$label" "$build" "$rep" "$line" >&2
            value=$(sed -n 's/.* value=\([0-9.]*\).*/\1/p' <<<"$line")
            count=$(sed -n 's/.* succeeded=\([0-9]*\).*/\1/p' <<<"$line")
            bytes=$(sed -n 's/.* bytes=\([0-9]*\).*/\1/p' <<<"$line")
            speed[$build]+="${value:-0} "
            cpu[$build]+="$(awk -v t=$((b - a)) -v c="${count:-0}" -v b="${bytes:-0}" 'BEGIN {
                if (b > 0) print t / 1e6 / (b / 1048576); else print (c > 0 ? t / 1e3 / c : 0)}') "
        done
    done
    local now before
    now=$(median "${speed[now]}")
    before=$(if [ -n "$baseline" ]; then median "${speed[before]}"; else echo -; fi)
    rows+=("$(printf '%-30s %-11s %10s %10s %8s' "$label" "$unit" "$now" "$before" \
        "$(ratio "$now" "$before")")")
    if [ "$mode" != burst ]; then
        now=$(median "${cpu[now]}")
        before=$(if [ -n "$baseline" ]; then median "${cpu[before]}"; else echo -; fi)
        if [ "$unit" = MiB/s ]; then label="  CPU per MiB" unit=ms; else label="  CPU per session" unit=µs; fi
        rows+=("$(printf '%-30s %-11s %10s %10s %8s' "$label" "$unit" "$(round "$now")" \
            "$(round "$before")" "$(ratio "$now" "$before")")")
    fi
}

echo "Measuring under Wine ($reps runs of each, builds interleaved)..." >&2
mib=$((size / 1048576))
measure "SMTP body, $mib MiB" MiB/s smtp-send "$relay_smtp" "$size"
measure "POP3 RETR, $mib MiB" MiB/s pop3-retr "$relay_pop3" ""
measure "short sessions ($sessions)" sessions/s sessions "$relay_smtp" "$sessions"
measure "burst of $burst: greeting p99" ms burst "$relay_smtp" "$burst"
stop_program

echo
printf '%-30s %-11s %10s %10s %8s\n' measurement unit now before now/before
printf '%s\n' "${rows[@]}"
echo
echo "Medians of $reps runs under Wine; CPU is vantel.exe's and the Wine server's together."
