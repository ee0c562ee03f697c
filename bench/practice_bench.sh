#!/usr/bin/env bash
# practice_bench.sh: the player's keep-pitch mode beside mpv's (scaletempo2),
# side by side in one run, on a virtual display and a session bus of its own:
#   - CPU while a five-minute stereo WAVE plays at 0.5x, 0.75x and 1.5x
#     (process CPU over the measured seconds as a share of one core, the mean
#     of rounds taken in turn, sound to a null output paced in real time):
#     marovel in keep-pitch mode against mpv --no-video --speed=X plus
#     marovel's own share in tape mode (goal: at most that sum);
#   - the pitch of the file's 440 Hz (left channel) at each speed, and two
#     semitones up at 0.75x (goals: 440 +- 1 Hz, 493.88 +- 1 Hz), from OpenAL
#     Soft's wave writer;
#   - how soon a change of speed is heard in keep-pitch mode: a tone that
#     alternates every 50 ms, set from 1x to 0.5x, its first run of twice the
#     length in the recording after the request (goal: within 100 ms; the
#     request's time is the recording's length when the call returned);
#   - an eight-second loop (50 ms of 1000 Hz, then 440 Hz) at 0.5x: its length
#     in the recording (goal: twice the file's within 20 ms) and the largest
#     sample step near each return against the file's own largest (goal: no
#     larger).
# The speed is set through the media controls' Rate, the mode with the P key.
#
#   bench/practice_bench.sh [seconds measured=10] [CPU rounds=3]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
SECONDS_MEASURED="${1:-10}"
ROUNDS="${2:-3}"
OUT="$ROOT/build-bench-player"

. "$ROOT/bench/player_setup.sh"
MEASURE="$OUT/practice_measure"
g++ -O2 -o "$MEASURE" "$ROOT/bench/practice_measure.cpp"

printf '[general]\ndrivers=null\n' >"$WORK/null.conf"
printf '[general]\ndrivers=wave\nsample-type=int16\nchannels=stereo\nfrequency=44100\n[wave]\nfile=%s\n' \
  "$WORK/recording.wav" >"$WORK/wave.conf"

# Five minutes of 440 Hz on the left, a chord on the right; eight seconds of loop.
sox -n -r 44100 -b 16 -c 1 "$WORK/left.wav" synth 300 sine 440 gain -6 2>/dev/null
sox -n -r 44100 -b 16 -c 1 "$WORK/right.wav" synth 300 sine 330 sine 554 gain -9 2>/dev/null
sox -M "$WORK/left.wav" "$WORK/right.wav" "$WORK/five.wav" 2>/dev/null
sox -n -r 44100 -b 16 -c 2 "$WORK/mark.wav" synth 0.05 sine 1000 gain -6 2>/dev/null
sox -n -r 44100 -b 16 -c 2 "$WORK/rest.wav" synth 7.95 sine 440 gain -6 2>/dev/null
sox "$WORK/mark.wav" "$WORK/rest.wav" "$WORK/loop.wav" 2>/dev/null
sox -n -r 44100 -b 16 -c 2 "$WORK/low.wav" synth 0.05 sine 440 gain -6 2>/dev/null
sox -n -r 44100 -b 16 -c 2 "$WORK/high.wav" synth 0.05 sine 660 gain -6 2>/dev/null
sox "$WORK/low.wav" "$WORK/high.wav" "$WORK/pair.wav" 2>/dev/null
sox "$WORK/pair.wav" "$WORK/alternating.wav" repeat 99 2>/dev/null

bus() { gdbus call --session -d org.mpris.MediaPlayer2.marovel -o /org/mpris/MediaPlayer2 "$@" >/dev/null 2>&1; }
key() { xdotool keydown "$1"; sleep 0.15; xdotool keyup "$1"; sleep 0.1; }
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ sum += $1 } END { printf "%.0f", sum }'; }

