#!/usr/bin/env bash
# The Windows installer as an administrator and a user meet it, in a fresh Wine prefix:
# silent install, the program started from where it was installed relaying one message, an
# upgrade over the running program, the companion service through an upgrade and an
# uninstall, and uninstalls that keep or remove the settings.
# Usage: windows-installer-test.sh BINDIR SMTP-SINK
#   BINDIR  the Windows build, with its installer made; SMTP-SINK  the Linux vantel-smtp-sink
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

bindir=$(realpath "$1")
sink_bin=$(realpath "$2")
# The project's version, which every part must carry, and the installer made with it.
VANTEL_VERSION=$(sed -n 's/^version=//p' "$bindir/package.env")
setup=$(sed -n 's/^setup=//p' "$bindir/package.env")
if [ ! -f "$setup" ]; then
    echo "windows-installer-test: no installer at '$setup'; make package-windows makes it" >&2
    exit 1
fi
source scripts/lib/wine.sh
source scripts/lib/ports.sh
source scripts/lib/checks.sh

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fresh_wine_prefix "$work/prefix"
start_wine_server
# An older release to upgrade from: the same programs under a lower version number.
older_version=0.0.1
older="$work/vantel-setup-$older_version.exe"
makensis -V1 -DVERSION=$older_version -DBINDIR="$bindir" -DSRCDIR="$PWD" -DOUTFILE="$older" \
    packaging/windows/vantel.nsi

free_ports=$(pick_ports 2)
read -r relay_port sink_port <<<"$free_ports"
installed="$WINEPREFIX/drive_c/Program Files/Vantel"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Vantel.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantel'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
settings_key='HKCU\Software\Raderador\Vantel\Settings'
machine_key='HKLM\Software\Raderador\Vantel'

reg_value() {  # reg_value KEY NAME: the data, or status 1 when there is no such value
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        awk -v name="$2" '$1 == name { $1 = ""; $2 = ""; sub(/^ +/, ""); print; found = 1 }
                          END { exit !found }'
}
has_key() { wine reg query "$1" >/dev/null 2>&1; }
# Only reg's own answer counts as absence: a query that fails for another reason (a Wine
# command slow to start on a busy machine) must not pass for an uninstall that is done.
no_key() {
    wine reg query "$1" >"$work/reg-query.txt" 2>&1 </dev/null
    grep -q 'Unable to find the specified registry key' "$work/reg-query.txt"
}
no_value() { ! reg_value "$1" "$2" >/dev/null; }
value_is() { [ "$(reg_value "$1" "$2")" = "$3" ]; }

install() {  # install ARGS...: a silent setup, with its exit status
    wine "$setup" /S "$@" >/dev/null 2>&1
}
install_older() { wine "$older" /S >/dev/null 2>&1; }
# The uninstaller copies itself away (Temp\~nsuN.tmp\Un.exe) and returns at once; done is
# when that copy has ended, having removed the uninstall entry as its last step.
uninstall_done() { ! pgrep -f 'nsu[0-9]*\.tmp.Un\.exe' >/dev/null && no_key "$uninstall_key"; }
uninstall() {  # uninstall ARGS...
    wine "$installed/uninstall.exe" /S "$@" >/dev/null 2>&1
    wait_until 60 uninstall_done
}
start_program() {
    wine "$installed/vantel.exe" >/dev/null 2>&1 &
    pids+=("$!")
}
program_running() { pgrep -f 'Vantel.vantel\.exe' >/dev/null; }
program_gone() { ! program_running; }
# Setup and the uninstaller ask the program to exit through its window, hidden as it is; a
# process still starting has none yet. The checks that follow say whether it was asked.
wait_for_window() { wait_until 30 xdotool search --name '^Vantel$' >/dev/null 2>&1 || true; }
service_state() { wine sc query VantelSrv 2>/dev/null | tr -d '\r' | awk '/STATE/ { print $4 }'; }
service_running() { [ "$(service_state)" = RUNNING ]; }
service_gone() { ! wine sc query VantelSrv >/dev/null 2>&1; }

# One SMTP entry in front of the sink; the tray program relays it while the service is off.
cat > "$work/settings.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings]
"DefaultPort"="$relay_port"
"ServersCount"="1"
"Servers0"="$relay_port $sink_port 0 -1 127.0.0.1"
"UseService"="0"
"KludgesCount"="1"
"Kludges0"="0 X-Mailer:"
"SubstCount"="1"
"Subst0"="0 Vantel installed"
REG
wine reg import "$(winepath -w "$work/settings.reg")" >/dev/null 2>&1

send_message() {  # one message through the relay; the sink writes it to $work/received.eml
    "$sink_bin" "$sink_port" 1 > "$work/received.eml" &
    local sink=$!
    pids+=("$sink")
    wait_for_port "$sink_port" && wait_for_port "$relay_port" || return 1
    exec 3<>"/dev/tcp/127.0.0.1/$relay_port"
    local reply
    for line in "" "EHLO client.example.org" "MAIL FROM:<a@example.org>" "RCPT TO:<b@example.org>" \
        "DATA"; do
        if [ -n "$line" ]; then printf '%s\r\n' "$line" >&3; fi
        IFS= read -r -t 10 reply <&3 || return 1
    done
    printf 'Subject: installed\r\nX-Mailer: Client 1.0\r\n\r\nHello.\r\n.\r\n' >&3
    IFS= read -r -t 10 reply <&3 || return 1
    printf 'QUIT\r\n' >&3 || true
    exec 3>&-
    wait_until 10 eval '! kill -0 '"$sink"' 2>/dev/null'
}

