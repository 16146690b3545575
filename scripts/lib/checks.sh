# What the end-to-end scripts share: named checks that are counted, and waiting for a
# condition. Source it; `passed` and `failed` hold the counts.
passed=0
failed=0
check() {  # check NAME COMMAND...
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $name" >&2
    fi
}
wait_until() {  # wait_until SECONDS COMMAND...
    local tries=$(($1 * 20))
    shift
    for _ in $(seq "$tries"); do
        "$@" && return 0
        sleep 0.05
    done
    return 1
}
