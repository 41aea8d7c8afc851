#!/usr/bin/env bash
# The Windows tool's open-file dialog under Wine, driven from outside the tool as a user drives
# it: "载入图片" is pressed (a posted click), the dialog is found on the X display and a file
# name typed into it with xdotool (XTEST key events), then Enter or Escape. What the picture box
# then draws is read from a screenshot of the X window:
#   - a red picture chosen: the box shows red;
#   - the dialog opened again and cancelled: the box shows the same file again;
#   - a blue picture chosen: the box shows blue;
#   - closing the window ends the tool with exit code 0.
#   dialog_test.sh WINE_RUN PREFIX RECOGNIZER_EXE PROBE_EXE PICTURES_DIR WORKDIR
set -euo pipefail
wineRun=$1 prefix=$2 recognizer=$3 probe=$4 pictures=$5 work=$6
command -v xdotool >/dev/null || { echo "xdotool is missing (scripts/install-deps)"; exit 77; }
rm -rf "$work" && mkdir -p "$work" && cd "$work"

readonly patience=60 # seconds: Wine starts slowly on a busy machine
convert=$(command -v convert-im6.q16 || echo /usr/bin/convert)

tool=
cleanup() { if [ -n "$tool" ]; then kill "$tool" 2>/dev/null || true; fi; }
trap cleanup EXIT
fail() {
    echo "FAILED: $*"
    echo "--- tool output"; cat tool.log 2>/dev/null || true
    exit 1
}
. "$(dirname "$0")/../support/shell.sh"

# No service: the token fetch fails at once (a loopback port nobody listens on).
closedPort=$(freePort) || fail "no free port"
RECOGNIZER_HOST=localhost:$closedPort "$wineRun" --prefix "$prefix" "$recognizer" >tool.log 2>&1 &
tool=$!
"$wineRun" --prefix "$prefix" "$probe" RecognizerWindow | tr -d '\r' >window.txt || fail "no window"
export DISPLAY=$(cat "$prefix.display")
read -r _ clientWidth clientHeight < <(grep '^client ' window.txt)
xWindow=$(xwininfo -root -tree | awk '/\("recognizer.exe" / && $0 ~ /'"${clientWidth}x${clientHeight}"'/ {print $1; exit}')
[ -n "$xWindow" ] || fail "no X window of ${clientWidth}x${clientHeight}"

# The dialog: another mapped top-level X window of the tool, not the 1 x 1 input-method one
# (its title is the system's, in the prefix's language: "Open" or "打开").
dialogWindow() {
    xwininfo -root -children 2>/dev/null |
        awk -v main="$xWindow" '/\("recognizer.exe" "recognizer.exe"\)/ && $1 != main && !/ 1x1\+/ {print $1}' |
        while read -r w; do xwininfo -id "$w" 2>/dev/null | grep -q 'Map State: IsViewable' && echo "$w"; done |
        head -1
}
dialogShown() { [ -n "$(dialogWindow)" ]; }
dialogGone() { [ -z "$(dialogWindow)" ]; }
# The colour at the middle of the picture box (client 15,5, 240 x 176), as a person sees it:
# "R G B".
boxColour() {
    import -window "$xWindow" shot.png 2>/dev/null &&
        "$convert" shot.png -format '%[fx:int(255*p{135,93}.r)] %[fx:int(255*p{135,93}.g)] %[fx:int(255*p{135,93}.b)]' info: 2>/dev/null
}
# boxShows red|blue: within a small distance (JPEG is lossy).
boxShows() {
    local r g b
    read -r r g b <<<"$(boxColour)"
    [ -n "$b" ] || return 1
    case $1 in
        red) [ "$r" -ge 240 ] && [ "$g" -le 15 ] && [ "$b" -le 15 ] ;;
        blue) [ "$r" -le 15 ] && [ "$g" -le 15 ] && [ "$b" -ge 240 ] ;;
    esac
}

# choose TEXT KEY: presses "载入图片", waits for the dialog, types the text (may be empty), presses
# the key, waits until the dialog is gone.
choose() {
    "$wineRun" --prefix "$prefix" "$probe" RecognizerWindow press 1 >/dev/null || fail "no button 1"
    waitFor $patience dialogShown || fail "no open-file dialog appeared"
    # Wine gives the new dialog the focus itself; the file name box has it.
    sleep 0.5
    if [ -n "$1" ]; then xdotool type --delay 20 "$1"; fi
    xdotool key "$2"
    waitFor $patience dialogGone || fail "the dialog stayed open after: $*"
}
windowsPath() { echo "Z:$(realpath "$1" | tr / '\\')"; }

choose "$(windowsPath "$pictures/still.png")" Return
waitFor 10 boxShows red || fail "after choosing a red picture the box shows $(boxColour)"
echo "chosen still.png: the box shows red"

choose "" Escape
waitFor 10 boxShows red || fail "after a cancel the box shows $(boxColour), not the last file"
echo "cancelled: the box shows still.png again"

choose "$(windowsPath "$pictures/still.jpg")" Return
waitFor 10 boxShows blue || fail "after choosing a blue picture the box shows $(boxColour)"
echo "chosen still.jpg: the box shows blue"

"$wineRun" --prefix "$prefix" "$probe" RecognizerWindow close >/dev/null
status=0
wait "$tool" || status=$?
tool=
[ $status = 0 ] || fail "the tool ended with $status"
echo "dialog test: ok"
