# Wine prefix helpers for the scripts (sourced, not run).

export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64

# fresh_wine_prefix DIR: makes DIR a new Wine prefix, copied from a template made once under
# build/ (creating a prefix takes about 15 s, copying one a second). Exports WINEPREFIX.
fresh_wine_prefix() {
    local template="$PWD/build/wine-template"
    if [ ! -f "$template/system.reg" ]; then
        rm -rf "$template"
        echo "Preparing a Wine prefix (once)..."
        WINEPREFIX="$template" wineboot -i >/dev/null 2>&1 || true
        WINEPREFIX="$template" wineserver -w
    fi
    cp -a "$template" "$1"
    export WINEPREFIX="$1"
}

# start_wine_server: keeps one Wine server up for the commands that follow, and starts Wine's
# background services now, detached from our output (they outlive every command and would
# hold its pipes open).
start_wine_server() {
    wineserver -p
    wine cmd /c exit >/dev/null 2>&1 </dev/null
}
