#!/usr/bin/env bash
# The real program's Save As, one case a run:
#   advanced  a picture saved as JPEG after a low quality was set under
#             "Advanced..." is written at that quality; a full path typed
#             into the name box is where the file goes.
#   scan      a scan of SANE's test device saved under a name becomes that
#             file: a turn saved at closing goes there, not to a file of the
#             scan's first name in the folder the program was started from.
# Usage: saveas.sh <pictrova> <work folder> [case, advanced if none]
set -euo pipefail
program=$1
work=$2
case=${3:-advanced}
source "$(dirname "$0")/screenlib.sh"
journey_env "$work" pics out started Documents
pid=""
fail() { echo "SAVEAS ($case) FAILED: $*" >&2; [ -n "$pid" ] && kill "$pid" 2>/dev/null; exit 1; }
settings ImageTransitionEffect=0
pics=$work/pics
out=$work/out
marked_picture "$pics/a.png" "#0000FF" 400x300

# start [folder]: the program on a.png, started from the folder; sets id.
start() {
  (cd "${1:-.}" && exec "$program" "$pics/a.png") >"$work/program.log" 2>&1 &
  pid=$!
  watch_program "$pid"
  win=$(wait_window "^Pictrova - $pics/a.png$") || fail "the picture is not shown"
  read -r id _ <<<"$win"
  place_window "$id"
}
ends() {
  timeout 20 "$program" EXIT || fail "EXIT did not end"
  wait "$pid" || fail "the program ended with an error: $(tail -20 "$work/program.log")"
  pid=""
}

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

case $case in
advanced)
  start
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
  ends
  ;;
scan)
  # SANE's test device is the only scanner: its page of 80 x 100 mm at 100
  # dpi is a large picture (both sides over 300 pixels).
  mkdir -p "$work/sane"
  echo test >"$work/sane/dll.conf"
  printf 'number_of_devices 1\nmode Color\ndepth 8\nresolution 100.0\ntest-picture "Color pattern"\n' \
    >"$work/sane/test.conf"
  export SANE_CONFIG_DIR="$work/sane"
  start "$work/started"
  # Then Ctrl+I and the scanner's own window, whose default button is Scan.
  select_test_scanner 01
  xdotool key ctrl+i
  scanner=$(wait_window "^Noname frontend-tester$") || { shot 01-noscanner; fail "Ctrl+I did not open the scanner"; }
  sleep 0.5
  xdotool key Return
  wait_title "Pictrova - new_image.jpg*" || { shot 01-noscan; fail "the scan is not shown as new_image.jpg ($(title))"; }

  # Ctrl+S on a scan asks where, starting in the documents folder.
  click 450 400
  xdotool key ctrl+s
  save=$(wait_window "^Save Image$") || { shot 02-nodialog; fail "Ctrl+S on the scan opened no save-as dialog"; }
  read -r _ _ _ sx sy <<<"$save"
  sleep 0.5
  save_to 02 myscan.jpg
  scan=$work/Documents/myscan.jpg
  [ -f "$scan" ] || { ls -R "$work" >&2; fail "myscan.jpg was not written into Documents"; }
  size=$(identify -format "%w %h" "$scan")
  read -r sw sh <<<"$size"
  [ "$sw" -gt 300 ] && [ "$sh" -gt 300 ] && [ "$sw" != "$sh" ] || fail "the scan is $size, not large and oblong"
  wait_title "Pictrova - $scan" || fail "the saved scan is not the shown file ($(title))"

  # A turn, then the close: large and only turned, the picture is saved
  # without a question, into the file it now is.
  click 450 400
  xdotool key ctrl+r
  wait_title "Pictrova - $scan*" || fail "the turn did not mark the saved scan modified ($(title))"
  ends
  [ -e "$work/started/new_image.jpg" ] && fail "the close wrote new_image.jpg into the folder the program started from"
  [ "$(identify -format "%w %h" "$scan")" = "$sh $sw" ] || fail "the turn did not reach myscan.jpg ($size before)"
  ;;
*) fail "no case $case" ;;
esac
echo "save-as ($case) test passed; screenshots in $work"
