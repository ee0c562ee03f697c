# player_setup.sh, sourced by the benchmarks that run the player beside mpv
# (ROOT and OUT set): installs mpv and the build's dependencies when missing,
# runs the calling script again on a session bus of its own when there is
# none (the player serves the desktop's media controls every frame when a bus
# is there: measure it with one, as a desktop runs it), sets PLAYER (the
# player built in OUT, or MAROVEL=path for a binary built elsewhere), makes
# WORK (removed at the end, with whatever the script started) and starts a
# virtual display with a private runtime folder.
if ! command -v mpv >/dev/null; then
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
  echo "Installing mpv for the comparison" >&2
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >/dev/null
  $SUDO apt-get install -y -qq --no-install-recommends mpv >/dev/null
fi
bash "$ROOT/scripts/deps.sh"
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && command -v dbus-run-session >/dev/null; then
  exec dbus-run-session -- bash "$0" "$@"
fi
PLAYER="${MAROVEL:-$OUT/app/marovel}"
if [ -z "${MAROVEL:-}" ]; then
  bash "$ROOT/scripts/build.sh" "$OUT" -DCMAKE_BUILD_TYPE=Release -DRAVLIN_TESTS=OFF
fi
# The benchmark's own programs go here, whoever built the player.
mkdir -p "$OUT"

WORK="$(mktemp -d)"
XVFB_PID=""
cleanup() {
  jobs -p | xargs -r kill 2>/dev/null || true
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

. "$ROOT/scripts/xvfb.sh"
start_xvfb 1024x768x24
mkdir -m 0700 "$WORK/run"
export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 LC_ALL=C.UTF-8 XDG_RUNTIME_DIR="$WORK/run"
