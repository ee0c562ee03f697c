#!/usr/bin/env bash
# run.sh: installs what is missing, builds in release mode and starts the player.
# Arguments go to the player: a music file given here skips its dialog.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DRAVLIN_TESTS=OFF
exec build-release/app/marovel "$@"
