#!/usr/bin/env bash
# Keeps the core portable and layered. No file under src/core, nor any command of src/cli
# (all but its main.cpp, which picks the platform's backends), may include a platform backend
# (platform/posix, platform/win32, platform/bsd), a program (tray, service, daemon), or a
# Windows or POSIX system header: everything they need from the system comes through the
# interfaces in src/platform. Inside the core, a folder includes only its own layer and those
# below it: config < notice, rewrite, oauth < protocol < relay < app. Prints one line per offending
# include and fails if there is any.
# Usage: check-layers.sh [DIR...]   (default: src/core src/cli)
set -euo pipefail
cd "$(dirname "$0")/.."
roots=("$@")
if [ "${#roots[@]}" -eq 0 ]; then
    roots=(src/core src/cli)
fi

files=()
for root in "${roots[@]}"; do
    mapfile -d '' found < <(find "$root" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.inl' \
        -o -name '*.cpp' -o -name '*.cc' \) ! -path '*/cli/main.cpp' -print0 | sort -z)
    if [ "${#found[@]}" -eq 0 ]; then
        echo "check-layers: no sources under $root" >&2
        exit 2
    fi
    files+=("${found[@]}")
done

awk '
    BEGIN {
        rank["config"] = 0; rank["notice"] = 1; rank["rewrite"] = 1; rank["oauth"] = 1
        rank["protocol"] = 2
        rank["relay"] = 3; rank["app"] = 4
    }
    # The core layer a path lies in ("src/core/relay/X.h", "core/relay/X.h", "relay/X.h"), or "".
    function layer(path,    parts, n, i) {
        n = split(path, parts, "/")
        for (i = 1; i < n; ++i) {
            if (parts[i] in rank) {
                return parts[i]
            }
        }
        return ""
    }
    FNR == 1 {
        own = layer(FILENAME)
        who = FILENAME ~ /(^|\/)cli\// ? "the command line" : "the core"
    }
    # Both include forms, with any blanks around "#".
    match($0, /^[ \t]*#[ \t]*include[ \t]*[<"][^>"]+[>"]/) {
        included = substr($0, RSTART, RLENGTH)
        sub(/^[ \t]*#[ \t]*include[ \t]*/, "", included)
        # Relative spellings ("../../platform/win32/X.h", "src/tray/X.h") name the same file.
        path = tolower(substr(included, 2, length(included) - 2))
        while (sub(/^\.\.?\//, "", path) || sub(/^src\//, "", path)) {
        }
        what = ""
        if (path ~ /^platform\/(posix|win32|bsd)\//) {
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
            printf "%s:%d: %s includes %s, %s; go through src/platform or src/core/app\n", \
                FILENAME, FNR, who, included, what
            bad = 1
            next
        }
        if (own != "" && path ~ /^(core\/)?[a-z]+\// && path !~ /^platform\//) {
            other = layer(path)
            if (other != "" && other != own && rank[other] >= rank[own]) {
                printf "%s:%d: %s includes %s, of the layer %s, which is not below it (config < notice, rewrite, oauth < protocol < relay < app)\n", \
                    FILENAME, FNR, own, included, other
                bad = 1
            }
        }
    }
    END { exit bad }
' "${files[@]}"
