#!/usr/bin/env bash
# deps.sh: installs the Debian packages the build and the tests need, quietly,
# and only when one is missing. Root runs apt-get directly; others go through sudo.
set -euo pipefail

PACKAGES="build-essential cmake pkg-config clang-14 libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev libsdl2-dev libopenal-dev libsoundtouch-dev libvorbis-dev libmpg123-dev libsndfile1-dev libflac-dev libopusfile-dev libavformat-dev libavcodec-dev libgtk-3-dev libfreetype-dev libfontconfig-dev fonts-ipafont-gothic libx11-dev libxtst-dev desktop-file-utils xvfb xauth xdotool xclip x11-utils imagemagick sox libsox-fmt-all lame vorbis-tools flac opus-tools ffmpeg mpg123 dbus-daemon dbus-session-bus-common libglib2.0-bin util-linux doxygen"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
echo "Installing:$missing" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
