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
"$here/wine-prefix.sh" "$WINEPREFIX"
# One server and one set of system services for a whole test run, rather than a fresh start
# of both per program; it leaves by itself a minute after the last program.
"$WINESERVER" -p60 2>/dev/null || true
exec "$WINELOADER" "$exe" "$@"
