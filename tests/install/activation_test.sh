#!/usr/bin/env bash
# Socket activation as systemd does it (systemd-socket-activate: LISTEN_FDS, LISTEN_PID): the
# service starts on the first connection, takes the socket it is handed instead of binding,
# answers, and stops by itself after its idle time.
#   activation_test.sh SERVICE
set -euo pipefail
service=$1
work=$(mktemp -d)
service_pid=""
cleanup() {
    [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/common.sh"

port=$(freePort) || fail "no free port"
state=$work/state
activate "$port" "$service" --state-dir "$state" --exit-idle 2
[ -e "$state/ca.pem" ] && fail "the service ran before the first connection"

# The first connection starts it; it makes its authority before it answers.
(exec 3<>"/dev/tcp/127.0.0.1/$port") || fail "no connection to the handed socket"
waitFor 10 test -s "$state/ca.pem" || fail "no certificate authority after the first connection"
[ -n "$(fetch_token "$port" "$state/ca.pem")" ] || fail "no token on the handed socket"
grep -q "^listening on https://127.0.0.1:$port" "$work/service.out" ||
    fail "the service did not announce the handed socket: $(cat "$work/service.out")"

# Idle for 2 s: it stops by itself, with status 0.
wait_for_exit 15
echo "socket activation: answered on the handed socket, stopped after its idle time"
