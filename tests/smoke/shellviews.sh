#!/usr/bin/env bash
# The folder tree, path combo box and folder list in a real window on the
# virtual display: a screenshot is checked, a file is dragged with XTest
# input from the list onto a tree node and moves, and another process reads
# a Copy from the clipboard. A folder "2024=best" dragged onto a tree node
# moves whole, its neighbour "2024" staying where it is.
# Usage: shellviews.sh <check program> <work folder>
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
mkdir -p "$work/tree/src/2024" "$work/tree/src/2024=best" "$work/expected"
echo d >"$work/tree/src/2024/d.jpg"
echo e >"$work/tree/src/2024=best/e.jpg"
cp -a "$work/tree/src/." "$work/expected/"

fail() { echo "SHELL VIEWS FAILED: $*" >&2; kill "$pid" 2>/dev/null || true; exit 1; }
# until <seconds> <command...>: runs the command until it succeeds or the
# time is up; at once when the program has ended.
until_ok() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do
    [ $SECONDS -lt $end ] || return 1
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
}
field() { awk -v k="$1" '$1 == k { print $2 + int($4 / 2), $3 + int($5 / 2) }' "$work/geometry.txt"; }

# Where a name read as "from=to" would put "to".
cd "$work"
"$program" show "$work" >"$work/program.log" 2>&1 &
pid=$!
until_ok 30 test -f "$work/geometry.txt" || fail "the views never agreed on the folder: $(cat "$work/program.log")"

shot_ok() {
  import -window root "$work/screen.png" 2>/dev/null && "$program" pixels "$work/screen.png" "$work/geometry.txt" >"$work/pixels.log"
}
until_ok 20 shot_ok || fail "screenshot: $(cat "$work/pixels.log")"
cat "$work/pixels.log"

# drag <from field> <to field>: drags with the left button from one
# rectangle's centre to the other's.
drag() {
  read -r x1 y1 <<<"$(field "$1")"
  read -r x2 y2 <<<"$(field "$2")"
  xdotool mousemove --sync "$x1" "$y1" mousedown 1
  for step in 1 2 3 4 5 6 7 8 9 10; do
    xdotool mousemove --sync $((x1 + (x2 - x1) * step / 10)) $((y1 + (y2 - y1) * step / 10))
  done
  xdotool mousemove --sync "$x2" $((y2 + 1)) mousemove --sync "$x2" "$y2" mouseup 1
}

# Drag drag.txt from the list onto the tree's "dest" and drop it: one device,
# no key, so it moves.
drag drag dest
moved() { [ -f "$work/tree/dest/drag.txt" ] && [ ! -e "$work/tree/src/drag.txt" ]; }
until_ok 15 moved || fail "the dragged file did not move: $(ls -R "$work/tree")"
cmp -s "$work/expected/drag.txt" "$work/tree/dest/drag.txt" || fail "the moved drag.txt is not the file it was"
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

# The folder 2024=best (above the rows that went) onto "dest": it moves
# whole; 2024 and its file stay, and nothing named "best" appears.
drag best dest
best_moved() { [ -d "$work/tree/dest/2024=best" ] && [ ! -e "$work/tree/src/2024=best" ]; }
until_ok 15 best_moved || fail "2024=best did not move: $(ls -R "$work/tree") $(cat "$work/program.log")"
cmp -s "$work/expected/2024=best/e.jpg" "$work/tree/dest/2024=best/e.jpg" || fail "2024=best/e.jpg changed"
cmp -s "$work/expected/2024/d.jpg" "$work/tree/src/2024/d.jpg" || fail "2024/d.jpg moved: $(ls -R "$work/tree")"
cmp -s "$work/expected/copy.txt" "$work/tree/src/copy.txt" || fail "copy.txt changed"
found=$(find "$work" -name best)
[ -z "$found" ] || fail "a name was read as a mapping: $found"
echo "a folder named 2024=best dragged onto the tree: moved whole"

kill "$pid"
wait "$pid" 2>/dev/null || true
echo "shell views check passed"
