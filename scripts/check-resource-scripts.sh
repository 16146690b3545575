#!/usr/bin/env bash
# Resource scripts are laid out by hand: the formatter must never get one, and one it has
# reflowed shows as statements run together on a line.
# Usage: check-resource-scripts.sh [--rc-root DIR] [FILE...]
#   FILE...  the files handed to clang-format; any .rc among them fails the check.
#   DIR      where the .rc files are (defaults to src).
# Prints one line per offence and fails if there is any.
set -euo pipefail
cd "$(dirname "$0")/.."
root=src
if [ "${1:-}" = "--rc-root" ]; then
    root=$2
    shift 2
fi

bad=0
for file in "$@"; do
    case "$file" in
        *.rc | *.RC)
            echo "$file: a resource script among the files for clang-format"
            bad=1
            ;;
    esac
done

mapfile -d '' scripts < <(find "$root" -type f -iname '*.rc' -print0 | sort -z)
if [ "${#scripts[@]}" -gt 0 ]; then
    # With comments and texts left out: BEGIN and END stand alone, a template's header line
    # ends with its place and size, and STYLE, EXSTYLE, CAPTION and FONT each start a line.
    awk '
        {
            line = $0
            gsub(/"[^"]*"/, "\"\"", line)
            sub(/\/\/.*$/, "", line)
        }
        line ~ /(^|[^A-Za-z_])(BEGIN|END)([^A-Za-z_]|$)/ && line !~ /^[ \t]*(BEGIN|END)[ \t]*$/ {
            printf "%s:%d: BEGIN or END shares its line\n", FILENAME, FNR
            bad = 1
            next
        }
        line ~ /[^ \t][ \t]+(STYLE|EXSTYLE|CAPTION|FONT)([ \t]|$)/ {
            printf "%s:%d: a template statement does not start its line\n", FILENAME, FNR
            bad = 1
            next
        }
        line ~ /[ \t]DIALOG(EX)?[ \t]/ && line !~ /[ \t]DIALOG(EX)?[ \t][0-9, \t]*$/ {
            printf "%s:%d: a template header holds more than its place and size\n", FILENAME, FNR
            bad = 1
        }
        END { exit bad }
' "${scripts[@]}" || bad=1
fi
exit "$bad"
