#!/usr/bin/env bash
# Keeps the core portable: no file under src/core may include a platform backend
# (platform/posix, platform/win32), a program (tray, service, daemon), or a Windows or POSIX
# system header. Everything the core needs from the system comes through the interfaces in
# src/platform. Prints one line per offending include and fails if there is any.
# Usage: check-layers.sh [DIR]   (DIR defaults to src/core)
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-src/core}

mapfile -d '' files < <(find "$root" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.inl' \
    -o -name '*.cpp' -o -name '*.cc' \) -print0 | sort -z)
if [ "${#files[@]}" -eq 0 ]; then
    echo "check-layers: no sources under $root" >&2
    exit 2
fi

awk '
    # Both include forms, with any blanks around "#".
    match($0, /^[ \t]*#[ \t]*include[ \t]*[<"][^>"]+[>"]/) {
        included = substr($0, RSTART, RLENGTH)
        sub(/^[ \t]*#[ \t]*include[ \t]*/, "", included)
        # Relative spellings ("../../platform/win32/X.h", "src/tray/X.h") name the same file.
        path = tolower(substr(included, 2, length(included) - 2))
        while (sub(/^\.\.?\//, "", path) || sub(/^src\//, "", path)) {
        }
        what = ""
        if (path ~ /^platform\/(posix|win32)\//) {
            what = "a platform backend"
        } else if (path ~ /^(tray|service|daemon)\//) {
            what = "a program"
        } else if (path ~ /^(win[a-z0-9_]*|ws2[a-z0-9_]*|mswsock|commctrl|shellapi|tchar)\.h$/) {
            what = "a Windows header"
        } else if (path ~ /^(unistd|pthread|fcntl|netdb|poll|dirent|dlfcn|termios|syslog|pwd|grp)\.h$/ ||
                   path ~ /^(sys|netinet|arpa|net)\//) {
            what = "a POSIX header"
        }
        if (what != "") {
            printf "%s:%d: the core includes %s, %s; go through src/platform or src/core/app\n", \
                FILENAME, FNR, included, what
            bad = 1
        }
    }
    END { exit bad }
' "${files[@]}"
