# Loopback port helpers for the scripts (sourced, not run).

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# pick_ports N: prints N distinct ports that were free a moment ago, below the ephemeral
# range so that no client connection holds one by chance. All in one call: picks made in
# separate command substitutions cannot see each other.
pick_ports() {
    local want=$1 picked=() p
    for _ in $(seq $((want * 50))); do
        p=$((20000 + RANDOM % 12000))
        if [[ " ${picked[*]} " != *" $p "* ]] && port_free "$p"; then
            picked+=("$p")
            if [ ${#picked[@]} -eq "$want" ]; then
                echo "${picked[*]}"
                return 0
            fi
        fi
    done
    echo "no $want free ports found" >&2
    return 1
}

# wait_for_port PORT: until something listens there (10 s at most).
wait_for_port() {
    for _ in $(seq 200); do
        if ! port_free "$1"; then return 0; fi
        sleep 0.05
    done
    echo "nothing listens on port $1" >&2
    return 1
}
