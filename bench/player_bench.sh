#!/usr/bin/env bash
# player_bench.sh: the running player beside another command-line player in
# the same run, on a virtual display of its own, sound going to a null output
# on both sides (paced in real time, as a sound card would pace them):
#   - CPU use while a looping WAVE plays: process CPU time over ten seconds,
#     as a share of one core, the mean of a few rounds taken in turn (goal: no
#     more than mpv --no-video's share). Beside it: the player's main thread
#     alone, the player without a session bus (its media controls off), and a
#     program that does nothing but the frame loop's two waits (bench/
#     frame_sleeps.c), which shows what waking 120 times a second costs here;
#   - start-up time from launch to the file dialog on screen, beside a bare
#     GTK 3 program that shows only a GtkFileChooserNative (bench/
#     bare_file_dialog.c, built here), the two started in turn (goal: the
#     player within 1.3 times the bare program's time).
# Installs mpv when it is missing (only the player benchmarks need it).
#
#   bench/player_bench.sh [seconds measured=10] [start-up runs=5] [CPU rounds=3]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
SECONDS_MEASURED="${1:-10}"
RUNS="${2:-5}"
ROUNDS="${3:-3}"
OUT="$ROOT/build-bench-player"

. "$ROOT/bench/player_setup.sh"

printf '[general]\ndrivers=null\n' >"$WORK/alsoft.conf"
export ALSOFT_CONF="$WORK/alsoft.conf"

# Thirty seconds of the sample loop as WAVE, played in a loop by both.
sox "$ROOT/samples/loop.ogg" -b 16 "$WORK/loop.wav" repeat 3 2>/dev/null
FILE="$WORK/loop.wav"

# CPU time in nanoseconds, the scheduler's own count (the clock-tick counts of
# /proc/PID/stat are too coarse for a process that uses about 1 % of a core):
# of a whole process, summed over its threads, and of its main thread.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ sum += $1 } END { printf "%.0f", sum }'; }
main_ns() { awk '{ printf "%.0f", $1 }' /proc/"$1"/task/"$1"/schedstat 2>/dev/null; }

# Starts a command, lets it settle for two seconds and prints its CPU share of
# one core over the measured seconds, then that of its main thread.
measure() {
  "$@" 2>/dev/null &
  local pid=$! a b ma mb
  sleep 2
  a=$(cpu_ns "$pid")
  ma=$(main_ns "$pid")
  sleep "$SECONDS_MEASURED"
  b=$(cpu_ns "$pid")
  mb=$(main_ns "$pid")
  if [ "${CHECK_BUS:-0}" = 1 ]; then
    # Said only when the player did not take its name on the bus.
    gdbus call --session -d org.mpris.MediaPlayer2.marovel -o /org/mpris/MediaPlayer2 \
      -m org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player PlaybackStatus >/dev/null 2>&1 ||
      echo "note: the player measured without its media controls on the bus" >&2
  fi
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  awk -v a="$a" -v b="$b" -v ma="$ma" -v mb="$mb" -v s="$SECONDS_MEASURED" \
    'BEGIN { printf "%.4f %.4f\n", 100 * (b - a) / 1e9 / s, 100 * (mb - ma) / 1e9 / s }'
}

FLOOR="$OUT/frame_sleeps"
gcc -O2 -o "$FLOOR" "$ROOT/bench/frame_sleeps.c"

# The four in turn in each round, so that all of them meet the same machine.
: >"$WORK/cpu.txt"
for round in $(seq "$ROUNDS"); do
  echo "player $(CHECK_BUS=1 measure "$PLAYER" "$FILE")" >>"$WORK/cpu.txt"
  echo "nobus $(measure env -u DBUS_SESSION_BUS_ADDRESS "$PLAYER" "$FILE")" >>"$WORK/cpu.txt"
  echo "mpv $(measure mpv --no-video --no-config --really-quiet --ao=null --loop-file=inf "$FILE")" >>"$WORK/cpu.txt"
  echo "floor $(measure "$FLOOR")" >>"$WORK/cpu.txt"
done
mean() { awk -v k="$1" -v f="${2:-2}" '$1 == k { s += $f; n++ } END { printf "%.2f", s / n }' "$WORK/cpu.txt"; }
range() { awk -v k="$1" '$1 == k { v = $2 + 0; if (n++ == 0 || v < lo) lo = v; if (v > hi) hi = v } END { printf "%.2f-%.2f", lo, hi }' "$WORK/cpu.txt"; }

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

printf 'CPU while playing (%% of one core, %s s, mean of %s rounds in turn): marovel %s (%s), mpv --no-video %s (%s) (goal: marovel <= mpv)\n' \
  "$SECONDS_MEASURED" "$ROUNDS" "$(mean player)" "$(range player)" "$(mean mpv)" "$(range mpv)"
printf '  marovel main thread %s, marovel without a session bus %s, the frame loop'"'"'s two waits alone %s\n' \
  "$(mean player 3)" "$(mean nobus)" "$(mean floor)"
printf 'Start-up to the dialog (mean of %s, in turn): marovel %s s, bare GTK dialog program %s s: %sx (goal <= 1.3x)\n' \
  "$RUNS" "$STARTUP" "$BARE_STARTUP" "$RATIO"
