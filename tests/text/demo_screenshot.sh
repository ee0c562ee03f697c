#!/usr/bin/env bash
# demo_screenshot.sh DEMO GOLDEN_DIR: runs the demonstration program on X
# servers of depth 24 and 16 of its own and compares its window with the
# status screen's reference picture of that depth (32 and 16 bits per pixel).
set -euo pipefail
demo="$1"
golden="$2"
work="$(mktemp -d /tmp/ravlin-demo-shot-XXXXXX)"
XVFB_PID=""
DEMO_PID=""
cleanup() {
  if [ -n "$DEMO_PID" ]; then kill "$DEMO_PID" 2>/dev/null || true; wait "$DEMO_PID" 2>/dev/null || true; fi
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/../../scripts/xvfb.sh"

for depth in 24 16; do
  start_xvfb "640x480x$depth"

  (cd "$work" && exec "$demo" >/dev/null 2>&1) &
  DEMO_PID=$!
  id=""
  for _ in $(seq 100); do
    id="$(xdotool search --name '^Marovel ver0.001a$' 2>/dev/null | head -n1 || true)"
    [ -n "$id" ] && break
    kill -0 "$DEMO_PID" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$id" ] || { echo "depth $depth: no window"; exit 1; }
  sleep 1  # a few frames
  import -window "$id" "$work/shot-$depth.png"
  bits=32
  fuzz=1%
  # The capture tool widens a 5:6:5 server's channels its own way (black comes
  # out as 8,0,8): a few levels apart, far less than ink from background.
  if [ "$depth" = 16 ]; then bits=16; fuzz=8%; fi
  diff="$(compare -metric AE -fuzz "$fuzz" "$work/shot-$depth.png" "$golden/status_$bits.ppm" null: 2>&1 || true)"
  if [ "$diff" != "0" ]; then
    cp "$work/shot-$depth.png" "/tmp/ravlin-demo-shot-$depth.png"
    echo "depth $depth: $diff pixels differ from status_$bits.ppm (shot in /tmp/ravlin-demo-shot-$depth.png)"
    exit 1
  fi
  echo "depth $depth: window equals status_$bits.ppm"
  kill "$DEMO_PID"; wait "$DEMO_PID" 2>/dev/null || true; DEMO_PID=""
  kill "$XVFB_PID"; wait "$XVFB_PID" 2>/dev/null || true; XVFB_PID=""
done
