#!/usr/bin/env bash
# sound_load_bench.sh: load time of a five-minute file in each format against
# command-line decoders of the same file, in one run, as ratios (ours / theirs;
# below 1 is faster), and the peak memory of one load against file + PCM.
# Goals: MP3 and Ogg at most 0.6 x of mpg123 and oggdec, FLAC, Opus and AAC
# (.m4a) at most 0.6 x of flac -d, opusdec and ffmpeg, the WAVE rows (IMA
# ADPCM and PCM) at most 0.7 x of sox; peak memory at most file + 1.1 x PCM +
# 20 MB. ALAC is shown beside ffmpeg without a goal. Long sounds decode on
# both cores, so the machine should be quiet.
#
#   bench/sound_load_bench.sh [seconds of sound=300]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
LENGTH="${1:-300}"
OUT="$ROOT/build-bench-sound"
mkdir -p "$OUT/files"
cmake -S "$ROOT" -B "$OUT" -DCMAKE_BUILD_TYPE=Release -DRAVLIN_BENCH=ON -DRAVLIN_TESTS=OFF >/dev/null
cmake --build "$OUT" -j2 --target sound_load_bench >/dev/null
BENCH="$OUT/bench/sound_load_bench"

F="$OUT/files"
if [ ! -e "$F/.made-2-$LENGTH" ]; then
  # Something like music: chords, a slow sweep and some noise, in stereo.
  sox -n -b 16 -c 2 -r 44100 "$F/source.wav" synth "$LENGTH" sine 220 sine 330 \
    synth "$LENGTH" sine mix 100-2000 synth "$LENGTH" pinknoise mix vol 0.5 2>/dev/null
  lame --quiet -b 192 "$F/source.wav" "$F/cbr192.mp3"
  lame --quiet -V 2 "$F/source.wav" "$F/vbr.mp3"
  oggenc -Q -q 5 -o "$F/q5.ogg" "$F/source.wav"
  sox "$F/source.wav" -e ms-adpcm "$F/msadpcm.wav"
  sox "$F/source.wav" -e ima-adpcm "$F/imaadpcm.wav"
  flac -s -f -o "$F/source.flac" "$F/source.wav"
  opusenc --quiet "$F/source.wav" "$F/source.opus"
  ffmpeg -v quiet -y -i "$F/source.wav" -c:a aac -b:a 192k "$F/aac.m4a"
  ffmpeg -v quiet -y -i "$F/source.wav" -c:a alac "$F/alac.m4a"
  touch "$F/.made-2-$LENGTH"
fi

# Best wall time (seconds) of three runs of a command.
best_of_three() {
  local best=""
  for _ in 1 2 3; do
    local start end t
    start=$(date +%s.%N)
    bash -c "$1" >/dev/null 2>&1
    end=$(date +%s.%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  echo "$best"
}

printf '%-13s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s\n' file decode_s load_s fake_s ref_s ffmpeg_s \
  dec/ref load/ref fake/ref load/ff peak/bud fpeak/bud
for name in cbr192.mp3 vbr.mp3 q5.ogg msadpcm.wav imaadpcm.wav source.wav source.flac source.opus aac.m4a alac.m4a; do
  file="$F/$name"
  read -r decode load fake pcm < <("$BENCH" time "$file")
  peak=$("$BENCH" memory "$file" device)
  fpeak=$("$BENCH" memory "$file" fake)
  case "$name" in
    *.mp3) ref=$(best_of_three "mpg123 -q -s '$file' > /dev/null") ;;
    *.ogg) ref=$(best_of_three "oggdec -Q -R -o - '$file' > /dev/null") ;;
    *.flac) ref=$(best_of_three "flac -s -d -c '$file' > /dev/null") ;;
    *.opus) ref=$(best_of_three "opusdec --quiet '$file' - > /dev/null") ;;
    *.m4a) ref=$(best_of_three "ffmpeg -v quiet -i '$file' -f s16le - > /dev/null") ;;
    *) ref=$(best_of_three "sox '$file' -t s16 - > /dev/null") ;;
  esac
  ff=$(best_of_three "ffmpeg -v quiet -threads 1 -i '$file' -f s16le - > /dev/null")
  size=$(stat -c %s "$file")
  awk -v n="$name" -v d="$decode" -v l="$load" -v k="$fake" -v r="$ref" -v f="$ff" -v p="$peak" -v q="$fpeak" \
      -v s="$size" -v c="$pcm" \
    'BEGIN { budget = s + 1.1 * c + 20 * 1048576;
             printf "%-13s %8.3f %8.3f %8.3f %8.3f %8.3f %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f\n",
                    n, d, l, k, r, f, d / r, l / r, k / r, l / f, p / budget, q / budget }'
done
echo "ratios: ours / reference (mpg123 -s for MP3, oggdec for Ogg, sox for WAVE, flac -d for FLAC, opusdec"
echo "for Opus, ffmpeg -f s16le for .m4a); load/ff: ours / ffmpeg -threads 1 -f s16le."
echo "decode = file to PCM in memory; load = LoadSoundFile into the real device (OpenAL loopback,"
echo "nothing playing); fake = the same into the unit tests' fake device (test infrastructure, for comparison)."
echo "peak/bud = peak resident growth of one load into the real device / (file + 1.1 x PCM + 20 MB);"
echo "fpeak/bud = the same into the fake device. Goals: load/ref <= 0.6 for MP3, Ogg, FLAC, Opus and"
echo "aac.m4a, <= 0.7 for imaadpcm.wav and source.wav; peak/bud <= 1"
