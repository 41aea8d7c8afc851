# Helpers of the tests written in bash; sourced by them.

# freePort: prints a loopback TCP port nothing listens on.
freePort() {
    local candidate
    for candidate in $(shuf -i 20000-60999 -n 50); do
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
