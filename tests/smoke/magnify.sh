#!/usr/bin/env bash
# The magnify mode of the real program, as a user reaches it: the tool bar's
# mouse-mode button, "Magnify" in its menu, the pointer over the picture
# (the magnifier shows it twice as large), then a right click there: the
# picture's pop-up opens with "Magnify Tool Preferences...", which opens the
# preferences on their magnifier page.
# Usage: magnify.sh <pictrova> <work folder>
set -euo pipefail
program=$1
work=$2
source "$(dirname "$0")/screenlib.sh"
journey_env "$work" pictures

fail() { echo "MAGNIFY FAILED: $*" >&2; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; exit 1; }
alive() { kill -0 "$pid" 2>/dev/null || fail "the program ended: $(tail -5 "$work/program.log")"; }
share() { fraction "$@" | awk '{ printf "%d", $1 * 100 }'; }

settings ImageTransitionEffect=0
marked_picture "$work/pictures/a-red.png" "#FF0000" 400x300
"$program" "$work/pictures" >"$work/program.log" 2>&1 &
pid=$!
watch_program "$pid"
win=$(wait_window "^Pictrova - $work/pictures/a-red.png$") || fail "the picture is not shown"
read -r id _ <<<"$win"
xdotool windowsize --sync "$id" 900 700
xdotool windowmove --sync "$id" 0 0
sleep 1
view="900x480+0+165"
shot 01-picture
box=$(check_marked 01-picture "#FF0000" "$view")
read -r bw bh bx by <<<"$box"
read -r ww wh wx wy <<<"$(where 01-picture white "${bw}x${bh}+${bx}+${by}")"
# The pointer's place: 20 pixels right of the white mark, at its middle.
px=$((wx + ww + 20))
py=$((wy + wh / 2))
left="60x1+$((px - 60))+$py"
plain=$(share 01-picture white "$left")
[ "$plain" -ge 60 ] || fail "01-picture: only $plain% white left of the pointer's place"

# The preferences as F8 opens them, to tell their pages apart.
xdotool key F8
prefs=$(wait_window "^Preferences$") || fail "F8 did not open the preferences"
read -r _ pw ph pxx pyy <<<"$prefs"
sleep 0.5
shot 02-preferences-first
xdotool key Escape
wait_gone "^Preferences$" || fail "the preferences did not close"

# The mouse-mode button is the tool bar's last control.
bar="450x27+450+651"
read -r cw _ cx _ <<<"$(convert "$work/01-picture.png" -crop "$bar" +repage -fuzz 5% -trim -format "%w %h %X %Y" info:)"
bx_button=$((450 + cx + cw - 14))
click "$bx_button" 664
sleep 0.5
shot 03-cursor-menu
xdotool key Down Down Down Return
sleep 0.5

xdotool mousemove --sync "$px" "$py"
sleep 0.3
# A second small move, as a hand makes, while the magnifier comes up.
xdotool mousemove --sync "$((px + 1))" "$py"
xdotool mousemove --sync "$px" "$py"
sleep 0.5
shot 04-magnifier
lens=$(share 04-magnifier white "$left")
[ "$lens" -le 45 ] || fail "04-magnifier: $lens% white left of the pointer, the picture is not magnified ($plain% plain)"
[ "$lens" -ge 15 ] || fail "04-magnifier: $lens% white left of the pointer, no magnified mark under it"
alive

xdotool click 3
sleep 0.7
shot 05-popup
# The menu opens at the pointer, over the red picture.
red_before=$(share 04-magnifier "#FF0000" "160x200+$((px + 70))+$((py + 70))")
red_after=$(share 05-popup "#FF0000" "160x200+$((px + 70))+$((py + 70))")
[ "$red_after" -le $((red_before - 30)) ] || fail "05-popup: no menu at the pointer (red $red_before% -> $red_after%)"
# Its last item is "Magnify Tool Preferences...".
xdotool key Up Return
prefs=$(wait_window "^Preferences$") || fail "the pop-up's last item did not open the preferences"
sleep 0.5
shot 06-preferences-magnifier
alive
# Another page than the first one F8 showed.
convert "$work/02-preferences-first.png" -crop "${pw}x${ph}+${pxx}+${pyy}" +repage "$work/page-first.png"
convert "$work/06-preferences-magnifier.png" -crop "${pw}x${ph}+${pxx}+${pyy}" +repage "$work/page-magnifier.png"
differ=$(compare -metric AE -fuzz 5% "$work/page-first.png" "$work/page-magnifier.png" null: 2>&1 || true)
[ "${differ%%.*}" -gt 500 ] 2>/dev/null || fail "06-preferences-magnifier: the same page as F8 showed ($differ pixels differ)"
xdotool key Escape
wait_gone "^Preferences$" || fail "the preferences did not close"

timeout 20 "$program" EXIT || fail "EXIT instance did not end cleanly"
pid_gone "$pid" || fail "the program is still running after EXIT"
wait "$pid" || fail "the program exited with an error: $(tail -20 "$work/program.log")"
echo "magnify test passed"
