# What the benchmark scripts share to sum up their runs. Source it.
median() {  # median "V1 V2 ...": the middle value, or the mean of the middle two
    tr -s ' ' '\n' <<<"$1" | grep . | sort -g | awk '{v[NR] = $1}
        END {if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
round() { awk -v v="$1" 'BEGIN {if (v == "-" || v == "") print "-"; else printf "%.3g", v}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "-"}'; }
# The CPU time (utime + stime), in ns, of a process and every thread it has had: the live
# threads' from their schedstat (ns), the ended ones' from the clock ticks the process keeps.
cpu_ns() {
    local pid=$1
    awk -v hz="$(getconf CLK_TCK)" -v whole="/proc/$pid/stat" '
        FILENAME == whole {total = $14 + $15; next}
        FILENAME ~ /schedstat$/ {live += $1; next}
        {liveTicks += $14 + $15}
        END {printf "%.0f\n", live + (total - liveTicks) * 1e9 / hz}' \
        "/proc/$pid/stat" /proc/"$pid"/task/*/stat /proc/"$pid"/task/*/schedstat 2>/dev/null ||
        echo 0
}
