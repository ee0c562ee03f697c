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
n=98
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n - 1)); done
Xvfb ":$n" -screen 0 "1024x768x$depth" -nolisten tcp >/dev/null 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done
DISPLAY=":$n" "$@"
