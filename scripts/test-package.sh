#!/usr/bin/env bash
# Checks the Debian package: builds it with CPack, compares its files with the expected list,
# runs lintian, validates the desktop entry, renders every man page, and runs every program
# from the unpacked package (Qt from the system) plus the launcher's first start.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build

cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" --target korvex_package_files

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$build/korvex_${version}_$(dpkg --print-architecture).deb
rm -f "$deb"
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) || { cat "$build/cpack.log" >&2; exit 1; }
[ -f "$deb" ] || { echo "FAIL: cpack made no $deb" >&2; exit 1; }

scratch=$(mktemp -d /tmp/korvex-package.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Files, not folders; korvex-station's only where this configuration has the program.
if grep -qx korvex-station "$build/packaging/packaged-programs.txt"; then
  sort packaging/expected-files.txt >"$scratch/expected.txt"
else
  grep -v korvex-station packaging/expected-files.txt | sort >"$scratch/expected.txt"
fi
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print substr($6, 2) }' | sort >"$scratch/files.txt"
diff -u "$scratch/expected.txt" "$scratch/files.txt" \
  || fail "the package's files differ from packaging/expected-files.txt"

lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

dpkg -x "$deb" "$scratch/root"
usr=$scratch/root/usr
desktop-file-validate "$usr/share/applications/korvex-simulator.desktop" || fail "desktop entry"
for page in "$usr"/share/man/man1/*.1.gz; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man $page"
  [ -z "$warnings" ] || fail "man $(basename "$page"): $warnings"
done

# Every program answers --help without a display and without the build's libraries.
for program in "$usr"/bin/*; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u LD_LIBRARY_PATH "$program" --help 2>&1) \
    || fail "$(basename "$program") --help exited $?"
  grep -q "usage: $(basename "$program")" <<<"$out" || fail "$(basename "$program") --help: $out"
done
[ "$("$usr/bin/korvex-simulator" --version)" = "korvex-simulator $version" ] \
  || fail "korvex-simulator --version"

# The launcher makes the folder and copies the example, and never overwrites the user's file.
home=$scratch/data
folder=$home/korvex
out=$(XDG_DATA_HOME=$home "$usr/bin/korvex-simulator-launch" --version 2>&1) \
  || fail "launcher: $out"
cmp -s "$folder/data.epl" "$root/examples/data.epl" || fail "launcher did not copy data.epl"
grep -q "$folder" <<<"$out" || fail "launcher does not name its folder: $out"
echo "my own cards" >"$folder/data.epl"
XDG_DATA_HOME=$home "$usr/bin/korvex-simulator-launch" --version >/dev/null 2>&1
[ "$(cat "$folder/data.epl")" = "my own cards" ] || fail "launcher overwrote the user's data.epl"

if [ "$failures" -ne 0 ]; then
  echo "package checks: $failures failed" >&2
  exit 1
fi
echo "package checks passed: $(basename "$deb")"
