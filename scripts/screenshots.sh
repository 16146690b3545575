#!/usr/bin/env bash
# Screenshots of the tray program under Xvfb, for the README: the open tray menu and two of
# its submenus, every page of the Options dialog with its editor, the server editor with an
# OAuth 2.0 sign-in and its Advanced settings, the whole screen with the Options dialog and
# an editor open, the Schemes dialog, the About box, a notice, and the tray menu offering a
# sign-in. Writes docs/images/*.png. Needs `make build-windows` first.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

source scripts/lib/wine.sh
source scripts/lib/ports.sh
bin=build/windows
out=docs/images
mkdir -p "$out"
work=$(mktemp -d)
trap 'wine "$bin/vantel-poke.exe" command 32773 >/dev/null 2>&1 || true; wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
fresh_wine_prefix "$work/prefix"
start_wine_server

# Two SMTP and two POP3 accounts on the default ports (one of each reached over TLS), and two
# schemas. Ports away from the well-known ones, so nothing else on this machine holds them.
cat > "$work/settings.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\SOFTWARE\Raderador\Vantel\Settings]
"DefaultPort"="2525"
"DefaultPOPPort"="1110"
"DefaultServer"="0"
"DefaultPOPServer"="2"
"POPCycleChange"="1"
"UseService"="0"
"DefaultSchema"="1"
"SchemesCount"="2"
"Schemes0"="Home"
"Schemes1"="Travel"
"ServersCount"="5"
"Servers0"="2525 25 0 -1 smtp.example.org"
"Servers1"="2525 587 0 -1 mail.example.net"
"Servers2"="1110 110 1 -1 pop.example.org"
"Servers3"="1110 995 1 -1 pop.example.net"
"Servers4"="1119 119 0 -1 news.example.org"
"ServerSecurity1"="2"
"ServerSecurity3"="1"
"KludgesCount"="3"
"Kludges0"="0 X-Mailer:"
"Kludges1"="0 Organization:"
"Kludges2"="1 X-Spam-Score:"
"SubstCount"="3"
"Subst0"="0 Vantel"
"Subst1"="1 "
"Subst2"="2 C:\\mail\\scores.txt"
"SignalStrCount"="1"
"SignalStr0"="Ticket:"
"SpecialKludgesCount"="1"
"SpecialKludges0"="# X-Ticket:"
REG
# The schema "Home" is current and holds the same servers.
sed -e 's/\\Settings]/\\Settings\\Home]/' -e '/Schem/d' "$work/settings.reg" | tail -n +3 \
    >> "$work/settings.reg"
wine reg import "$(winepath -w "$work/settings.reg")" >/dev/null 2>&1

wine "$bin/vantel.exe" >/dev/null 2>&1 &
for _ in $(seq 100); do
    wine "$bin/vantel-poke.exe" find >/dev/null 2>&1 && break
    sleep 0.2
done
sleep 1

# The menu opens at the cursor; items are 17 pixels high at 96 dpi. A click on a submenu's
# item opens it.
x=60 y=60 row=17
shot() {
    sleep 1.5
    import -window root -crop 420x240+0+0 +repage "$out/$1"
    echo "wrote $out/$1"
}
wine "$bin/vantel-poke.exe" menu $x $y
xdotool mousemove $((x + 30)) $((y + row / 2))
shot tray-menu.png
xdotool mousemove $((x + 30)) $((y + row * 2 + row / 2)) sleep 0.5 \
    mousemove $((x + 34)) $((y + row * 2 + row / 2)) sleep 0.5 click 1
shot tray-menu-pop.png
xdotool mousemove $((x + 30)) $((y + row * 4 + row / 2)) click 1
shot tray-menu-schema.png
xdotool key Escape sleep 0.3 key Escape  # the submenu, then the menu
sleep 1

