#!/usr/bin/env bash
# Builds the fuzz targets and runs each one for a short while over its seeds. Any crash,
# sanitizer report, leak, hang or broken invariant fails; the input is kept under
# build-fuzz/findings/, each run's output under build-fuzz/logs/. KORVEX_FUZZ_SECONDS sets the
# time per target (a longer run by hand).
set -euo pipefail
cd "$(dirname "$0")/.."
[ -n "${KORVEX_SKIP_FUZZ:-}" ] && exit 0

seconds=${KORVEX_FUZZ_SECONDS:-20}
jobs=$(nproc 2>/dev/null || echo 2)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build-fuzz/findings build-fuzz/logs
# The sample punch file is a seed as it is.
mkdir -p "$work/punch_file"
cp examples/data.epl "$work/punch_file/"

failed=0
for target in punch_file station_decoder stored_description; do
  mkdir -p "$work/$target"
  log=build-fuzz/logs/fuzz_$target.log
  # The first folder takes what the run finds; the committed seeds stay as they are.
  if build-fuzz/bin/fuzz_$target -max_total_time="$seconds" -max_len=8192 -timeout=30 \
      -rss_limit_mb=2048 -dict=fuzz/dict/$target.dict \
      -artifact_prefix=build-fuzz/findings/$target- \
      "$work/$target" fuzz/corpus/$target >"$log" 2>&1; then
    echo "fuzz_$target: $(grep -Eo 'Done [0-9]+ runs' "$log" | tail -1 || true), no findings"
  else
    tail -n 60 "$log"
    echo "fuzz_$target: FAILED (input under build-fuzz/findings/, output in $log)"
    failed=1
  fi
done
exit $failed
