#!/usr/bin/env bash
# Runs a Windows program of the build under Wine, in the build's private prefix
# (BUILD/wineprefix, created and checked by wine-prefix.sh). CMake's emulator for cross builds.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
shift
source "$here/wine-env.sh"
export KORVEX_WINE_BITS=$(korvex_pe_bits "$exe")
source "$here/wine-env.sh"
build=$(cd "$(dirname "$exe")/.." && pwd)
export WINEPREFIX=${KORVEX_WINEPREFIX:-$build/wineprefix}
# The full preparation and check when the prefix is new or holds any port link but COM5.
ready=1
[ -f "$WINEPREFIX/system.reg" ] || ready=0
for entry in "$WINEPREFIX"/dosdevices/com*; do
  [ -L "$entry" ] && [ "${entry##*/}" != com5 ] && ready=0
done
[ "$ready" = 1 ] || "$here/wine-prefix.sh" "$WINEPREFIX"
exec "$WINELOADER" "$exe" "$@"