# The dialogs. Windows have no frames here (no window manager): each is shot on its own.
window_shot() {
    local id
    for _ in $(seq 50); do
        id=$(xdotool search ${visible_only:+--onlyvisible} --name "^$1\$" 2>/dev/null | tail -1) &&
            [ -n "$id" ] && break
        sleep 0.2
    done
    if [ -z "$id" ]; then
        echo "screenshots: no window \"$1\" appeared" >&2
        return 1
    fi
    sleep 1
    import -window "$id" "$out/$2"
    echo "wrote $out/$2"
    shot_title=$1
}
# Cancel in the window shot last (keys may not reach it: there is no window manager).
close_shot() {
    wine "$bin/vantel-poke.exe" cancel "$shot_title"
    sleep 1
}
geometry() {  # prints X Y of the window named $1
    xdotool search --name "^$1\$" getwindowgeometry --shell | tail -n +2 | head -2 |
        cut -d= -f2 | tr '\n' ' '
}
# Dialog units of "MS Shell Dlg" 8 at 96 dpi: 1.5 pixels across, 1.625 down.
wine "$bin/vantel-poke.exe" command 32771
window_shot Options options-servers.png
read -r ox oy <<<"$(geometry Options)"
list_x=$((ox + 150)) list_y=$((oy + 130))
editor() {  # right click on the page's list opens its editor; $3: a shot of the whole screen
    xdotool mousemove $list_x $list_y sleep 0.3 mousedown 3 sleep 0.2 mouseup 3
    window_shot "$1" "$2"
    if [ -n "${3:-}" ]; then
        import -window root -resize 50% "$out/$3"
        echo "wrote $out/$3"
    fi
    close_shot
}
# Where the dialogs open: Options in the middle of the screen, its editor over its middle.
editor "Server Settings" server-settings.png placement.png
# Tab headers, from the left: Servers, Kludges, Special, General Settings (Wine's fonts).
tab_x=(40 96 150 230)
index=0
for page in kludges signals general; do
    index=$((index + 1))
    # The first click after an editor closed only focuses the tab control here; the second
    # selects (a click on the selected tab changes nothing).
    for _ in 1 2; do
        xdotool mousemove $((ox + tab_x[index])) $((oy + 18)) sleep 0.3 mousedown 1 sleep 0.2 mouseup 1
        sleep 0.5
    done
    window_shot Options "options-$page.png"
    case $page in
        kludges) editor "Set Kludge" set-kludge.png ;;
        signals) editor "Set Kludge" signal-kludge.png ;;
    esac
done
xdotool key alt+s
window_shot Schemes schemes.png
close_shot
window_shot Options options-general.png  # the Options dialog again, to close it
# Back on the Servers page, the editor once more, for the Advanced sign-in settings of a
# Microsoft entry: the Method list (its second item) and the Advanced button, at their places
# in the editor (X: 1.75 pixels a dialog unit here, Y: 1.625).
for _ in 1 2; do
    xdotool mousemove $((ox + tab_x[0])) $((oy + 18)) sleep 0.3 mousedown 1 sleep 0.2 mouseup 1
    sleep 0.5
done
# The first click after an editor closed only gives the list the focus.
for _ in 1 2; do
    xdotool mousemove $list_x $list_y sleep 0.3 mousedown 3 sleep 0.2 mouseup 3
    sleep 1
    xdotool search --onlyvisible --name "^Server Settings\$" >/dev/null 2>&1 && break
done
sleep 1
read -r sx sy <<<"$(geometry "Server Settings")"
xdotool mousemove $((sx + 224)) $((sy + 383)) click 1 sleep 0.5
xdotool mousemove $((sx + 224)) $((sy + 414)) click 1 sleep 0.5
window_shot "Server Settings" server-settings-oauth.png
xdotool mousemove $((sx + 282)) $((sy + 489)) click 1
window_shot "Advanced Sign-in Settings" oauth-advanced.png
close_shot
wine "$bin/vantel-poke.exe" cancel "Server Settings"
sleep 1
shot_title=Options
close_shot
wine "$bin/vantel-poke.exe" command 16
window_shot "About Vantel" about.png
close_shot

# A notice: an entry whose server does not answer, and a client at its local port. The
# program reads its settings when it starts, so it ends and starts again with the entry.
wine "$bin/vantel-poke.exe" command 32773
for _ in $(seq 100); do
    wine "$bin/vantel-poke.exe" find >/dev/null 2>&1 || break
    sleep 0.2
done
read -r local closed <<<"$(pick_ports 2)"
{
    echo 'Windows Registry Editor Version 5.00'
    for key in 'Settings' 'Settings\Home'; do
        echo
        printf '[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\%s]\n' "$key"
        echo '"ServersCount"="7"'
        echo "\"Servers5\"=\"$local $closed 0 -1 127.0.0.1\""
        # An OAuth 2.0 entry nobody has signed in yet: the tray menu offers its sign-in.
        echo '"Servers6"="1143 993 2 -1 outlook.office365.com"'
        echo '"ServerSecurity6"="1"'
        echo '"ServerSignIn6"="1"'
        echo '"ServerOAuthProvider6"="microsoft"'
        echo '"ServerOAuthAccount6"="alice@example.org"'

    done
} > "$work/notice.reg"
wine reg import "$(winepath -w "$work/notice.reg")" >/dev/null 2>&1
wine "$bin/vantel.exe" >/dev/null 2>&1 &
wait_for_port "$local"
exec 3<>"/dev/tcp/127.0.0.1/$local"
# The box has the caption of the hidden main window: the shown one is the box.
visible_only=1 window_shot Vantel notice.png
close_shot
exec 3<&-

# The tray menu once more, now with the sign-in the OAuth 2.0 entry needs at its top.
sleep 2
wine "$bin/vantel-poke.exe" menu $x $y
xdotool mousemove $((x + 30)) $((y + row / 2))
shot tray-menu-sign-in.png
xdotool key Escape
sleep 1
