#!/usr/bin/env bash
# run.sh: installs what is missing, builds in release mode and starts the player.
# Arguments go to the player: a music file given here skips its dialog. The
# player starts in the caller's folder, so names are read from there and the
# dialog opens there.
set -euo pipefail
caller="$PWD"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/deps.sh
bash scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DRAVLIN_TESTS=OFF
cd "$caller"
exec "$root/build-release/app/marovel" "$@"
