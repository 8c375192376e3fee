#!/usr/bin/env bash
# Starts the real program on the virtual display, checks that its main window
# is on a screenshot, hands it a picture from a second start, and closes it
# with a third start "EXIT". Usage: smoke.sh <pictrova> <work folder>
set -euo pipefail
program=$1
work=$2
rm -rf "$work"
mkdir -p "$work/config" "$work/runtime" "$work/pictures"
chmod 700 "$work/runtime"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" HOME="$work"
unset QT_QPA_PLATFORM

fail() { echo "SMOKE FAILED: $*" >&2; [ -n "${first:-}" ] && kill "$first" 2>/dev/null; exit 1; }

# The window whose name matches, as "id width height x y".
find_window() {
  xwininfo -root -tree 2>/dev/null | grep -F "\"$1\"" | head -1 |
    sed -E 's/^ *(0x[0-9a-f]+) .* ([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\1 \2 \3 \4 \5/'
}
wait_window() {
  for _ in $(seq 1 150); do
    w=$(find_window "$1")
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.2
  done
  return 1
}

"$program" >"$work/first.log" 2>&1 &
first=$!
# The start-up splash, centred under the main window that opens over it:
# its version line shows below the window (its close button stays hidden
# while it is a splash).
splash=$(wait_window "About Pictrova 3") || fail "no splash appeared"
read -r _ _ _ sx sy <<<"$splash"
for _ in $(seq 1 10); do # until it has painted, well within its 3.5 s
  import -window root "$work/splash.png" || fail "no screenshot of the splash"
  dark=$(convert "$work/splash.png" -crop "180x16+$((sx + 12))+$((sy + 273))" -colorspace gray -threshold 50% \
    -format "%[fx:int(w*h*(1-mean)+0.5)]" info:)
  [ "$dark" -gt 20 ] && break
  sleep 0.2
done
[ "$dark" -gt 20 ] || fail "the splash is not on the screenshot ($dark text pixels)"
win=$(wait_window "Pictrova by Halvenworth") || fail "no main window appeared"
read -r id width height x y <<<"$win"
echo "main window $id ${width}x$height at $x,$y"
[ "$width" -ge 200 ] && [ "$height" -ge 150 ] || fail "main window too small: ${width}x$height"

sleep 1 # let it paint
import -window root "$work/screen.png" || fail "no screenshot"
cx=$((x + width / 2)); cy=$((y + height / 2))
pixel=$(convert "$work/screen.png" -format "%[fx:int(255*p{$cx,$cy}.r)],%[fx:int(255*p{$cx,$cy}.g)],%[fx:int(255*p{$cx,$cy}.b)]" info:)
echo "pixel at the window's centre: $pixel"
# The picture area's default background is the classic button face colour.
[ "$pixel" = "212,208,200" ] || fail "the window is not on the screenshot (centre pixel $pixel)"

# A second start hands its picture to the first and ends.
convert -size 8x8 xc:red "$work/pictures/red.png"
timeout 20 "$program" "$work/pictures/red.png" || fail "second instance did not end cleanly"
wait_window "Pictrova - $work/pictures/red.png" >/dev/null || fail "the first instance did not open the handed path"
kill -0 "$first" 2>/dev/null || fail "the first instance ended"

# "EXIT" from another start closes the running one.
timeout 20 "$program" EXIT || fail "EXIT instance did not end cleanly"
for _ in $(seq 1 100); do
  kill -0 "$first" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$first" 2>/dev/null && fail "the first instance is still running after EXIT"
wait "$first" || fail "the first instance exited with an error: $(cat "$work/first.log")"
grep -q '"SlideShowInterval" "5000"' "$work/config/Halvenworth/Pictrova 3/HKEY_CURRENT_USER.keys" \
  || fail "settings were not written at close"

# Without a running instance, EXIT ends at once.
timeout 10 "$program" EXIT || fail "EXIT without an instance"
echo "smoke test passed"
