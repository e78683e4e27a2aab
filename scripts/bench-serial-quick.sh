#!/usr/bin/env bash
# Smoke run of the serial benchmark: it must get through every contender on both lines. The
# figures it prints are not checked.
set -euo pipefail
cd "$(dirname "$0")/.."
bench=build/bin/korvex-bench-serial
if [ ! -x "$bench" ]; then
  echo "bench-serial-quick: $bench not built (QSerialPort missing?), skipped"
  exit 0
fi
timeout 300 "$bench" --quick
