# Shared steps of the installation tests; sourced by them.
. "$(dirname "${BASH_SOURCE[0]}")/../support/shell.sh"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# check_tree ROOT PREFIX: the menu entry, the units and the launcher of a tree installed (or
# unpacked) in ROOT for the prefix PREFIX.
check_tree() {
    local root=$1 prefix=$2
    local desktop=$root$prefix/share/applications/recognizer.desktop
    desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
    grep -qx "Exec=$prefix/libexec/recognizer/recognizer-local" "$desktop" ||
        fail "the menu entry does not start the launcher: $(grep '^Exec=' "$desktop")"
    grep -qx "Icon=recognizer" "$desktop" || fail "the menu entry has no icon"
    [ -s "$root$prefix/share/icons/hicolor/scalable/apps/recognizer.svg" ] || fail "no icon"
    grep -q '<svg' "$root$prefix/share/icons/hicolor/scalable/apps/recognizer.svg" || fail "icon not SVG"
    grep -qx "tool=\"$prefix/bin/recognizer\"" "$root$prefix/libexec/recognizer/recognizer-local" ||
        fail "the launcher does not start the installed tool"
    [ -x "$root$prefix/libexec/recognizer/recognizer-local" ] || fail "launcher not executable"
    zcat "$root$prefix/share/man/man1/recognition-service.1.gz" | grep -q '^\.TH RECOGNITION-SERVICE 1' ||
        fail "no manual page for recognition-service"

    # systemd checks that ExecStart names an executable: for a tree unpacked elsewhere, point
    # the copies of the units at it.
    local units=$work/units
    rm -rf "$units" && mkdir -p "$units" "$work/runtime"
    chmod 700 "$work/runtime"
    cp "$root$prefix/lib/systemd/user/recognition-service.socket" "$units/"
    sed "s|^ExecStart=$prefix/|ExecStart=$root$prefix/|" \
        "$root$prefix/lib/systemd/user/recognition-service.service" >"$units/recognition-service.service"
    grep -q "^ExecStart=$root$prefix/bin/recognition-service " "$units/recognition-service.service" ||
        fail "the service unit does not start the installed service"
    XDG_RUNTIME_DIR=$work/runtime systemd-analyze --user --man=no verify \
        "$units/recognition-service.socket" "$units/recognition-service.service" ||
        fail "systemd-analyze verify"
}

# fetch_token PORT AUTHORITY: an access token for the tool's built-in client from the service
# on 127.0.0.1:PORT, its certificate checked against AUTHORITY; empty when none came.
fetch_token() {
    curl -sS --cacert "$2" --max-time 20 -d grant_type=client_credentials \
        -d client_id=Qk3TzW8vLhN2pYs6GdXe4RaJ -d client_secret=h4JwP9sKe2VxT7mQc5RbN8yLd3GzU6fA \
        "https://127.0.0.1:$1/oauth/2.0/token" | sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p'
}

# start_service PROGRAM STATE_DIR: starts the service on a free loopback port; sets
# service_pid, port and authority.
start_service() {
    "$1" --listen 127.0.0.1:0 --state-dir "$2" >"$work/service.out" 2>"$work/service.log" &
    service_pid=$!
    for _ in $(seq 1 300); do
        authority=$(sed -n 's/^certificate authority: //p' "$work/service.out")
        [ -n "$authority" ] && break
        kill -0 "$service_pid" 2>/dev/null || fail "the service ended: $(cat "$work/service.log")"
        sleep 0.1
    done
    [ -n "$authority" ] || fail "the service did not announce itself"
    port=$(sed -n 's|^listening on https://127.0.0.1:||p' "$work/service.out")
}

# stop_service: SIGTERM, then the service must end with status 0.
stop_service() {
    kill -TERM "$service_pid"
    local status=0
    wait "$service_pid" || status=$?
    [ "$status" -eq 0 ] || fail "the service ended with status $status after SIGTERM"
}

# wait_for_log PATTERN: waits up to 20 s for a line of the service's request log.
wait_for_log() {
    waitFor 20 grep -q -- "$1" "$work/service.log" ||
        fail "no '$1' in the service's log: $(cat "$work/service.log")"
}


# activate PORT ARGS...: listens on 127.0.0.1:PORT as systemd does and starts the service
# (ARGS) on the first connection, handing it the listening socket; sets service_pid.
activate() {
    local port=$1
    shift
    systemd-socket-activate -l "127.0.0.1:$port" -E XDG_STATE_HOME -- "$@" \
        >"$work/service.out" 2>"$work/service.log" &
    service_pid=$!
    for _ in $(seq 1 100); do
        [ -n "$(ss -ltnH "sport = :$port")" ] && return 0
        sleep 0.1
    done
    fail "systemd-socket-activate does not listen on $port: $(cat "$work/service.log")"
}

# wait_for_exit SECONDS: the service must end by itself within SECONDS, with status 0.
wait_for_exit() {
    for _ in $(seq 1 $(($1 * 10))); do
        kill -0 "$service_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$service_pid" 2>/dev/null && fail "the service did not stop by itself within $1 s"
    local status=0
    wait "$service_pid" || status=$?
    service_pid=""
    [ "$status" -eq 0 ] || fail "the service ended with status $status: $(cat "$work/service.log")"
}
