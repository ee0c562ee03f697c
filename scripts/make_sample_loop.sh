#!/usr/bin/env bash
# make_sample_loop.sh: synthesises samples/loop.ogg, the short music loop a
# newcomer can open in the player: four bars at 120 beats a minute (8 seconds),
# a plucked melody over a bass line, every note a whole number of samples long,
# so that the loop has no seam.
#   scripts/make_sample_loop.sh [output=samples/loop.ogg]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="${1:-$ROOT/samples/loop.ogg}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

RATE=44100
EIGHTH=0.25   # seconds: 11025 samples
# One voice: note names (or "r" for a rest), one per eighth, into a file.
voice() {
  local out="$1" kind="$2" gain="$3"
  shift 3
  local parts=() i=0
  for n in "$@"; do
    local f="$WORK/$out-$i.wav"
    if [ "$n" = r ]; then
      sox -n -r $RATE -c 1 -b 16 "$f" trim 0 $EIGHTH
    else
      sox -n -r $RATE -c 1 -b 16 "$f" synth $EIGHTH "$kind" "%$n" fade q 0.005 $EIGHTH 0.08 gain "$gain"
    fi
    parts+=("$f")
    i=$((i + 1))
  done
  sox "${parts[@]}" "$WORK/$out.wav"
}

# Semitones from A4 (440 Hz). A minor: Am - F - C - G.
voice melody pluck -9 \
  0 3 7 12 10 7 3 7   -4 0 3 8 7 3 0 3   -9 -5 -2 3 0 -2 -5 -2   -2 2 5 10 7 5 2 -2
voice bass square -22 \
  -24 r -24 -12 -24 r -17 -12   -28 r -28 -16 -28 r -21 -16   -33 r -33 -21 -33 r -26 -21   -26 r -26 -14 -26 r -19 -14
voice hat whitenoise -30 \
  r 0 r 0 r 0 r 0   r 0 r 0 r 0 r 0   r 0 r 0 r 0 r 0   r 0 r 0 r 0 0 0

sox -m "$WORK/melody.wav" "$WORK/bass.wav" "$WORK/hat.wav" "$WORK/mix.wav" norm -3
mkdir -p "$(dirname "$OUT")"
sox "$WORK/mix.wav" -C 3 "$OUT"
