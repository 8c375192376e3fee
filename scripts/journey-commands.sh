#!/usr/bin/env bash
# A user's second session with the real program, under a virtual display:
# the commands. Keys, menus and dialogs driven by synthetic input; every
# step is a screenshot checked against the pictures and files.
#   tests/smoke/ondisplay.sh scripts/journey-commands.sh <pictrova> [work folder]
set -euo pipefail
program=$1
work=${2:-/tmp/pictrova-commands}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/smoke/screenlib.sh"
journey_env "$work" pics
pid=""
fail() { echo "COMMANDS JOURNEY FAILED: $*" >&2; [ -n "$pid" ] && kill "$pid" 2>/dev/null; exit 1; }
step() { echo "== $*"; }
keys="$work/config/Halvenworth/Pictrova 3/HKEY_CURRENT_USER.keys"

# A quick slide show, no transition, no prompts but the slide show's.
settings SlideShowInterval=1000 ImageTransitionEffect=0 ShowFullScreenPrompt=False ShowSlideShowPrompt=False

# SANE's test device is the only scanner this session knows.
mkdir -p "$work/sane"
echo test >"$work/sane/dll.conf"
printf 'number_of_devices 1\nmode Color\ndepth 8\nresolution 50.0\ntest-picture "Color pattern"\n' >"$work/sane/test.conf"
export SANE_CONFIG_DIR="$work/sane"

pics=$work/pics
marked_picture "$pics/a-blue.png" "#0000FF" 400x300
marked_picture "$pics/b-green.png" "#00B000" 400x300
marked_picture "$pics/c-red.png" "#FF0000" 480x360

start() {
  "$program" "$@" >>"$work/program.log" 2>&1 &
  pid=$!
  watch_program "$pid"
}

step "open a folder, show a picture"
start "$pics"
win=$(wait_window "^Pictrova - $pics/a-blue.png$") || fail "the first picture is not shown"
read -r id width height x y <<<"$win"
xdotool windowsize --sync "$id" 900 700
xdotool windowmove --sync "$id" 0 0
sleep 1
click 450 400
xdotool key Right Right
wait_title "Pictrova - $pics/c-red.png" || fail "Right did not step to c-red.png ($(title))"
sleep 0.5
view="900x450+0+170"
shot 01-red
check_marked 01-red "#FF0000" "$view" >/dev/null

step "rotate it with the tool box"
xdotool key ctrl+t
tools=$(wait_window "^Image Tools$") || fail "the tool box did not open"
read -r tid tw th tx ty <<<"$tools"
shot 02-toolbox
# The first button of the Rotate frame turns clockwise.
click $((tx + 8 + 12 + 20)) $((ty + 6 + 18 + 14))
wait_title "Pictrova - $pics/c-red.png*" || fail "the rotation did not mark the picture modified ($(title))"
sleep 0.5
shot 02-rotated
box=$(where 02-rotated "#FF0000" "$view") || fail "no red picture after the rotation"
read -r bw bh bx by <<<"$box"
[ "$bh" -gt "$bw" ] || fail "the rotated picture is not upright (${bw}x$bh)"
# Turned clockwise: the white mark is now at the top right.
white=$(where 02-rotated white "${bw}x${bh}+${bx}+${by}") || fail "no white mark after the rotation"
read -r ww wh wx wy <<<"$white"
[ $((wx + ww)) -ge $((bx + bw - 2)) ] && [ "$wy" -le "$by" ] || fail "the white mark is not at the top right"
# Its Close button.
click $((tx + 60)) $((ty + 322 + 12))
wait_gone "^Image Tools$" || fail "the tool box did not close"

step "save it as PNG through save-as"
click 450 400
xdotool key alt+f
sleep 0.3
shot 03-menu
for _ in 1 2 3 4 5; do xdotool key Down; done
xdotool key Return
save=$(wait_window "^Save Image$") || { shot 03-nodialog; fail "the save-as dialog did not open"; }
read -r sid sw sh sx sy <<<"$save"
sleep 0.5
click $((sx + 100 + 150)) $((sy + 322 + 12))
xdotool key ctrl+a
xdotool type --delay 20 "turned.png"
shot 03-save
xdotool key Return
wait_gone "^Save Image$" || fail "the save-as dialog did not close"
sleep 1
[ -f "$pics/turned.png" ] || fail "turned.png was not written"
read -r fw fh <<<"$(identify -format "%w %h" "$pics/turned.png")"
[ "$fw" = 360 ] && [ "$fh" = 480 ] || fail "turned.png is ${fw}x$fh, not 360x480"
# The file holds the turned pixels: white top right, black bottom left.
at() { convert "$pics/turned.png" -format "%[fx:int(255*p{$1,$2}.r)],%[fx:int(255*p{$1,$2}.g)],%[fx:int(255*p{$1,$2}.b)]" info:; }
[ "$(at 350 10)" = "255,255,255" ] || fail "turned.png: no white mark top right"
[ "$(at 10 470)" = "0,0,0" ] || fail "turned.png: no black mark bottom left"
[ "$(at 180 240)" = "255,0,0" ] && [ "$(at 10 10)" = "255,0,0" ] || fail "turned.png: not red where it should be"

step "start a slide show: it goes round the folder in order and stops where it began"
click 450 400
xdotool key s
sleep 0.5
window_place "$id" || fail "the main window is gone"
[ "$WIDTH" = 1280 ] && [ "$HEIGHT" = 1024 ] || fail "the show is not in full screen (${WIDTH}x$HEIGHT)"
shot 04-show
box=$(where 04-show "#FF0000" 1280x1024+0+0) || fail "the show does not show the red picture"
read -r bw bh bx by <<<"$box"
[ "$bh" -ge 1000 ] || fail "the show's picture does not fill the screen's height ($box)"
# Titles until the show gives the window back (40 s at most: a loaded
# machine slows the pictures, not the order). The red picture's first turn
# may pass before the first look; the screenshot above has seen it.
seen=""
for _ in $(seq 1 400); do
  t=$(title)
  case "$seen" in *"|$t") ;; *) seen="$seen|$t" ;; esac
  window_place "$id" || break
  [ "$WIDTH" = 1280 ] || break
  sleep 0.1