# --- A silent install of the older release into the fresh prefix.
check "silent setup succeeds" install_older
for file in vantel.exe vantel.srv vantel-cli.exe uninstall.exe LICENSE.txt; do
    check "$file is installed" test -f "$installed/$file"
done
check "Start-menu shortcut" test -f "$shortcut"
check "uninstall entry: name" value_is "$uninstall_key" DisplayName Vantel
check "uninstall entry: version" value_is "$uninstall_key" DisplayVersion "$older_version"
check "uninstall entry: publisher" value_is "$uninstall_key" Publisher Raderador
check "uninstall entry: icon" value_is "$uninstall_key" DisplayIcon 'C:\Program Files\Vantel\vantel.exe,0'
check "uninstall entry: quiet uninstall" value_is "$uninstall_key" QuietUninstallString \
    '"C:\Program Files\Vantel\uninstall.exe" /S'
size=$(reg_value "$uninstall_key" EstimatedSize || echo 0)
check "uninstall entry: a size in KiB" test "$((size))" -gt 100
check "starts at log-on" value_is "$run_key" Vantel '"C:\Program Files\Vantel\vantel.exe"'
for file in vantel.exe vantel.srv vantel-cli.exe; do
    check "$file carries the version" grep -qx "$VANTEL_VERSION" <(strings -el "$installed/$file")
done
check "vantel-cli.exe --version" test "$(wine "$installed/vantel-cli.exe" --version 2>/dev/null | tr -d '\r')" \
    = "vantel $VANTEL_VERSION"

# --- The installed program relays, with the user's settings.
start_program
check "installed vantel.exe relays a message" send_message
check "the message is rewritten" grep -q '^X-Mailer: *Vantel installed' "$work/received.eml"
check "the body arrives" grep -q '^Hello\.' "$work/received.eml"

# --- An upgrade over the running program: it exits through its Exit path, saving its
# settings (the value taken away here comes back), and the settings stay.
wine reg delete "$settings_key" /v KludgesCount /f >/dev/null 2>&1
check "upgrade succeeds over a running copy" install
check "the entry names the new version" value_is "$uninstall_key" DisplayVersion "$VANTEL_VERSION"
check "the running copy was asked to exit" program_gone
check "it saved its settings on the way" value_is "$settings_key" KludgesCount 1
check "settings kept by the upgrade" value_is "$settings_key" Servers0 "$relay_port $sink_port 0 -1 127.0.0.1"
check "files in place after the upgrade" test -f "$installed/vantel.exe"

# --- With the service in use: the tray program puts VantelSrv in and starts it; an upgrade
# stops it for the new files and starts it again; the uninstall takes it away.
wine reg add "$settings_key" /v UseService /d 1 /f >/dev/null 2>&1
start_program
check "the program starts the service" wait_until 30 service_running
check "upgrade succeeds with the service running" install
check "the service runs again after the upgrade" wait_until 30 service_running
check "the service relays after the upgrade" send_message
start_program
check "the program starts again" wait_until 10 program_running
wait_for_window
check "uninstall completes" uninstall
check "the uninstaller stopped the program" wait_until 10 program_gone
check "the uninstaller removed the service" service_gone
check "no file left" test ! -e "$installed"
check "no shortcut left" test ! -e "$shortcut"
check "no log-on start left" no_value "$run_key" Vantel
check "the user's settings stay" value_is "$settings_key" Servers0 "$relay_port $sink_port 0 -1 127.0.0.1"
check "the machine-wide copy stays" has_key "$machine_key"

# --- /NOAUTOSTART, then an uninstall that removes the settings too.
check "setup without log-on start" install /NOAUTOSTART
check "no log-on start asked, none made" no_value "$run_key" Vantel
check "upgrade without /NOAUTOSTART" install
check "the upgrade keeps the choice" no_value "$run_key" Vantel
user_logs=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')")/Vantel
mkdir -p "$user_logs" && echo "a line" > "$user_logs/vantel.log"
user_tokens=$(winepath -u "$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')")/Vantel/tokens
mkdir -p "$user_tokens" && echo "sealed" > "$user_tokens/microsoft-a@example.test"
check "uninstall removing the settings" uninstall /REMOVESETTINGS
check "the user's logs are gone" test ! -e "$user_logs"
check "the user's sign-ins are gone" test ! -e "$user_tokens"
# A reg that fails to start on a busy machine is asked again rather than taken at its word.
check "the user's settings are gone" wait_until 10 no_key 'HKCU\Software\Raderador'
check "the machine-wide copy is gone" wait_until 10 no_key "$machine_key"
check "no file left the second time" test ! -e "$installed"

# --- Through the pages as a user goes: Enter on each (Next, I Agree, Install, Finish), with
# "Start Vantel now" left ticked.
wine "$setup" >/dev/null 2>&1 &
setup_shown() { xdotool search --onlyvisible --name '^Vantel Setup' >/dev/null 2>&1; }
check "setup shows its pages" wait_until 30 setup_shown
for _ in $(seq 40); do
    setup_shown || break
    # No window manager here: setup's window has the keyboard focus by itself.
    xdotool key Return >/dev/null 2>&1 || true
    sleep 1
done
check "the pages lead to the end" eval '! setup_shown'
check "installed through the pages" test -f "$installed/vantel.exe"
check "Finish starts the program" wait_until 20 program_running
wait_for_window
check "log-on start by default" value_is "$run_key" Vantel '"C:\Program Files\Vantel\vantel.exe"'
check "uninstall after the pages" uninstall /REMOVESETTINGS
check "the started program was stopped" wait_until 10 program_gone

echo "windows installer: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
