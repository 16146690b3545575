#!/usr/bin/env bash
# Screenshots of the tray program under Xvfb, for the README: the open tray menu and two of
# its submenus. Writes docs/images/tray-*.png. Needs `make build-windows` first.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 800x600x24" "$0" "$@"
fi

source scripts/lib/wine.sh
bin=build/windows
out=docs/images
mkdir -p "$out"
work=$(mktemp -d)
trap 'wine "$bin/vantel-poke.exe" command 32773 >/dev/null 2>&1 || true; wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
fresh_wine_prefix "$work/prefix"
start_wine_server

# Two SMTP and two POP3 accounts on the default ports, and two schemas. Ports away from the
# well-known ones, so nothing else on this machine holds them.
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
"Servers3"="1110 110 1 -1 pop.example.net"
"Servers4"="1119 119 0 -1 news.example.org"
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
xdotool key Escape
