#!/usr/bin/env bash
# player_bench.sh: the running player beside another command-line player in
# the same run, on a virtual display of its own, sound going to a null output
# on both sides (paced in real time, as a sound card would pace them):
#   - CPU use while a looping WAVE plays: process CPU time over ten seconds,
#     as a share of one core (goal: no more than mpv --no-video's share);
#   - start-up time from launch to the file dialog on screen, beside a bare
#     GTK 3 program that shows only a GtkFileChooserNative (bench/
#     bare_file_dialog.c, built here), the two started in turn (goal: the
#     player within 1.3 times the bare program's time).
# Installs mpv when it is missing (only this benchmark needs it).
#
#   bench/player_bench.sh [seconds measured=10] [start-up runs=5]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
SECONDS_MEASURED="${1:-10}"
RUNS="${2:-5}"
OUT="$ROOT/build-bench-player"

if ! command -v mpv >/dev/null; then
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
  echo "Installing mpv for the comparison" >&2
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >/dev/null
  $SUDO apt-get install -y -qq --no-install-recommends mpv >/dev/null
fi
bash "$ROOT/scripts/deps.sh"
# The player serves the desktop's media controls every frame when a session
# bus is there: measure it with one, as a desktop runs it.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && command -v dbus-run-session >/dev/null; then
  exec dbus-run-session -- bash "$0" "$@"
fi
# MAROVEL=path measures a binary built elsewhere.
PLAYER="${MAROVEL:-$OUT/app/marovel}"
if [ -z "${MAROVEL:-}" ]; then
  bash "$ROOT/scripts/build.sh" "$OUT" -DCMAKE_BUILD_TYPE=Release -DRAVLIN_TESTS=OFF
fi

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
export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 LC_ALL=C.UTF-8
printf '[general]\ndrivers=null\n' >"$WORK/alsoft.conf"
export ALSOFT_CONF="$WORK/alsoft.conf"

# Thirty seconds of the sample loop as WAVE, played in a loop by both.
sox "$ROOT/samples/loop.ogg" -b 16 "$WORK/loop.wav" repeat 3 2>/dev/null
FILE="$WORK/loop.wav"

# CPU time of a process in nanoseconds: the scheduler's own count, summed over
# its threads (the clock-tick counts of /proc/PID/stat are too coarse for a
# process that uses about 1 % of a core).
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ sum += $1 } END { printf "%.0f", sum }'; }

# CPU share of one core of a process over the measured seconds, after two to settle.
cpu_share() {
  local pid=$1
  sleep 2
  local a b
  a=$(cpu_ns "$pid")
  sleep "$SECONDS_MEASURED"
  b=$(cpu_ns "$pid")
  awk -v a="$a" -v b="$b" -v s="$SECONDS_MEASURED" 'BEGIN { printf "%.2f", 100 * (b - a) / 1e9 / s }'
}

"$PLAYER" "$FILE" 2>/dev/null &
PLAYER_PID=$!
PLAYER_CPU=$(cpu_share "$PLAYER_PID")
# Said only when the player did not take its name on the bus.
gdbus call --session -d org.mpris.MediaPlayer2.marovel -o /org/mpris/MediaPlayer2 \
  -m org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player PlaybackStatus >/dev/null 2>&1 ||
  echo "note: the player measured without its media controls on the bus" >&2
kill "$PLAYER_PID"
wait "$PLAYER_PID" 2>/dev/null || true

mpv --no-video --no-config --really-quiet --ao=null --loop-file=inf "$FILE" &
MPV_PID=$!
MPV_CPU=$(cpu_share "$MPV_PID")
kill "$MPV_PID"
wait "$MPV_PID" 2>/dev/null || true

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

BARE="$OUT/bare_file_dialog"
gcc -O2 -o "$BARE" "$ROOT/bench/bare_file_dialog.c" $(pkg-config --cflags --libs gtk+-3.0)

# Seconds from launch to a window named 開け in the window tree.
time_to_dialog() {
  local start pid t
  start=$(now)
  (cd "$WORK" && exec "$@" 2>"$WORK/stderr.txt") &
  pid=$!
  until xwininfo -root -tree 2>/dev/null | grep -q '"開け"'; do
    sleep 0.002
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "player_bench: $1 ended before its dialog" >&2
      cat "$WORK/stderr.txt" >&2
      exit 1
    fi
  done
  t=$(elapsed "$start" "$(now)")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  sleep 0.3
  echo "$t"
}

# The two in turn, so that both meet the same machine; the mean of the runs.
player_total=0
bare_total=0
for _ in $(seq "$RUNS"); do
  t=$(time_to_dialog "$BARE")
  bare_total=$(awk -v a="$bare_total" -v b="$t" 'BEGIN { print a + b }')
  t=$(time_to_dialog "$PLAYER")
  player_total=$(awk -v a="$player_total" -v b="$t" 'BEGIN { print a + b }')
done
STARTUP=$(awk -v a="$player_total" -v n="$RUNS" 'BEGIN { printf "%.3f", a / n }')
BARE_STARTUP=$(awk -v a="$bare_total" -v n="$RUNS" 'BEGIN { printf "%.3f", a / n }')
RATIO=$(awk -v a="$STARTUP" -v b="$BARE_STARTUP" 'BEGIN { printf "%.2f", a / b }')

printf 'CPU while playing (%% of one core, %s s): marovel %s, mpv --no-video %s (goal: marovel <= mpv)\n' \
  "$SECONDS_MEASURED" "$PLAYER_CPU" "$MPV_CPU"
printf 'Start-up to the dialog (mean of %s, in turn): marovel %s s, bare GTK dialog program %s s: %sx (goal <= 1.3x)\n' \
  "$RUNS" "$STARTUP" "$BARE_STARTUP" "$RATIO"
