#!/usr/bin/env bash
# install_test.sh BUILD_DIR: installs into a folder of its own and checks that
# the player, its desktop entry, icon and sample are there, and that the
# desktop's database offers the player for audio files.
set -euo pipefail
build="$1"
prefix="$(mktemp -d /tmp/marovel-install-XXXXXX)"
trap 'rm -rf "$prefix"' EXIT
mkdir -p "$prefix/share/icons/hicolor"
touch "$prefix/share/icons/hicolor/index.theme"
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/marovel share/applications/marovel.desktop share/icons/hicolor/scalable/apps/marovel.svg \
         share/marovel/samples/loop.ogg; do
  [ -f "$prefix/$f" ] || { echo "missing: $f"; exit 1; }
done
if command -v update-desktop-database >/dev/null; then
  for type in audio/x-wav audio/ogg audio/mpeg; do
    grep -q "^$type=.*marovel.desktop" "$prefix/share/applications/mimeinfo.cache" ||
      { echo "the desktop database does not offer the player for $type"; exit 1; }
  done
fi
if command -v gtk-update-icon-cache >/dev/null; then
  [ -f "$prefix/share/icons/hicolor/icon-theme.cache" ] || { echo "the icon cache was not made"; exit 1; }
fi
echo "installed and registered"
