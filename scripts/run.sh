#!/usr/bin/env bash
# run.sh: installs what is missing, builds in release mode and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
mkdir -p build-release
if ! { cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DRAVLIN_TESTS=OFF &&
       cmake --build build-release -j"$(nproc)"; } >build-release/build.log 2>&1; then
  cat build-release/build.log >&2
  exit 1
fi
exec build-release/app/ravlin_demo
