#!/usr/bin/env bash
# tsan_player_test.sh PLAYER: the player built with ThreadSanitizer, driven
# through everything that runs on more than one thread: the file dialog (GTK's
# thread), a file handed over while the dialog shows and another while it
# plays, and the media controls on the session bus (GIO's worker thread).
# Fails on any ThreadSanitizer report that names a file of this project, and
# when the player does not do what it is asked.
# Runs on a display and a session bus of its own.
set -uo pipefail
player="$1"
here="$(cd "$(dirname "$0")/../.." && pwd)"
if [ ! -x "$player" ]; then
  echo "no ThreadSanitizer build of the player at $player" >&2
  exit 1
fi
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  exec dbus-run-session -- bash "$0" "$@"
fi
work="$(mktemp -d)"
XVFB_PID=""
PLAYER_PID=""
cleanup() {
  [ -n "$PLAYER_PID" ] && kill -9 "$PLAYER_PID" 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  [ -n "${KEEP_TSAN_LOG:-}" ] && cp "$work/player.log" "$KEEP_TSAN_LOG"
  rm -rf "$work"
}
trap cleanup EXIT
. "$here/scripts/xvfb.sh"
start_xvfb 1024x768x24 || exit 1

mkdir -m 0700 "$work/run"
export XDG_RUNTIME_DIR="$work/run" GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 HOME="$work"
printf '[general]\ndrivers=null\n' > "$work/alsoft.conf"
export ALSOFT_CONF="$work/alsoft.conf"
# Reports go on; the log is read at the end.
export TSAN_OPTIONS="halt_on_error=0 exitcode=0 report_signal_unsafe=0 second_deadlock_stack=1"
sox -n -r 44100 -b 16 -c 1 "$work/a.wav" synth 1 sine 440 2>/dev/null
sox -n -r 44100 -b 16 -c 1 "$work/b.wav" synth 1 sine 880 2>/dev/null

failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }
bus() { gdbus call --session -d org.mpris.MediaPlayer2.marovel -o /org/mpris/MediaPlayer2 "$@" 2>&1; }
status() { bus -m org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player PlaybackStatus; }
wait_for() {  # seconds, command...: until the command succeeds
  local end=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.2
  done
}

(cd "$work" && exec "$player" 2>"$work/player.log") &
PLAYER_PID=$!
wait_for 60 xdotool search --name "開け" || fail "the dialog did not show"
(cd "$work" && "$player" a.wav 2>"$work/second.log") || fail "the hand-over to the dialog failed: $(cat "$work/second.log")"
wait_for 30 sh -c "! xdotool search --name '開け'" || fail "the dialog stayed"
wait_for 30 sh -c "gdbus call --session -d org.mpris.MediaPlayer2.marovel -o /org/mpris/MediaPlayer2 -m org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player PlaybackStatus | grep -q Playing" \
  || fail "not playing after the hand-over: $(status)"
bus -m org.freedesktop.DBus.Properties.Set org.mpris.MediaPlayer2.Player Rate '<0.5>' >/dev/null
bus -m org.mpris.MediaPlayer2.Player.PlayPause >/dev/null
bus -m org.mpris.MediaPlayer2.Player.PlayPause >/dev/null
bus -m org.freedesktop.DBus.Properties.GetAll org.mpris.MediaPlayer2.Player >/dev/null
bus -m org.freedesktop.DBus.Properties.Set org.mpris.MediaPlayer2.Player Rate '<0.0>' >/dev/null
bus -m org.mpris.MediaPlayer2.Player.Play >/dev/null
(cd "$work" && "$player" b.wav 2>>"$work/second.log") || fail "the hand-over while playing failed: $(cat "$work/second.log")"
wait_for 30 sh -c "gdbus call --session -d org.mpris.MediaPlayer2.marovel -o /org/mpris/MediaPlayer2 -m org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player Metadata | grep -q b.wav" \
  || fail "the second file did not arrive"
[ "$(bus -m org.mpris.MediaPlayer2.Quit)" = "()" ] || fail "Quit was not answered"
for _ in $(seq 150); do kill -0 "$PLAYER_PID" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$PLAYER_PID" 2>/dev/null; then
  fail "the player did not end"
else
  wait "$PLAYER_PID"; code=$?
  PLAYER_PID=""
  [ "$code" = 0 ] || fail "the player ended with $code"
fi

# Every report, and those in this project's code: one where either access,
# below the sanitizer's own frames, is in a file of this project. GLib hands
# memory between its threads under locks of its own that ThreadSanitizer
# cannot see (futexes, not pthread mutexes): a block that GLib allocated,
# whose other access is GLib's own, is such a hand-over and is not counted.
reports=$(cat "$work/player.log" "$work/second.log" | grep -c "WARNING: ThreadSanitizer" || true)
ours=$(cat "$work/player.log" "$work/second.log" | awk -v here="$here/" '
  function kind(line) { return index(line, here) > 0 ? "ours" : "library" }
  /WARNING: ThreadSanitizer/ { inside = 1; block = $0 "\n"; n = 0; section = ""; heap = 0; alloc = ""; next }
  !inside { next }
  /^SUMMARY: ThreadSanitizer/ {
    block = block $0 "\n"
    involved = first[1] == "ours" || first[2] == "ours"
    handoff = heap && alloc == "library" && (first[1] == "library" || first[2] == "library")
    if (involved && !handoff) printf "%s\n", block
    inside = 0; delete first; next
  }
  { block = block $0 "\n" }
  /^  (Previous (read|write|atomic)|Read|Write|Atomic)/ { n++; section = "access"; next }
  /^  Location is heap block/ { heap = 1; section = "alloc"; next }
  /^  [A-Z]/ { section = ""; next }
  /^    #[0-9]+ / {
    if ($0 ~ /libtsan|libsanitizer|tsan_interceptors/) next
    if (section == "access" && !(n in first)) first[n] = kind($0)
    if (section == "alloc" && alloc == "") alloc = kind($0)
  }')
echo "ThreadSanitizer reports: $reports in all"
if [ -n "$ours" ]; then
  echo "reports in this project's code:" >&2
  echo "$ours" >&2
  failed=1
fi
exit $failed
