#!/usr/bin/env bash
# Screenshots of the Windows installer and uninstaller pages under Xvfb, for the README:
# writes docs/images/setup-*.png and uninstall-*.png. Needs `make package-windows` first.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

source scripts/lib/wine.sh
setup=$(sed -n 's/^setup=//p' build/windows/package.env)
out=docs/images
mkdir -p "$out"
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
fresh_wine_prefix "$work/prefix"
start_wine_server

window_of() {  # window_of TITLE: the X window id, once it is shown (30 s at most)
    for _ in $(seq 150); do
        if id=$(xdotool search --onlyvisible --name "^$1 *\$" 2>/dev/null | head -n 1) &&
            [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.2
    done
    echo "no window '$1' appeared; shown are:" >&2
    xdotool search --onlyvisible --name . getwindowname %@ >&2 || true
    return 1
}
shot() {  # shot WINDOW FILE: the window as it is now, after it has settled
    sleep 1.5
    import -window "$1" "$out/$2"
    echo "$out/$2"
}
# No window manager under Xvfb: the wizard's window has the keyboard focus by itself.
next() {  # next: the page's default button (Next, I Agree, Install)
    xdotool key Return
}

wine "$(realpath "$setup")" >/dev/null 2>&1 &
id=$(window_of "Vantel Setup")
shot "$id" setup-welcome.png
next
shot "$id" setup-licence.png
next
shot "$id" setup-components.png
next
shot "$id" setup-folder.png
next
sleep 3  # the files go in
shot "$id" setup-installed.png
next
shot "$id" setup-finish.png
# Finish without starting the program: the box is ticked by default and has the focus last.
xdotool key space sleep 0.3 key Return
sleep 2

installed="$WINEPREFIX/drive_c/Program Files/Vantel"
wine "$installed/uninstall.exe" >/dev/null 2>&1 &
id=$(window_of "Vantel Uninstall")
shot "$id" uninstall-confirm.png
next
shot "$id" uninstall-settings.png
xdotool key Escape
