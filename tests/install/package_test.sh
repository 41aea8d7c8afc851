#!/usr/bin/env bash
# The Debian package as `make package` makes it: lintian finds no error, and unpacked with
# dpkg -x it holds the programs, a valid menu entry and valid systemd user units, and declares
# the libraries the programs load.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/common.sh"

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.out" 2>&1 ||
    fail "cpack: $(cat "$work/cpack.out")"
debs=("$work"/out/recognizer_*_amd64.deb)
[ -f "${debs[0]}" ] || fail "no recognizer_VERSION_amd64.deb: $(ls "$work/out")"
deb=${debs[0]}

lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.out" 2>&1 ||
    fail "lintian: $(cat "$work/lintian.out")"

depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libcurl4 libssl3 fonts-noto-cjk qt6-qpa-plugins; do
    [[ ", $depends," == *", $package"[\ ,]* ]] || fail "Depends lacks $package: $depends"
done

root=$work/root
dpkg -x "$deb" "$root"
for program in usr/bin/recognizer usr/bin/recognition-service; do
    [ -x "$root/$program" ] || fail "$program not in the package"
done
check_tree "$root" /usr
"$root/usr/bin/recognition-service" --help >/dev/null || fail "the packaged service does not run"
echo "package $(basename "$deb"): lintian clean, units and menu entry valid"
