# Helpers of the tests written in bash; sourced by them.

# freePort: prints a loopback TCP port nothing listens on, below the kernel's range of
# ephemeral ports, so that no connection and no server on port 0 takes it meanwhile.
freePort() {
    local candidate ephemeral
    read -r ephemeral _ </proc/sys/net/ipv4/ip_local_port_range
    for candidate in $(shuf -i 10000-$((ephemeral - 1)) -n 50); do
        if [ -z "$(ss -ltnH "sport = :$candidate")" ]; then
            echo "$candidate"
            return 0
        fi
    done
    return 1
}

# waitFor SECONDS COMMAND...: runs COMMAND every tenth of a second until it succeeds; false
# when it never did.
waitFor() {
    local tries=$(($1 * 10))
    shift
    for _ in $(seq "$tries"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
