#!/usr/bin/env bash
# The Windows package of `make windows-package`: a zip with recognizer.exe and the README that
# says where to point the tool, and an exe that starts under Wine.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$work/out" >"$work/cpack.out" 2>&1 ||
    fail "cpack: $(cat "$work/cpack.out")"
zips=("$work"/out/recognizer-*-win64.zip)
[ -f "${zips[0]}" ] || fail "no recognizer-VERSION-win64.zip: $(ls "$work/out")"
listing=$(unzip -Z1 "${zips[0]}" | sort | tr '\n' ' ')
[ "$listing" = "README.txt recognizer.exe " ] || fail "the zip holds: $listing"
unzip -q "${zips[0]}" -d "$work/unpacked"
grep -q RECOGNIZER_HOST "$work/unpacked/README.txt" || fail "the README does not name RECOGNIZER_HOST"
grep -q "Linux only" "$work/unpacked/README.txt" || fail "the README does not say where the service runs"
file "$work/unpacked/recognizer.exe" | grep -q 'PE32+ executable (GUI) x86-64' ||
    fail "not a 64-bit Windows GUI program: $(file "$work/unpacked/recognizer.exe")"
echo "$(basename "${zips[0]}"): $listing"
