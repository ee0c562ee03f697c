#!/usr/bin/env bash
# screen_frame_bench.sh: CPU time of one frame's ClearDrawTarget + PresentScreen
# at 350 x 120 (no vertical-blank wait) and of a plain SDL fill + window update,
# on virtual displays of depth 24 (32-bit pixels) and 16.
# Goal: under 50 us a frame, and within 1.5 x of the plain SDL pair.
#
#   bench/screen_frame_bench.sh
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="$ROOT/build-bench-screen"
cmake -S "$ROOT" -B "$OUT" -DCMAKE_BUILD_TYPE=Release -DRAVLIN_BENCH=ON -DRAVLIN_TESTS=OFF >/dev/null
cmake --build "$OUT" -j2 --target screen_frame_bench >/dev/null
for depth in 24 16; do
  echo "== display depth $depth"
  bash "$ROOT/tests/platform/run_with_xvfb.sh" "$depth" "$OUT/bench/screen_frame_bench" \
    --benchmark_format=console 2>&1 | grep -E "^BM_|bits"
done
