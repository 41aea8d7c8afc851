#!/usr/bin/env bash
# Compares the bytes Wine's WinHTTP and the Linux WinHTTP layer send for the same calls
# (wire_client.cpp, and the HttpSession calls of session_wire_client.cpp; each built for both):
# each side's requests are recorded by the same native server, and for every request the request
# line, the header lines (names compared without regard to case, RFC 9110) and the body must be
# equal. Where they stand and how a replaced
# header's name is spelt may differ: no server can rely on either. Every difference is printed.
#   wire_compare.sh RECORDER COUNT LINUX_CLIENT WINE_RUN PREFIX WINDOWS_CLIENT WORKDIR
# COUNT: the requests one client makes.
set -euo pipefail
recorder=$1 requests=$2 linuxClient=$3 wineRun=$4 prefix=$5 windowsClient=$6 work=$7
for program in "$recorder" "$linuxClient"; do
    [ -x "$program" ] || { echo "missing $program: build the native tree first (make build)"; exit 77; }
done
rm -rf "$work" && mkdir -p "$work"

record() { # side, client command...
    local side=$1
    shift
    mkdir -p "$work/$side"
    : >"$work/$side.log" # there before the recorder writes to it
    "$recorder" "$work/$side" $requests >"$work/$side.log" 2>&1 &
    local recorderPid=$! port=
    for _ in $(seq 100); do
        port=$(sed -n 's/^port //p' "$work/$side.log")
        [ -n "$port" ] && break
        sleep 0.1
    done
    [ -n "$port" ] || { echo "$side: recorder did not start"; exit 1; }
    "$@" "http://127.0.0.1:$port" | tr -d '\r' | sed "s/^/$side client: /"
    wait $recorderPid || { echo "$side: not every request arrived"; cat "$work/$side.log"; exit 1; }
    # The port differs between the runs.
    sed -i "s/127\.0\.0\.1:$port/127.0.0.1:PORT/" "$work/$side"/*.txt
}
record linux "$linuxClient"
record wine "$wineRun" --prefix "$prefix" "$windowsClient"

head_of() { sed '/^\r$/q' "$1"; }
body_of() { sed '1,/^\r$/d' "$1"; }
# Header lines with their names in lower case, sorted.
lines() { head_of "$1" | sed 1d | sed 's/^\([^:]*\):/\L\1:/' | sort; }
failed=0
for linux in "$work"/linux/*.txt; do
    name=$(basename "$linux")
    wine=$work/wine/$name
    if cmp -s "$linux" "$wine"; then
        echo "$name: same bytes"
        continue
    fi
    same=1
    [ "$(head_of "$linux" | head -1)" = "$(head_of "$wine" | head -1)" ] || same=0
    [ "$(lines "$linux")" = "$(lines "$wine")" ] || same=0
    cmp -s <(body_of "$linux") <(body_of "$wine") || same=0
    echo "$name: $(head -1 "$linux" | tr -d '\r')"
    diff -u --label linux --label wine <(head_of "$linux" | tr -d '\r') \
        <(head_of "$wine" | tr -d '\r') | sed 1,3d | sed 's/^/    /' || true
    if [ $same = 1 ]; then
        echo "    => the same request; the lines stand in another order or spelling"
    else
        echo "    => DIFFERENT"
        failed=1
    fi
done
[ $failed = 0 ] && echo "wire comparison: Wine and the Linux layer send the same requests"
exit $failed
