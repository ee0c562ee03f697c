#!/usr/bin/env bash
# build.sh DIR [CMAKE OPTIONS...]: configures and builds into DIR quietly; the
# build log is shown only when something fails.
set -euo pipefail
dir="$1"
shift
mkdir -p "$dir"
if ! { cmake -S . -B "$dir" "$@" && cmake --build "$dir" -j"$(nproc)"; } >"$dir/build.log" 2>&1; then
  cat "$dir/build.log" >&2
  exit 1
fi
