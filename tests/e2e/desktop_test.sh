#!/usr/bin/env bash
# The Linux tool on a real X display (Xvfb), seen from outside as a window manager and a user
# see it: the window's X properties (title, fixed size, place), the exit status when the display
# goes away, the exit status and message without a display, and the start-up probe's status
# when no service answers.
#   desktop_test.sh RECOGNIZER START_PROBE WORK_DIR
set -uo pipefail
tool=$1
probe=$2
work=$3
rm -rf "$work" && mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

. "$(dirname "$0")/../support/shell.sh"
# A loopback port nothing listens on: the token fetch fails at once.
closedPort=$(freePort)
export RECOGNIZER_HOST=127.0.0.1:$closedPort
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
# In the sanitizer build: statuses are what is checked here, so a sanitizer's report gets a status
# of its own (66), and leak checking is off: the tool never deletes its QApplication, and
# fontconfig and D-Bus keep what they allocated until the process ends.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0:exitcode=66"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}exitcode=66"

# Xvfb, 1280 x 1024, on a display number of its own: far above the low numbers that other
# programs' Xvfb servers (-displayfd) come and go on, whose ending would take our socket along.
xvfb=
for _ in $(seq 20); do
    number=$((300 + RANDOM % 600))
    [ -e "/tmp/.X$number-lock" ] && continue
    Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb=$!
    for _ in $(seq 100); do
        xwininfo -root -display ":$number" >/dev/null 2>&1 && break
        kill -0 $xvfb 2>/dev/null || break
        sleep 0.1
    done
    xwininfo -root -display ":$number" >/dev/null 2>&1 && break
    kill $xvfb 2>/dev/null
    wait $xvfb 2>/dev/null
    xvfb=
done
[ -n "$xvfb" ] || { echo "Xvfb did not start: $(cat "$work/xvfb.log")"; exit 1; }
export DISPLAY=:$number

"$tool" >"$work/tool.out" 2>"$work/tool.err" &
tool_pid=$!

# The tool's mapped top-level window: the 628 x 194 client area (no window manager draws a frame).
window=
for _ in $(seq 100); do
    window=$(xwininfo -root -children 2>/dev/null | awk '/ 628x194\+/ {print $1; exit}')
    [ -n "$window" ] && break
    sleep 0.1
done
if [ -z "$window" ]; then
    fail "no 628x194 window appeared: $(xwininfo -root -children 2>&1 | tail -n +5 | tr "\n" "|")"
else
    xprop -id "$window" >"$work/xprop.txt"
    # An empty title is an empty property, not a missing one (which would let the WM choose).
    grep -qx 'WM_NAME(STRING) = ' "$work/xprop.txt" || fail "WM_NAME is not empty: $(grep WM_NAME "$work/xprop.txt")"
    grep -qx '_NET_WM_NAME(UTF8_STRING) = ' "$work/xprop.txt" ||
        fail "_NET_WM_NAME is not empty: $(grep _NET_WM_NAME "$work/xprop.txt")"
    # Fixed size: the window manager is told the least and the largest size are the same.
    grep -q 'program specified minimum size: 628 by 194' "$work/xprop.txt" || fail "minimum size is not 628x194"
    grep -q 'program specified maximum size: 628 by 194' "$work/xprop.txt" || fail "maximum size is not 628x194"
    # Centred by its outer size 634 x 223: (1280 - 634) / 2, (1024 - 223) / 2.
    geometry=$(xwininfo -id "$window" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {print x "," y}')
    [ "$geometry" = "323,400" ] || fail "window at $geometry, not centred at 323,400"
    grep -q '^WM_STATE' "$work/xprop.txt" || xwininfo -id "$window" | grep -q 'IsViewable' ||
        fail "window is not mapped"
fi

# The display goes away: Qt ends the program with status 1; the exit routines must not crash it.
kill $xvfb
wait $xvfb 2>/dev/null
status=
for _ in $(seq 100); do
    kill -0 $tool_pid 2>/dev/null || break
    sleep 0.1
done
if kill -0 $tool_pid 2>/dev/null; then
    fail "the tool still runs 10 s after its display went away"
    kill -9 $tool_pid
fi
wait $tool_pid
status=$?
[ "$status" = 1 ] || fail "after the display went away the tool ended with status $status, not 1 ($(tail -n 3 "$work/tool.err"))"

# No display at all: status 1 and a message saying so, no abort.
env -u DISPLAY "$tool" >"$work/nodisplay.out" 2>"$work/nodisplay.err"
status=$?
[ "$status" = 1 ] || fail "without a display the tool ended with status $status, not 1"
grep -q 'no display' "$work/nodisplay.err" || fail "without a display no message said so: $(cat "$work/nodisplay.err")"

# The start-up probe (offscreen) with no service answering: shows the window, ends with 0.
QT_QPA_PLATFORM=offscreen "$probe" >"$work/probe.out" 2>"$work/probe.err"
status=$?
[ "$status" = 0 ] || fail "the start-up probe ended with status $status, not 0"
grep -qx 'shown no-token' "$work/probe.out" || fail "the start-up probe printed: $(cat "$work/probe.out")"

[ $failures = 0 ] && echo "desktop test: all checks passed"
exit $((failures > 0))
