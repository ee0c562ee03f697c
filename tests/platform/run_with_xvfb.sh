#!/usr/bin/env bash
# run_with_xvfb.sh DEPTH COMMAND...: runs COMMAND on a virtual display of its
# own at the given colour depth (1024 x 768), then stops the display.
set -euo pipefail
depth="$1"
shift
if ! command -v Xvfb >/dev/null; then
  echo "Xvfb missing: not run" >&2
  exit 0
fi
XVFB_PID=""
trap 'if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi' EXIT
. "$(dirname "$0")/../../scripts/xvfb.sh"
start_xvfb "1024x768x$depth"
"$@"
