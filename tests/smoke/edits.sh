#!/usr/bin/env bash
# The real program: edits made while a slide show is paused. A turn answered
# "Yes" on leaving, and one saved silently (a large picture), reach their
# files; Print works in the paused show.
# Usage: edits.sh <pictrova> <work folder>
set -euo pipefail
program=$1
work=$2
source "$(dirname "$0")/screenlib.sh"
journey_env "$work" pics
pid=""
fail() { echo "EDITS FAILED: $*" >&2; [ -n "$pid" ] && kill "$pid" 2>/dev/null; exit 1; }
# A show that never moves on by itself, no transition, no prompts.
settings SlideShowInterval=60000 ImageTransitionEffect=0 ShowFullScreenPrompt=False ShowSlideShowPrompt=False
pics=$work/pics
marked_picture "$pics/a-small.png" "#0000FF" 200x150
marked_picture "$pics/b-large.png" "#00B000" 480x360
marked_picture "$pics/c-red.png" "#FF0000" 400x300

# turned <file> <w> <h>: the file is w x h with the white mark at its top
# right and the black one at its bottom left (a clockwise turn).
turned() {
  local size at
  size=$(identify -format "%w %h" "$1")
  [ "$size" = "$2 $3" ] || fail "$1 is $size, not $2 $3: the turn did not reach the file"
  at() { convert "$1" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:; }
  [ "$(at "$1" $(($2 - 5)) 5)" = "255,255,255" ] || fail "$1: no white mark top right"
  [ "$(at "$1" 5 $(($3 - 5)))" = "0,0,0" ] || fail "$1: no black mark bottom left"
}

"$program" "$pics" >"$work/program.log" 2>&1 &
pid=$!
win=$(wait_window "^Pictrova - $pics/a-small.png$") || fail "the first picture is not shown"
read -r id _ <<<"$win"
place_window "$id"

# Start the show, pause it, turn the small picture, move on, answer Yes.
xdotool key s
sleep 0.5
xdotool key p
sleep 0.3
xdotool key ctrl+r
wait_title "Pictrova - $pics/a-small.png*" || fail "the turn in the paused show did not mark the picture modified ($(title))"
sleep 0.3
shot 01-turned
box=$(where 01-turned "#0000FF" 1280x1024+0+0) || fail "no blue picture on the screen"
read -r bw bh bx by <<<"$box"
[ "$bh" -gt "$bw" ] || fail "the turned picture is not upright on the screen ($box)"
xdotool key Right
wait_window "^Overwrite current image file with modified image before continuing\?$" >/dev/null ||
  { shot 02-noquestion; fail "leaving the turned small picture asked nothing"; }
shot 02-question
xdotool key Return
wait_title "Pictrova - $pics/b-large.png" || fail "Yes did not move on to b-large.png ($(title))"
turned "$pics/a-small.png" 150 200

# A large picture, only turned, is saved without a question.
xdotool key ctrl+r
wait_title "Pictrova - $pics/b-large.png*" || fail "the second turn did not mark the picture modified ($(title))"
xdotool key Right
wait_title "Pictrova - $pics/c-red.png" || fail "Right did not move on to c-red.png ($(title))"
turned "$pics/b-large.png" 360 480

# Print in the paused show opens the print window on the shown picture.
xdotool key ctrl+p
found=$(wait_window "^Pictrova - c-red.png$") || { shot 03-noprint; fail "Print did nothing in the paused show"; }
read -r _ w h x y <<<"$found"
sleep 0.5
shot 03-print
where 03-print "#FF0000" "${w}x${h}+${x}+${y}" >/dev/null || fail "the print window does not show the red picture"
xdotool key Escape
wait_gone "^Pictrova - c-red.png$" || fail "the print window did not close"

timeout 20 "$program" EXIT || fail "EXIT did not end"
wait "$pid" || fail "the program ended with an error: $(tail -20 "$work/program.log")"
pid=""
echo "edits test passed; screenshots in $work"
