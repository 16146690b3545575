# What the benchmark scripts share to sum up their runs. Source it.
median() {  # median "V1 V2 ...": the middle value, or the mean of the middle two
    tr -s ' ' '\n' <<<"$1" | grep . | sort -g | awk '{v[NR] = $1}
        END {if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "-"}'; }
