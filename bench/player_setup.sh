# player_setup.sh, sourced by the benchmarks that run the player beside mpv
# (ROOT and OUT set): installs mpv and the build's dependencies when missing,
# runs the calling script again on a session bus of its own when there is
# none (the player serves the desktop's media controls every frame when a bus
# is there: measure it with one, as a desktop runs it), and sets PLAYER: the
# player built in OUT, or MAROVEL=path for a binary built elsewhere.
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
