#!/usr/bin/env bash
# The real program: Save As with its "Advanced..." parameters. A picture saved
# as JPEG after a low quality was set there is written at that quality; a
# full path typed into the name box is where the file goes.
# Usage: saveas.sh <pictrova> <work folder>
set -euo pipefail
program=$1
work=$2
source "$(dirname "$0")/screenlib.sh"
journey_env "$work" pics out
pid=""
fail() { echo "SAVEAS FAILED: $*" >&2; [ -n "$pid" ] && kill "$pid" 2>/dev/null; exit 1; }
settings ImageTransitionEffect=0
pics=$work/pics
out=$work/out
marked_picture "$pics/a.png" "#0000FF" 400x300

"$program" "$pics/a.png" >"$work/program.log" 2>&1 &
pid=$!
win=$(wait_window "^Pictrova - $pics/a.png$") || fail "the picture is not shown"
read -r id _ <<<"$win"
place_window "$id"

# File > Save As... (Save is disabled on an unedited picture, so the fourth
# item).
open_save_as() {
  click 450 400
  xdotool key alt+f
  sleep 0.3
  for _ in 1 2 3 4; do xdotool key Down; done
  xdotool key Return
  save=$(wait_window "^Save Image$") || { shot "$1-nodialog"; fail "the save-as dialog did not open"; }
  read -r _ _ _ sx sy <<<"$save"
  sleep 0.5
}
# advanced <shot> <quality>: "Advanced..." on the JPEG row, the quality set
# in the parameters preview, OK.
advanced() {
  click $((sx + 412 + 80)) $((sy + 352 + 13))
  found=$(wait_window "^Parameters preview$") || { shot "$1-noparams"; fail "Advanced... opened nothing"; }
  read -r _ pw ph px py <<<"$found"
  sleep 0.5
  shot "$1-params"
  where "$1-params" "#0000FF" "${pw}x${ph}+${px}+${py}" >/dev/null ||
    fail "the parameters preview does not show the blue picture"
  click $((px + 156)) $((py + 217))
  xdotool key ctrl+a
  xdotool type --delay 20 "$2"
  sleep 0.3
  shot "$1-quality"
  xdotool key Return
  wait_gone "^Parameters preview$" || fail "the parameters preview did not close"
  sleep 0.3
}
# save_to <shot> <name>: the name typed into the name box, then Save.
save_to() {
  click $((sx + 100 + 150)) $((sy + 322 + 12))
  xdotool key ctrl+a
  xdotool type --delay 20 "$2"
  shot "$1-name"
  click $((sx + 412 + 38)) $((sy + 320 + 13))
  wait_gone "^Save Image$" || { shot "$1-notclosed"; fail "the save-as dialog did not close"; }
  sleep 1
}
# quality <file>: the JPEG quality the file was written at.
quality() { identify -format "%Q" "$1"; }

# The JPEG row of the type list (its first).
choose_jpeg() {
  click $((sx + 100 + 150)) $((sy + 354 + 12))
  sleep 0.5
  xdotool key Home Return
  sleep 0.3
}

# JPEG chosen from the type list, a low quality set under "Advanced...".
open_save_as 01
choose_jpeg
advanced 01 10
save_to 01 a.jpg
[ -f "$pics/a.jpg" ] || fail "a.jpg was not written"
q=$(quality "$pics/a.jpg")
[ "$q" -le 15 ] || fail "a.jpg was written at quality $q, not the 10 set under Advanced..."

# A full path in the name box, a high quality: the file goes there, at it.
open_save_as 02
choose_jpeg
advanced 02 95
save_to 02 "$out/b.jpg"
[ -f "$out/b.jpg" ] || { ls -R "$pics" >&2; fail "b.jpg was not written into $out"; }
q=$(quality "$out/b.jpg")
[ "$q" -ge 90 ] || fail "b.jpg was written at quality $q, not the 95 set under Advanced..."
grep -q "Cannot create" "$work/program.log" && fail "a save failed: $(grep "Cannot create" "$work/program.log")"

timeout 20 "$program" EXIT || fail "EXIT did not end"
wait "$pid" || fail "the program ended with an error: $(tail -20 "$work/program.log")"
pid=""
echo "save-as test passed; screenshots in $work"
