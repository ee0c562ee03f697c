#!/usr/bin/env bash
# fuzz_sound_loader.sh: builds the sound loader's libFuzzer target with clang 14
# (AddressSanitizer, UndefinedBehaviorSanitizer) in a build folder of its own,
# makes a seed corpus of small valid files of every format with sox, lame,
# oggenc, flac, opusenc and ffmpeg, and fuzzes for the given number of seconds.
# Fails on any crash, leak, sanitizer report or input slower than one second.
#
#   scripts/fuzz_sound_loader.sh [seconds=60] [build folder=build-fuzz-sound]
# A long run: scripts/fuzz_sound_loader.sh 3600
# Crashing inputs are left in the build folder as crash-*, leak-*, timeout-*.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
SECONDS_TO_RUN="${1:-60}"
OUT="${2:-$ROOT/build-fuzz-sound}"
SHARED="${RAVLIN_SHARED_DIR:-$ROOT/../shared}"
CXX=clang++-14
command -v "$CXX" >/dev/null || { echo "fuzz_sound_loader: $CXX missing" >&2; exit 1; }
mkdir -p "$OUT/work" "$OUT/seeds"

# The decode path only: no window, no device.
SOURCES=(
  "$ROOT/tests/fuzz/fuzz_sound_loader.cpp"
  "$ROOT/sound/sound_decode.cpp"
  "$ROOT"/platform/readers/*.cpp
  "$ROOT/platform/mpeg_frames.cpp"
  "$ROOT/platform/memory.cpp"
)
BIN="$OUT/fuzz_sound_loader"
NEWEST=$(ls -t "${SOURCES[@]}" "$ROOT/sound/sound_loader_internal.h" "$ROOT/platform/sound_reader.h" "$ROOT/platform/readers/reader_common.h" "$ROOT/platform/mpeg_frames.h" "$ROOT/platform/byte_order.h" "$ROOT/platform/platform.h" "$ROOT/include/ravlin.h" "$0" | head -1)
if [ ! -x "$BIN" ] || [ "$NEWEST" -nt "$BIN" ]; then
  # shellcheck disable=SC2046
  "$CXX" -std=c++20 -g -O1 -fno-omit-frame-pointer -I"$ROOT" -I"$ROOT/include" -DRAVLIN_WITH_FFMPEG \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    "${SOURCES[@]}" -o "$BIN" \
    $(pkg-config --cflags --libs vorbisfile libmpg123 sndfile flac opusfile libavformat libavcodec libavutil)
fi

# Seeds: a tenth of a second of every format the loader takes.
SEEDS="$OUT/seeds"
if [ ! -e "$SEEDS/.made-2" ]; then
  T="$OUT/seed-source.wav"
  sox -n -b 16 -c 2 -r 22050 "$T" synth 0.1 sine 440 sine 700 2>/dev/null
  sox -n -b 16 -c 1 -r 8000 "$OUT/seed-mono.wav" synth 0.2 sine 300 2>/dev/null
  sox "$T" -b 8 "$SEEDS/pcm8.wav"
  cp "$T" "$SEEDS/pcm16.wav"
  sox "$T" -b 24 -t wavpcm "$SEEDS/pcm24.wav"
  sox "$T" -e floating-point -b 32 "$SEEDS/float.wav"
  sox "$T" -c 3 "$SEEDS/extensible.wav" 2>/dev/null
  sox "$T" -e ms-adpcm "$SEEDS/ms_adpcm.wav"
  sox "$T" -e ima-adpcm "$SEEDS/ima_adpcm.wav"
  sox "$T" -e a-law "$SEEDS/alaw.wav"
  sox "$T" -e u-law "$SEEDS/mulaw.wav"
  sox "$OUT/seed-mono.wav" -e gsm-full-rate "$SEEDS/gsm.wav"
  lame --quiet -b 64 --add-id3v2 --tt t "$T" "$SEEDS/mpeg2_tags.mp3"
  lame --quiet -b 128 --resample 44.1 "$T" "$SEEDS/mpeg1.mp3"
  lame --quiet -V 7 -m m "$OUT/seed-mono.wav" "$SEEDS/mpeg2_vbr_mono.mp3"
  oggenc -Q -q 0 -o "$SEEDS/stereo.ogg" "$T"
  oggenc -Q -q 0 -o "$SEEDS/mono.ogg" "$OUT/seed-mono.wav"
  ffmpeg -v quiet -y -i "$T" -c:a libmp3lame -b:a 32k "$SEEDS/mp3_in.wav" || true
  ffmpeg -v quiet -y -i "$T" -c:a mp2 -b:a 64k -f mp2 "$SEEDS/layer2.mp2" || true
  flac -s -f -o "$SEEDS/stereo.flac" "$T"
  sox "$T" -b 24 -t wav - | flac -s -f -o "$SEEDS/24bit.flac" -
  flac -s -f -o "$SEEDS/mono.flac" "$OUT/seed-mono.wav"
  { printf 'ID3\003\000\000\000\000\000\012'; head -c 10 /dev/zero; cat "$SEEDS/mono.flac"; } > "$SEEDS/id3.flac"
  opusenc --quiet --bitrate 16 "$T" "$SEEDS/stereo.opus"
  opusenc --quiet "$OUT/seed-mono.wav" "$SEEDS/mono.opus"
  ffmpeg -v quiet -y -i "$T" -c:a aac -b:a 32k "$SEEDS/aac.m4a"
  ffmpeg -v quiet -y -i "$T" -c:a aac -b:a 32k -movflags +faststart "$SEEDS/aac_faststart.m4a"
  ffmpeg -v quiet -y -i "$OUT/seed-mono.wav" -c:a alac "$SEEDS/alac.m4a"
  touch "$SEEDS/.made-2"
fi

# Inputs once found failing, and the corpus's small malformed files, join the
# seeds, read in place.
EXTRA=("$ROOT/tests/fuzz/regressions")
if [ -d "$SHARED/corpus/malformed" ]; then
  for d in "$SHARED"/corpus/malformed/*/*/; do EXTRA+=("$d"); done
fi

cd "$OUT"
export LSAN_OPTIONS="suppressions=$ROOT/tests/fuzz/lsan_sound_loader.supp:print_suppressions=0"
"$BIN" -max_total_time="$SECONDS_TO_RUN" -timeout=1 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
  -max_len=65536 -print_final_stats=1 work "$SEEDS" "${EXTRA[@]}"
