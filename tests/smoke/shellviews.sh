#!/usr/bin/env bash
# The folder tree, path combo box and folder list in a real window on the
# virtual display: a screenshot is checked, a file is dragged with XTest
# input from the list onto a tree node and moves, and another process reads
# a Copy from the clipboard. Usage: shellviews.sh <check program> <work folder>
set -euo pipefail
program=$1
work=$2
rm -rf "$work"
mkdir -p "$work/tree/src" "$work/tree/dest" "$work/home/Desktop" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
  XDG_RUNTIME_DIR="$work/runtime"
unset QT_QPA_PLATFORM
echo drag >"$work/tree/src/drag.txt"
echo copy >"$work/tree/src/copy.txt"

fail() { echo "SHELL VIEWS FAILED: $*" >&2; kill "$pid" 2>/dev/null || true; exit 1; }
# until <seconds> <command...>: runs the command until it succeeds or the time is up.
until_ok() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.1
  done
}
field() { awk -v k="$1" '$1 == k { print $2 + int($4 / 2), $3 + int($5 / 2) }' "$work/geometry.txt"; }

"$program" show "$work" >"$work/program.log" 2>&1 &
pid=$!
until_ok 30 test -f "$work/geometry.txt" || fail "the views never agreed on the folder: $(cat "$work/program.log")"

shot_ok() {
  import -window root "$work/screen.png" 2>/dev/null && "$program" pixels "$work/screen.png" "$work/geometry.txt" >"$work/pixels.log"
}
until_ok 20 shot_ok || fail "screenshot: $(cat "$work/pixels.log")"
cat "$work/pixels.log"

# Drag drag.txt from the list onto the tree's "dest" and drop it: one device,
# no key, so it moves.
read -r x1 y1 <<<"$(field drag)"
read -r x2 y2 <<<"$(field dest)"
xdotool mousemove --sync "$x1" "$y1" mousedown 1
for step in 1 2 3 4 5 6 7 8 9 10; do
  xdotool mousemove --sync $((x1 + (x2 - x1) * step / 10)) $((y1 + (y2 - y1) * step / 10))
done
xdotool mousemove --sync "$x2" $((y2 + 1)) mousemove --sync "$x2" "$y2" mouseup 1
moved() { [ -f "$work/tree/dest/drag.txt" ] && [ ! -e "$work/tree/src/drag.txt" ]; }
until_ok 15 moved || fail "the dragged file did not move: $(ls -R "$work/tree")"
echo "dragged onto the tree: moved"

# Copy copy.txt through the list's context menu; xclip reads it as a file
# manager would.
read -r x3 y3 <<<"$(field copy)"
expected="copy
file://$work/tree/src/copy.txt"
copied() { [ "$(xclip -selection clipboard -t x-special/gnome-copied-files -o 2>/dev/null)" = "$expected" ]; }
copy_once() {
  xdotool mousemove --sync "$x3" "$y3" click 3
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    xdotool key c
    copied && return 0
    sleep 0.1
  done
  xdotool key Escape
  return 1
}
until_ok 20 copy_once || fail "the clipboard does not hold the copy: $(xclip -selection clipboard -t TARGETS -o 2>&1)"
xclip -selection clipboard -t text/uri-list -o | grep -qx "file://$work/tree/src/copy.txt.*" \
  || fail "no URI list on the clipboard"
echo "clipboard read by another process: copy"

kill "$pid"
wait "$pid" 2>/dev/null || true
echo "shell views check passed"
