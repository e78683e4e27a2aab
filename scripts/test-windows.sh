#!/usr/bin/env bash
# The Windows stage: the Qt-free parts cross-built with mingw-w64 for 32-bit Windows, and their
# tests under Wine in a private prefix whose only serial port is a test pty.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/ensure-packages.sh
ensure_packages
ensure_windows_packages
source scripts/wine-env.sh

jobs=$(nproc 2>/dev/null || echo 2)

# The Linux programs that sit at the other end of the line in the e2e tests.
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs" --target korvex-reader korvex-station
linux_bin="-DKORVEX_LINUX_BIN=$PWD/build/bin"

# The target: 32-bit Windows, always built.
cmake --preset windows "$linux_bin"
cmake --build --preset windows -j "$jobs"

# Its tests need a host that runs 32-bit programs (Wine's 32-bit loader is one). A kernel
# without 32-bit support runs the same sources built for 64-bit Windows instead.
preset=windows
if ! korvex_host_runs_32bit; then
  echo "note: this kernel runs no 32-bit programs; the tests run on the 64-bit Windows build"
  preset=windows64
  cmake --preset windows64 "$linux_bin"
  cmake --build --preset windows64 -j "$jobs"
fi
build=build-$preset
KORVEX_WINE_BITS=$([ "$preset" = windows64 ] && echo 64 || echo 32)
export KORVEX_WINE_BITS
source scripts/wine-env.sh
export WINEPREFIX="$PWD/$build/wineprefix"

# One server and one set of system services for the whole run, rather than a fresh start of
# both per test program; it leaves by itself a minute after the last program, or at the end.
scripts/wine-prefix.sh "$WINEPREFIX"
"$WINESERVER" -p60
status=0
ctest --preset "$preset" -j "$jobs" || status=$?
"$WINESERVER" -k 2>/dev/null || true
exit $status
