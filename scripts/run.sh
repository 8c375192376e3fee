#!/usr/bin/env bash
# Installs what is missing, builds the viewer and starts it, optionally on a
# picture or folder: scripts/run.sh [picture-or-folder]
source "$(dirname "$0")/common.sh"

install_packages $BUILD_PACKAGES
configure "$ROOT/build/release" -DCMAKE_BUILD_TYPE=Release -DPICTROVA_TESTS=OFF -DPICTROVA_BENCH=OFF
build "$ROOT/build/release" --target pictrova

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  fail "no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)"
fi
args=()
for a in "$@"; do
  # The running instance is handed absolute paths only.
  if [ -e "$a" ]; then args+=("$(realpath "$a")"); else args+=("$a"); fi
done
say "Starting Pictrova 3"
exec "$ROOT/build/release/app/pictrova" "${args[@]}"
