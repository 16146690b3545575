#!/usr/bin/env bash
# scripts/check-resource-scripts.sh: a resource script among the formatter's files fails, a
# reflowed one fails at each run-together line, and hand-laid ones pass.
set -uo pipefail
check=$(cd "$(dirname "$0")/../.." && pwd)/scripts/check-resource-scripts.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
    echo "FAILED: $*" >&2
    failed=1
}

mkdir -p "$work/hand" "$work/reflowed"
cat > "$work/hand/Page.rc" <<'RC'
// The page. Its caption reads "BEGIN the END" and STYLE in a comment changes nothing.
IDD_PAGE DIALOGEX 0, 0, 193, 137
STYLE DS_SETFONT | DS_CONTROL | WS_CHILD
CAPTION "FONT and STYLE BEGIN"
FONT 8, "MS Shell Dlg"
BEGIN
    CONTROL "", 1010, "SysListView32",
            LVS_REPORT | WS_BORDER, 7, 7, 179, 123
    LTEXT "Send END", -1, 7, 118, 84, 8  // BEGIN
END
RC
out=$("$check" --rc-root "$work/hand" src/a.cpp src/b.h 2>&1) || fail "hand-laid scripts are refused: $out"
[ -z "$out" ] || fail "hand-laid scripts print: $out"

out=$("$check" --rc-root "$work/hand" src/a.cpp src/tray/vantel.rc 2>&1) &&
    fail "a resource script for the formatter passes"
grep -q '^src/tray/vantel.rc: ' <<<"$out" || fail "the script for the formatter is not named: $out"

cat > "$work/reflowed/Page.rc" <<'RC'
// The page.
IDD_PAGE DIALOGEX 0, 0, 193, 137 STYLE DS_SETFONT | DS_CONTROL | WS_CHILD FONT 8,
    "MS Shell Dlg" BEGIN CONTROL "", 1010, "SysListView32",
    LVS_REPORT | WS_BORDER, 7, 7, 179, 123 END
RC
out=$("$check" --rc-root "$work/reflowed" 2>&1) && fail "a reflowed script passes"
got_lines=$(sed -n 's/^.*Page\.rc:\([0-9]*\): .*$/\1/p' <<<"$out" | tr '\n' ' ')
[ "$got_lines" = "2 3 4 " ] || fail "reported lines '$got_lines', expected '2 3 4 ':"$'\n'"$out"

[ "$failed" -eq 0 ] && echo "check-resource-scripts: all cases pass"
exit "$failed"
