#!/usr/bin/env bash
# test.sh: installs what is missing, builds with the sanitizers (and the player
# once more with ThreadSanitizer) and runs every test through ctest, on a
# virtual display of its own when none is set.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVLIN_SANITIZE=ON
# The player once more with ThreadSanitizer, for the test of its threads.
bash scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVLIN_SANITIZE_THREAD=ON -DRAVLIN_TESTS=OFF

XVFB_PID=""
cleanup() { if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi; }
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  . scripts/xvfb.sh
  start_xvfb 1024x768x24
fi
# The tests and the tools they run read window titles and file names as UTF-8,
# whatever the caller's locale (Debian always has C.UTF-8).
export LC_ALL=C.UTF-8
export GSETTINGS_BACKEND=memory
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
ctest --test-dir build-test --output-on-failure -j2 --timeout 600