PID=""
# Starts the player on FILE with the sound config CONF at SPEED, in keep-pitch
# mode when KEEP is 1, raised SEMITONES; waits until it plays so.
start_player() {
  local file="$1" conf="$2" speed="$3" keep="$4" semitones="${5:-0}" window=""
  (cd "$WORK" && ALSOFT_CONF="$conf" exec "$PLAYER" "$file" 2>>"$WORK/stderr.txt") &
  PID=$!
  for _ in $(seq 100); do
    window=$(xdotool search --name "Marovel ver0.001a" 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    sleep 0.1
  done
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  for _ in $(seq 50); do bus -m org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player Rate && break; sleep 0.1; done
  [ "$keep" = 1 ] && key p
  for _ in $(seq "$semitones"); do key Prior; done
  bus -m org.freedesktop.DBus.Properties.Set org.mpris.MediaPlayer2.Player Rate "<$speed>"
}
stop_player() {
  kill "$PID" 2>/dev/null || true
  wait "$PID" 2>/dev/null || true
  PID=""
  sleep 0.3
}
# The running process's CPU share of one core over the measured seconds, after two to settle.
share() {
  local pid="$1" a b
  sleep 2
  a=$(cpu_ns "$pid")
  sleep "$SECONDS_MEASURED"
  b=$(cpu_ns "$pid")
  awk -v a="$a" -v b="$b" -v s="$SECONDS_MEASURED" 'BEGIN { printf "%.4f", 100 * (b - a) / 1e9 / s }'
}
mpv_share() {
  mpv --no-video --no-config --really-quiet --ao=null --loop-file=inf --speed="$1" "$WORK/five.wav" 2>/dev/null &
  local pid=$!
  share "$pid"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}

SPEEDS="0.5 0.75 1.5"
: >"$WORK/cpu.txt"
for round in $(seq "$ROUNDS"); do
  start_player five.wav "$WORK/null.conf" 1.0 0
  echo "tape $(share "$PID")" >>"$WORK/cpu.txt"
  stop_player
  for speed in $SPEEDS; do
    start_player five.wav "$WORK/null.conf" "$speed" 1
    echo "keep$speed $(share "$PID")" >>"$WORK/cpu.txt"
    stop_player
    echo "mpv$speed $(mpv_share "$speed")" >>"$WORK/cpu.txt"
  done
done
mean() { awk -v k="$1" '$1 == k { s += $2; n++ } END { printf "%.2f", s / n }' "$WORK/cpu.txt"; }

printf 'CPU while playing (%% of one core, %s s, mean of %s rounds in turn); marovel tape mode %s\n' \
  "$SECONDS_MEASURED" "$ROUNDS" "$(mean tape)"
for speed in $SPEEDS; do
  keep=$(mean "keep$speed")
  mpv=$(mean "mpv$speed")
  goal=$(awk -v a="$mpv" -v b="$(mean tape)" 'BEGIN { printf "%.2f", a + b }')
  verdict=$(awk -v k="$keep" -v g="$goal" 'BEGIN { print (k <= g ? "met" : "missed") }')
  printf '  %sx: marovel keep-pitch %s, mpv --speed=%s %s (goal: marovel <= %s) %s\n' "$speed" "$keep" "$speed" "$mpv" "$goal" "$verdict"
done

# Pitch: three seconds recorded at each speed, the last two measured.
for setting in "0.5 0" "0.75 0" "1.5 0" "0.75 2"; do
  set -- $setting
  rm -f "$WORK/recording.wav"
  start_player five.wav "$WORK/wave.conf" "$1" 1 "$2"
  sleep 4
  stop_player
  seconds=$(awk -v s="$(stat -c %s "$WORK/recording.wav")" 'BEGIN { printf "%.2f", (s - 44) / 176400 }')
  hz=$("$MEASURE" pitch "$WORK/recording.wav" "$(awk -v s="$seconds" 'BEGIN { print s - 2.5 }')" "$(awk -v s="$seconds" 'BEGIN { print s - 0.5 }')")
  want=$(awk -v n="$2" 'BEGIN { printf "%.2f", 440 * 2 ^ (n / 12) }')
  verdict=$(awk -v h="$hz" -v w="$want" 'BEGIN { print (h - w <= 1 && w - h <= 1 ? "met" : "missed") }')
  printf 'Pitch at %sx, %s semitones: %s Hz (goal %s +- 1) %s\n' "$1" "$2" "$hz" "$want" "$verdict"
done

# A change of speed, five times.
for _ in 1 2 3 4 5; do
  rm -f "$WORK/recording.wav"
  start_player alternating.wav "$WORK/wave.conf" 1.0 1
  sleep 1.5
  bus -m org.freedesktop.DBus.Properties.Set org.mpris.MediaPlayer2.Player Rate "<0.5>"
  at=$(awk -v s="$(stat -c %s "$WORK/recording.wav")" 'BEGIN { printf "%.3f", (s - 44) / 176400 }')
  sleep 1
  stop_player
  "$MEASURE" change "$WORK/recording.wav" "$at" >>"$WORK/change.txt" || true
done
printf 'A change of speed heard after (s, five tries): %s (goal <= 0.100)\n' "$(tr '\n' ' ' <"$WORK/change.txt")"

# The loop at half speed: 50 s recorded, three returns or more.
rm -f "$WORK/recording.wav"
start_player loop.wav "$WORK/wave.conf" 0.5 1
sleep 52
stop_player
read -r length loops seam own elsewhere < <("$MEASURE" loop "$WORK/recording.wav" "$WORK/loop.wav")
verdict=$(awk -v l="$length" 'BEGIN { d = l - 16; print (d <= 0.02 && -d <= 0.02 ? "met" : "missed") }')
printf 'Loop at 0.5x: %s s over %s loops (goal 16.000 +- 0.020) %s\n' "$length" "$loops" "$verdict"
verdict=$(awk -v a="$seam" -v b="$own" 'BEGIN { print (a <= b ? "met" : "missed") }')
printf 'Largest step at the returns %s, the file'"'"'s own %s (goal: no larger) %s; the stretched sound'"'"'s own away from the returns %s\n' \
  "$seam" "$own" "$verdict" "$elsewhere"
