#!/usr/bin/env bash
# The Windows tool under Wine and Xvfb against the local recognition service (a Linux program,
# run natively on an ephemeral port, its CA trusted in the prefix for the run):
#   - the window appears: 634 x 223 outside, centred, the title bar's styles and no others, an
#     empty title, the controls at their places with their styles and Chinese labels; on the X
#     side the client area at the same place and size, not resizable, with the title bar's
#     decorations (close, minimise, menu; no maximise);
#   - the token request arrives at the service (its log line);
#   - "识别车牌号" posts to the plate endpoint and the edit box shows the service's answer
#     (no picture loaded: the service's error for an empty image);
#   - a screenshot of the window is saved (WORKDIR/recognizer.png);
#   - closing the window ends the tool with exit code 0.
#   smoke_test.sh WINE_RUN PREFIX RECOGNIZER_EXE TRUST_CA_EXE PROBE_EXE SERVICE WORKDIR
set -euo pipefail
wineRun=$1 prefix=$2 recognizer=$3 trustCa=$4 probe=$5 service=$6 work=$7
[ -x "$service" ] || { echo "missing $service: build the native tree first (make build)"; exit 77; }
rm -rf "$work" && mkdir -p "$work" && cd "$work"

# Seconds: Wine and the tool start slowly on a busy machine.
readonly patience=60
screenWidth=1280 screenHeight=1024 # the Wine session's display

serviceProcess= tool= ca=
cleanup() {
    if [ -n "$tool" ]; then kill "$tool" 2>/dev/null || true; fi
    if [ -n "$ca" ]; then "$wineRun" --prefix "$prefix" "$trustCa" remove "$ca" >/dev/null 2>&1 || true; fi
    if [ -n "$serviceProcess" ]; then kill "$serviceProcess" 2>/dev/null || true; fi
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*"
    echo "--- service log"; cat service.log 2>/dev/null || true
    echo "--- tool output"; cat tool.log 2>/dev/null || true
    exit 1
}
. "$(dirname "$0")/../support/shell.sh"
expectLine() { # file, line
    grep -qxF "$2" "$1" || fail "expected \"$2\" in $(basename "$1"): $(tr '\n' '|' <"$1")"
}

# The service on a free port, with a state directory (its CA and certificate) of this run.
"$service" --listen 127.0.0.1:0 --state-dir "$work/state" >service.out 2>service.log &
serviceProcess=$!
waitFor $patience grep -q '^certificate authority: ' service.out || fail "the service did not start"
port=$(sed -n 's|^listening on https://[^ ]*:\([0-9]*\)$|\1|p' service.out)
ca=$(sed -n 's/^certificate authority: //p' service.out)
echo "service on port $port, authority $ca"
tokenPath="POST /oauth/2.0/token 200"
tokenRequestArrived() { grep -qF "$tokenPath" service.log; }
"$wineRun" --prefix "$prefix" "$trustCa" add "$ca" || fail "cannot trust the service's CA"

RECOGNIZER_HOST=localhost:$port "$wineRun" --prefix "$prefix" "$recognizer" >tool.log 2>&1 &
tool=$!

# The window as Win32 sees it.
"$wineRun" --prefix "$prefix" "$probe" RecognizerWindow | tr -d '\r' >window.txt ||
    fail "no window: $(cat window.txt)"
cat window.txt
expectLine window.txt "outer 634 223"
expectLine window.txt "screen $screenWidth $screenHeight"
expectLine window.txt "place $(((screenWidth - 634) / 2)) $(((screenHeight - 223) / 2))"
# WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, visible, and nothing else but
# what the system adds to every such window: WS_CLIPSIBLINGS to a top-level window,
# WS_EX_WINDOWEDGE to one with a caption or a dialog frame.
expectLine window.txt "style 0x16ca0000"
expectLine window.txt "exstyle 0x00000100"
expectLine window.txt "title 0"
# Picture box: WS_EX_CLIENTEDGE | WS_EX_DLGMODALFRAME; edit box: WS_EX_CLIENTEDGE with
# ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN (no ES_AUTOHSCROLL, no scroll bars); push buttons.
expectLine window.txt "child RecognizerPictureBox 0x50000000 0x00000301 15 5 240 176 "
expectLine window.txt "child Edit 0x50011044 0x00000200 265 7 215 177 "
expectLine window.txt "child Button 0x50010000 0x00000000 488 8 104 32 载入图片"
expectLine window.txt "child Button 0x50010000 0x00000000 488 48 104 32 识别植物"
expectLine window.txt "child Button 0x50010000 0x00000000 488 88 104 32 识别车牌号"

# The same window on the X side, on the Wine session's own display (see scripts/wine-run).
export DISPLAY=$(cat "$prefix.display")
# Wine draws no frame without a window manager, so the X window
# is the client area, at the client area's place.
read -r _ clientWidth clientHeight < <(grep '^client ' window.txt)
read -r _ clientLeft clientTop < <(grep '^clientplace ' window.txt)
xWindow=$(xwininfo -root -tree | awk '/\("recognizer.exe" / && $0 ~ /'"${clientWidth}x${clientHeight}"'/ {print $1; exit}')
[ -n "$xWindow" ] || fail "no X window of ${clientWidth}x${clientHeight}: $(xwininfo -root -tree)"
xwininfo -id "$xWindow" >xwindow.txt
grep -q "Absolute upper-left X:  $clientLeft$" xwindow.txt || fail "X place: $(cat xwindow.txt)"
grep -q "Absolute upper-left Y:  $clientTop$" xwindow.txt || fail "X place: $(cat xwindow.txt)"
xprop -id "$xWindow" >xprops.txt
# Functions move, minimise, close (no resize, no maximise); decorations border, title, menu,
# minimise box (no maximise box).
grep -qF "_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x3, 0x2c, 0x3a" xprops.txt || fail "$(cat xprops.txt)"
grep -qF "minimum size: $clientWidth by $clientHeight" xprops.txt || fail "resizable"
grep -qF "maximum size: $clientWidth by $clientHeight" xprops.txt || fail "resizable"
echo "window: $xWindow, ${clientWidth}x${clientHeight} at $clientLeft,$clientTop; not resizable"

# The token request the window's created event makes.
waitFor $patience tokenRequestArrived || fail "no token request at the service"
echo "service log: $(grep -m1 -F "$tokenPath" service.log)"

# A recognition without a picture: the request arrives and the answer is shown as it came.
"$wineRun" --prefix "$prefix" "$probe" RecognizerWindow click 3 | tr -d '\r' >click.txt
cat click.txt
grep -qF "POST /rest/2.0/ocr/v1/license_plate 400" service.log || fail "no plate request"
expectLine click.txt 'edit {"error_code":202,"error_msg":"image is empty"}'

# Let it paint, then the screenshot.
sleep 1
import -window "$xWindow" recognizer.png || fail "no screenshot"
echo "screenshot: $work/recognizer.png"

"$wineRun" --prefix "$prefix" "$probe" RecognizerWindow close >/dev/null
status=0
wait "$tool" || status=$?
tool=
[ $status = 0 ] || fail "the tool ended with $status"
echo "smoke test: ok"
