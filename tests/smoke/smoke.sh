#!/usr/bin/env bash
# A short first session with the real program on the virtual display: it
# starts empty, a second start hands it a folder of pictures (shown on the
# strip and the view, checked on screenshots), a click on the strip shows
# another picture, and a third start "EXIT" closes it.
# Usage: smoke.sh <pictrova> <work folder>
set -euo pipefail
program=$1
work=$2
rm -rf "$work"
mkdir -p "$work/config" "$work/runtime" "$work/pictures"
chmod 700 "$work/runtime"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" HOME="$work"
unset QT_QPA_PLATFORM
source "$(dirname "$0")/screenlib.sh"

fail() { echo "SMOKE FAILED: $*" >&2; [ -n "${first:-}" ] && kill "$first" 2>/dev/null; exit 1; }

"$program" >"$work/first.log" 2>&1 &
first=$!
watch_program "$first"
win=$(wait_window "^Pictrova by Halvenworth$") || fail "no main window appeared"
read -r id width height x y <<<"$win"
echo "main window $id ${width}x$height at $x,$y"
[ "$width" -ge 200 ] && [ "$height" -ge 150 ] || fail "main window too small: ${width}x$height"
sleep 1 # let it paint
shot screen
# Without a picture the view shows its background, the classic button face.
centre=$(pixel screen $((x + width / 2)) $((y + height / 2)))
[ "$centre" = "212,208,200" ] || fail "the window is not on the screenshot (centre pixel $centre)"

# The splash closes itself; Help > About shows the same window, now with its
# shape-button Close in the forms' values: the face, the silver bevel on its
# right and the shadow strip 3 pixels deep.
wait_gone "^About Pictrova 3$" || fail "the splash did not close itself"
click $((x + 200)) $((y + height - 8))
xdotool key alt+h
sleep 0.3
# About is the Help menu's last item.
xdotool key Up Return
about=$(wait_window "^About Pictrova 3$") || fail "Help > About did not open the about box"
read -r _ _ _ ax ay <<<"$about"
xdotool mousemove --sync $((ax + 20)) $((ay + 20)) # over the picture, off the button
sleep 0.5
shot about
bx=$((ax + 250)) by=$((ay + 303)) # the Close button, 75 x 25
for probe in "4 10 212,208,200 face" "71 11 192,192,192 bevel" "73 12 128,128,128 shadow" "35 23 128,128,128 shadow"; do
  read -r px py want what <<<"$probe"
  got=$(pixel about $((bx + px)) $((by + py)))
  [ "$got" = "$want" ] || fail "the about box's Close button: $what at $px,$py is $got, not $want"
done
xdotool key Escape
wait_gone "^About Pictrova 3$" || fail "Escape did not close the about box"

# A second start hands over a folder of pictures and ends.
marked_picture "$work/pictures/a.png" "#0000FF"
marked_picture "$work/pictures/b.jpg" "#FF0000" 320x240
timeout 20 "$program" "$work/pictures" || fail "second instance did not end cleanly"
wait_window "^Pictrova - $work/pictures/a.png$" >/dev/null || fail "the first instance did not open the folder"
kill -0 "$first" 2>/dev/null || fail "the first instance ended"
sleep 1
view="${width}x$((height - 230))+$x+$((y + 168))"
strip="${width}x120+$x+$((y + 45))"
shot folder
check_marked folder "#0000FF" "$view" >/dev/null
thumb=$(where folder "#FF0000" "$strip") || fail "no thumbnail of b.jpg on the strip"

# A click on the thumbnail shows that picture.
read -r tw th tx ty <<<"$thumb"
click $((tx + tw / 2)) $((ty + th / 2))
wait_window "^Pictrova - $work/pictures/b.jpg$" >/dev/null || fail "the click did not show b.jpg"
sleep 1
shot clicked
check_marked clicked "#FF0000" "$view" >/dev/null

# "EXIT" from another start closes the running one.
timeout 20 "$program" EXIT || fail "EXIT instance did not end cleanly"
for _ in $(seq 1 100); do
  kill -0 "$first" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$first" 2>/dev/null && fail "the first instance is still running after EXIT"
wait "$first" || fail "the first instance exited with an error: $(cat "$work/first.log")"
keys="$work/config/Halvenworth/Pictrova 3/HKEY_CURRENT_USER.keys"
grep -q '"SlideShowInterval" "5000"' "$keys" || fail "settings were not written at close"
grep -q "\"$work/pictures\"" "$keys" || fail "the folder is not among the recent folders"

# Without a running instance, EXIT ends at once.
timeout 10 "$program" EXIT || fail "EXIT without an instance"
echo "smoke test passed"
