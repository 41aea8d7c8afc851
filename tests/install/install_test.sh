#!/usr/bin/env bash
# `cmake --install` into a scratch prefix, and the installed tool and service used from there
# as a user would: nothing of the build or source tree in any installed file, a valid menu
# entry and units, and the installed tool fetching its token from the installed service.
#   install_test.sh BUILD_DIR SOURCE_DIR PLATE_PICTURE
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
plate_picture=$3
work=$(mktemp -d)
tool_pid=""
service_pid=""
cleanup() {
    [ -n "$tool_pid" ] && kill "$tool_pid" 2>/dev/null
    [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/common.sh"

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.out" || fail "cmake --install"
for program in bin/recognizer bin/recognition-service; do
    [ -x "$prefix/$program" ] || fail "$program not installed"
done
if grep -rlF -e "$build" -e "$source" "$prefix" >"$work/leaks"; then
    fail "installed files name the build or source tree: $(cat "$work/leaks")"
fi
# Debug information names the trees the objects were compiled in, whichever they were.
for program in bin/recognizer bin/recognition-service; do
    if readelf -S "$prefix/$program" | grep -q '\.debug_info'; then
        fail "$program is installed with its debug information"
    fi
done
check_tree "" "$prefix"

start_service "$prefix/bin/recognition-service" "$work/state"
SSL_CERT_FILE=$authority RECOGNIZER_HOST=127.0.0.1:$port QT_QPA_PLATFORM=offscreen \
    "$prefix/bin/recognizer" >"$work/tool.out" 2>&1 &
tool_pid=$!
wait_for_log " POST /oauth/2.0/token 200 "
kill -0 "$tool_pid" 2>/dev/null || fail "the installed tool ended: $(cat "$work/tool.out")"

# The installed service reads a plate with the installed model (found through the prefix).
token=$(fetch_token "$port" "$authority")
[ -n "$token" ] || fail "no token from the installed service"
base64 -w0 "$plate_picture" >"$work/picture.b64"
answer=$(curl -sS --cacert "$authority" --max-time 60 --data-urlencode "image@$work/picture.b64" \
    "https://127.0.0.1:$port/rest/2.0/ocr/v1/license_plate?access_token=$token")
[[ "$answer" == *'"plate":{"number":"'* ]] || fail "the installed service read no plate: $answer"
kill -TERM "$tool_pid"
status=0
wait "$tool_pid" || status=$?
tool_pid=""
[ "$status" -eq 143 ] || fail "the tool ended with status $status on SIGTERM (143 expected)"
stop_service
service_pid=""
echo "installed tool and service: token fetched, both stopped cleanly"

# The menu entry's way, in a fresh account with nothing configured: the launcher starts the
# tool against 127.0.0.1:8443, where the user unit's command is socket-activated.
if [ -n "$(ss -ltnH 'sport = :8443')" ]; then
    echo "127.0.0.1:8443 is in use: the launcher's run is left out"
    exit 0
fi
export XDG_STATE_HOME=$work/account-state
command=$(sed -n 's/^ExecStart=//p' "$prefix/lib/systemd/user/recognition-service.service")
command=${command//%S/$XDG_STATE_HOME}
# shellcheck disable=SC2086 # the unit's command line, split into words as systemd does
activate 8443 $command --exit-idle 3
env -u SSL_CERT_FILE -u RECOGNIZER_HOST -u RECOGNIZER_API_KEY -u RECOGNIZER_SECRET_KEY \
    QT_QPA_PLATFORM=offscreen "$prefix/libexec/recognizer/recognizer-local" >"$work/tool.out" 2>&1 &
tool_pid=$!
wait_for_log " POST /oauth/2.0/token 200 "
[ -s "$XDG_STATE_HOME/recognition-service/ca.pem" ] || fail "no authority in the account's state"
kill -TERM "$tool_pid"
status=0
wait "$tool_pid" || status=$?
tool_pid=""
[ "$status" -eq 143 ] || fail "the launched tool ended with status $status on SIGTERM"
wait_for_exit 30
echo "launcher: the tool fetched its token from the socket-activated service, which then stopped"
