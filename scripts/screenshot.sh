#!/usr/bin/env bash
# Retakes docs/screenshot.png from the real program (see scripts/screenshot.py).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages
cmake --preset default >/dev/null
cmake --build --preset default --target korvex-simulator korvex-reader -j "$(nproc 2>/dev/null || echo 2)"
mkdir -p docs
python3 scripts/screenshot.py build/bin examples docs/screenshot.png "$@"
