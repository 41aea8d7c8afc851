#!/usr/bin/env bash
# `cmake --install` into a scratch prefix, and the installed tool and service used from there
# as a user would: nothing of the build or source tree in any installed file, a valid menu
# entry and units, and the installed tool fetching its token from the installed service.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
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
kill -TERM "$tool_pid"
status=0
wait "$tool_pid" || status=$?
tool_pid=""
[ "$status" -eq 143 ] || fail "the tool ended with status $status on SIGTERM (143 expected)"
stop_service
service_pid=""
echo "installed tool and service: token fetched, both stopped cleanly"