done
sleep 0.3
t=$(title)
case "$seen" in *"|$t") ;; *) seen="$seen|$t" ;; esac
order=$(tr '|' '\n' <<<"$seen" | sed -n "s|^Pictrova - $pics/||p" | tr '\n' ' ')
echo "shown: $order"
case "$order" in
  "c-red.png turned.png a-blue.png b-green.png c-red.png " | "turned.png a-blue.png b-green.png c-red.png ") ;;
  *) fail "the show went $order" ;;
esac
window_place "$id" || fail "the main window is gone"
[ "$WIDTH" = 900 ] && [ "$HEIGHT" = 700 ] || fail "the window did not come back from the show (${WIDTH}x$HEIGHT)"

step "a show stopped by Escape"
xdotool key s
sleep 1.5
xdotool key Escape
sleep 0.5
after=$(title)
window_place "$id" || fail "the main window is gone"
[ "$WIDTH" = 900 ] && [ "$HEIGHT" = 700 ] || fail "Escape did not end the show's full screen (${WIDTH}x$HEIGHT)"
sleep 2.2
[ "$(title)" = "$after" ] || fail "the show went on after Escape"

step "full screen and back"
xdotool key F11
sleep 1
window_place "$id" || fail "the main window is gone"
[ "$WIDTH" = 1280 ] && [ "$HEIGHT" = 1024 ] || fail "F11 did not fill the screen (${WIDTH}x$HEIGHT)"
shot 05-full
# The full-screen controls: the film strip without the menu bar above it,
# so the strip's black band starts right under the tab row.
near "$(pixel 05-full 1000 40)" 0,0,0 || fail "full screen still shows the menu"
xdotool key Escape
sleep 1
window_place "$id" || fail "the main window is gone"
[ "$WIDTH" = 900 ] && [ "$HEIGHT" = 700 ] || fail "Escape did not leave full screen (${WIDTH}x$HEIGHT)"

step "print preview and print of the shown picture"
shown=$(title)
shown=${shown##*/}
xdotool key alt+f
sleep 0.3
# The menu opens on its first item; Print Preview is twelve below.
for _ in $(seq 1 12); do xdotool key Down; done
# print_window <key> <shot> <what>: the key opens a window showing the red
# picture, and Escape closes it.
print_window() {
  local found w h x y
  xdotool key "$1"
  found=$(wait_window "^Pictrova - $shown$") || { shot "$2-missing"; fail "$3 did not open"; }
  read -r _ w h x y <<<"$found"
  sleep 1
  shot "$2"
  where "$2" "#FF0000" "${w}x${h}+${x}+${y}" >/dev/null || fail "$3 does not show the red picture"
  xdotool key Escape
  wait_gone "^Pictrova - $shown$" || fail "$3 did not close"
}
print_window Return 06-preview "the print preview"
print_window ctrl+p 06-print "the print window"

step "change the slide-show interval in the preferences"
xdotool key F8
prefs=$(wait_window "^Preferences$") || fail "the preferences did not open"
read -r pid2 pw ph px py <<<"$prefs"
sleep 0.5
shot 06-prefs
xdotool key ctrl+Tab
sleep 0.3
shot 06-slideshow
# The seconds box of the Slide Show page.
click $((px + 268)) $((py + 60))
xdotool key ctrl+a
xdotool type --delay 20 "3"
xdotool key Return
wait_gone "^Preferences$" || { shot 06-stuck; fail "the preferences did not close"; }

step "restart: the interval is kept"
timeout 20 "$program" EXIT || fail "EXIT did not end"
wait "$pid" || fail "the program ended with an error"
pid=""
grep -q '"SlideShowInterval" "3000"' "$keys" || fail "the interval was not written: $(grep SlideShowInterval "$keys")"
start "$pics"
wait_window "^Pictrova - $pics/a-blue.png$" >/dev/null || fail "no window after the restart"
timeout 20 "$program" EXIT
wait "$pid" || fail "the program ended with an error"
pid=""
grep -q '"SlideShowInterval" "3000"' "$keys" || fail "the interval was not kept after a restart"

step "scan a new picture from the test device"
start "$pics"
win=$(wait_window "^Pictrova - $pics/a-blue.png$") || fail "no window for the scan"
read -r id width height x y <<<"$win"
click $((x + 400)) $((y + 400))
select_test_scanner 07
xdotool key ctrl+i
# The scanner's own window: Scan is its default button.
sleep 1.5
shot 07-scanner
xdotool key Return
wait_title "Pictrova - new_image.jpg*" || { shot 07-noscan; fail "Ctrl+I did not show the scan as new_image.jpg, modified ($(title))"; }
sleep 0.8
shot 07-scan
# The test device's colour pattern: several strong colours on the view.
colours=0
for c in "#FF0000" "#00FF00" "#0000FF"; do where 07-scan "$c" "900x450+$x+$((y + 170))" >/dev/null && colours=$((colours + 1)); done
[ "$colours" -ge 2 ] || fail "the scanned picture is not on the view"
# Leaving it asks whether to save it; the answer No lets the program end.
"$program" EXIT &
sleep 1.5
xdotool key Escape
wait "$pid" || fail "the program ended with an error"
pid=""
echo "commands journey passed; screenshots in $work"
