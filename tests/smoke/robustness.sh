#!/usr/bin/env bash
# The real program where users met its faults, one case a run:
#   handoff   a second start hands over a file that is no picture; the
#             "File Error" message is closed with Escape; the first instance
#             lives on and answers. A folder of no pictures handed over
#             asks about an edit before it takes the picture's place.
#   modal     under a window manager, a folder that does not exist is typed
#             into the open-folder dialog: the message comes up over the
#             dialog, is answered, and the program answers afterwards.
#   palette   under a window manager, a question comes up while the tool
#             box is the active window: it belongs to the whole program, not
#             to the tool box, and the program answers afterwards.
#   wizard    File > Exit (by "EXIT") while the e-mail wizard is open ends
#             the program; the wizard's work folders of a process that is
#             gone are cleared at the start.
#   sigterm   ended by SIGTERM as at logout: the settings are written and no
#             work file or settings lock is left; work files of a process
#             that is gone are cleared at the start. After a scan of SANE's
#             test device (whose reader resets the handler of SIGTERM) the
#             signal asks about the scan, as File > Exit does; during a run
#             of files that cannot be read it ends the run and the program.
#   question  SIGTERM while a step (Delete, Right) asks about the edit of a
#             small turned picture: the question is up once, "Discard
#             Changes" ends the program well, the file is as it was and no
#             other picture came.
#   savequestion  Ctrl+S, then Image Tools' Save to File, of a small turned
#             picture whose file another program replaced: SIGTERM while
#             "File changed by another program" is up asks nothing more; the
#             close waits for its answer, and "Discard Changes" (which leaves
#             the other program's file) or "Overwrite" (which writes the turn)
#             ends the program.
#   reloadhandoff  a slow picture shown from another folder's tab is read
#             again (Shift+F5) and a second start hands over that folder's
#             file meanwhile: the file handed over is shown, and a turn and a
#             save write its own picture, asking nothing.
#   startsignal  a settings file that cannot be read: SIGTERM, SIGHUP or
#             SIGINT while "Settings Not Read" is up at the start ends the
#             program as the signal's default action does.
#   answer    "Discard Changes" for Open Image Folder, whose dialog is then
#             cancelled, holds for that step only: turned again, a step to
#             the next picture asks; "Yes" writes both turns, and the next
#             picture comes.
#   showerror a slide show meets a file that cannot be read: "File Error"
#             is up once however long it waits, and its answer shows the
#             next picture.
#   children  the programs the program starts (xdg-open by Help > Visit
#             Website, xdg-email by the e-mail wizard) begin with the
#             termination signals unblocked.
#   crowded   a folder of 200 PNG files whose headers claim 16384 x 16384
#             RGBA, a WMF polygon of 2,000 points zigzagging across its
#             frame and one JPEG: the JPEG is shown at once, the window
#             answers while the rest are read, and the program's peak memory
#             is that of the JPEG alone but for the thumbnails.
#   tiles     a folder holds a good picture beside JPEG-2000 files of a few
#             hundred bytes that declare 65,535 tiles of many components or
#             a palette picture of 16384 x 16384: the good picture is shown,
#             and the program's peak resident memory stays small.
#   slowread  a folder whose first picture takes seconds to read: the window
#             shows and answers before its thumbnail is read, then the
#             picture comes, and the next one after it. Open Image Folder on
#             the folder answers while its preview of that picture is read,
#             then shows it. $PICTROVA_PING names the program that pings a
#             window.
#   gifplay   an animated GIF of one 256 x 256 frame and 12,000 frames of
#             one pixel, each left in place (as optimisers write deltas):
#             while it plays the window answers a ping within 100 ms, and
#             the frames keep coming. $PICTROVA_PING names the program that
#             pings a window.
#   gifsprites  an animated GIF of a 400 x 150 screen and eight sprites of
#             50 x 50 at their places on it, each a colour of its own and
#             left in place, the last shown 10 s: all eight show at their
#             places.
#   gifbig    an animated GIF of some 50 KB: a first frame of 8192 x 8192 and
#             200 red frames of 64 x 64 over it, left in place, 50 ms each:
#             while it plays the window answers a ping within 100 ms, and
#             the frames keep coming.
# Usage: robustness.sh <pictrova> <work folder> <case>
set -euo pipefail
program=$1
work=$2
case=$3
source "$(dirname "$0")/screenlib.sh"
journey_env "$work" pictures tmp
export TMPDIR="$work/tmp"

first=""
wm=""
fail() {
  echo "ROBUSTNESS ($case) FAILED: $*" >&2
  [ -n "$first" ] && kill -9 "$first" 2>/dev/null
  [ -n "$wm" ] && kill "$wm" 2>/dev/null
  exit 1
}
keys="$work/config/Halvenworth/Pictrova 3/HKEY_CURRENT_USER.keys"

# The visible window named Name that is not Other, as "id width height x y".
# Waits up to $2 seconds for the window $main to be titled $1.
main_titled() {
  for _ in $(seq 1 $(($2 * 5))); do
    [ "$(xdotool getwindowname "$main")" = "$1" ] && return 0
    program_ended && return 1
    sleep 0.2
  done
  return 1
}

other_window() {
  local id
  for id in $(xdotool search --onlyvisible --name "$1" 2>/dev/null); do
    [ "$id" = "$2" ] && continue
    geometry_of "$id" && return 0
  done
  return 1
}
wait_other() {
  for _ in $(seq 1 100); do
    other_window "$1" "$2" && return 0
    program_ended && return 1
    sleep 0.2
  done
  return 1
}
# press <window> <keys...>: keys typed into that window.
press() {
  local id=$1; shift
  xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus --sync "$id"
  xdotool key --delay 50 "$@"
}
# The first instance still answers: "EXIT" from another start ends it well.
# Starts the program on pictures/a.png and waits for it to show; sets first
# and the main window's place (main mw mh mx my).
start_on_picture() {
  "$program" "$work/pictures/a.png" >"$work/first.log" 2>&1 &
  first=$!
  watch_program "$first"
  read -r main mw mh mx my < <(wait_window "^Pictrova - $work/pictures/a.png$") || fail "the picture was not shown"
  # The picture view: under the film strip, over the tool bar.
  view="${mw}x$((mh - 240))+${mx}+$((my + 170))"
}

# ends_on_exit [seconds]: an end that takes long (a large store let go on a
# busy disk) is waited for up to that long.
ends_on_exit() {
  timeout 20 "$program" EXIT || fail "the EXIT start did not end"
  for _ in $(seq 1 "${1:-0}"); do
    kill -0 "$first" 2>/dev/null || break
    sleep 1
  done
  pid_gone "$first" || fail "the first instance does not answer: EXIT did not end it"
  wait "$first" || fail "the first instance ended with an error: $(tail -5 "$work/first.log")"
  first=""
}

# start_on_animation <name>: starts the program, animations on, on the file
# of pictures/ and waits for it to show; sets first, the main window's id
# and place (id mw mh mx my) and the picture view's region.
start_on_animation() {
  settings AnimateGif=True ImageTransitionEffect=0
  "$program" "$work/pictures/$1" >"$work/first.log" 2>&1 &
  first=$!
  watch_program "$first"
  read -r id mw mh mx my < <(wait_window "^Pictrova - $work/pictures/$1$") || fail "the animation was not shown"
  # The picture view: under the film strip, over the tool bar.
  view="${mw}x$((mh - 240))+${mx}+$((my + 170))"
}
# Perl's uniform(pixels, colour, bits): the image data of a frame of one
# colour of a table of 2^bits colours, coded as runs that grow by a pixel
# each (every code the entry the one before added), a clear code when the
# table is full: a frame of 8192 x 8192 takes some 50 KB.
uniform_frame='
  sub uniform {
    my ($n, $c, $size) = @_;
    my ($clear, $acc, $bits, $data) = (1 << $size, 0, 0, "");
    my ($next, $w, $run) = ($clear + 2, $size + 1, 1);
    my $put = sub {
      $acc |= $_[0] << $bits;
      for ($bits += $w; $bits >= 8; $bits -= 8) { $data .= chr($acc & 255); $acc >>= 8 }
    };
    $put->($clear);
    while ($n > 0) {
      $run = $n if $run > $n;
      $put->($run == 1 ? $c : $clear + $run);
      $n -= $run;
      last if $n == 0;
      $next++;
      $w++ if $next - 1 >= (1 << $w) && $w < 12;
      $run++;
      if ($next == 4096) { $put->($clear); ($next, $w, $run) = ($clear + 2, $size + 1, 1) }
    }
    $put->($clear + 1);
    $data .= chr($acc) if $bits;
    my $out = chr($size);
    $out .= chr(length $1) . $1 while $data =~ /(.{1,255})/gs;
    return $out . chr(0);
  }
'
# differ <shot> <shot>: the pixels of the view that differ.
differ() {
  convert "$work/$1.png" -crop "$view" +repage "$work/$1-view.png"
  convert "$work/$2.png" -crop "$view" +repage "$work/$2-view.png"
  compare -metric AE "$work/$1-view.png" "$work/$2-view.png" null: 2>&1 | awk '{ print $1 + 0 }'
}
# plays_answering <shot>: the animation that shows its first frame (green)
# on the shot plays on: the window answers a ping within 100 ms 40 times,
# and a later shot differs.
plays_answering() {
  awk -v s="$(fraction "$1" "#00C000" "$view")" 'BEGIN { exit !(s > 0.1) }' ||
    fail "the animation's first frame is not on the screen"
  local late=0
  for _ in $(seq 1 40); do
    "$PICTROVA_PING" "$id" 100 || late=$((late + 1))
    sleep 0.1
  done
  [ "$late" = 0 ] || fail "the window did not answer within 100 ms $late times of 40 while the animation played"
  shot later
  [ "$(differ "$1" later)" -gt 0 ] || fail "the animation stopped"
}

case $case in
handoff)
  marked_picture "$work/pictures/good.jpg" "#00FF00"
  marked_picture "$work/pictures/later.jpg" "#FF0000"
  echo "just some text" >"$work/pictures/not_a_picture.png"
  "$program" "$work/pictures/good.jpg" >"$work/first.log" 2>&1 &
  first=$!
  watch_program "$first"
  wait_window "^Pictrova - $work/pictures/good.jpg$" >/dev/null || fail "the picture was not shown"
  timeout 20 "$program" "$work/pictures/not_a_picture.png" || fail "the second start did not end"
  read -r id _ < <(wait_window "^File Error$") || fail "no File Error message"
  # A start during the message: its hand-off waits for the answer.
  timeout 20 "$program" "$work/pictures/later.jpg" || fail "the start during the message did not end"
  sleep 1
  find_window "^Pictrova - $work/pictures/later.jpg$" >/dev/null && fail "a hand-off was acted on inside the message"
  press "$id" Escape
  wait_gone "^File Error$" || fail "the message did not close"
  wait_window "^Pictrova - $work/pictures/later.jpg$" >/dev/null || fail "the hand-off made during the message was lost"
  sleep 1
  kill -0 "$first" 2>/dev/null || fail "the first instance died: $(tail -5 "$work/first.log")"
  # Skipped, the file that could not be read is still there.
  [ -f "$work/pictures/not_a_picture.png" ] || fail "Skip deleted the file"
  main=$(find_window "^Pictrova - $work/pictures/later.jpg$") || fail "no main window"
  press "${main%% *}" ctrl+r
  wait_window "^Pictrova - $work/pictures/later.jpg\*$" >/dev/null || fail "the turn did not mark the picture modified"
  mkdir -p "$work/empty"
  timeout 20 "$program" "$work/empty" || fail "the hand-off of a folder did not end"
  id=$(wait_window "^Overwrite current image file") ||
    fail "the edit was not asked about before an empty folder took its place"
  press "${id%% *}" Return
  wait_window "^Pictrova - $work/empty$" >/dev/null || fail "the empty folder did not open after the question"
  [ "$(identify -format "%wx%h" "$work/pictures/later.jpg")" = 300x400 ] || fail "Yes did not write the turned picture"
  ends_on_exit
  ;;
modal)
  matchbox-window-manager -use_titlebar no >"$work/wm.log" 2>&1 &
  wm=$!
  sleep 1
  "$program" >"$work/first.log" 2>&1 &
  first=$!
  watch_program "$first"
  read -r main mw mh mx my < <(wait_window "^Pictrova by Halvenworth$") || fail "no main window"
  # The start-up splash goes by itself; the window manager restacks then.
  wait_window "^About Pictrova 3$" >/dev/null || fail "no start-up splash"
  wait_gone "^About Pictrova 3$" || fail "the start-up splash stays"
  sleep 1
  # The open button in the middle of the empty view opens the dialog (the
  # pointer starts there: a synced move would wait for a motion).
  xdotool mousemove $((mx + mw / 2)) $((my + mh / 2)) sleep 0.3 click 1
  read -r dlg _ _ dx dy < <(wait_window "^Open Image Folder$") || fail "no open-folder dialog"
  sleep 1
  click $((dx + 100)) $((dy + 38))
  xdotool key --delay 30 ctrl+a
  xdotool type --delay 30 "/no/such/folder"
  xdotool key Return
  read -r box bw bh bx by < <(wait_other "^Pictrova by Halvenworth$" "$main") || fail "no message"
  sleep 1
  shot message
  # The message is on top and drawn: its face, not the dialog's tree under it.
  centre=$(pixel message $((bx + bw / 2)) $((by + 8)))
  near "$centre" "239,239,239" || near "$centre" "212,208,200" || fail "the message is not drawn on top (pixel $centre)"
  press "$box" Return
  for _ in $(seq 1 50); do
    other_window "^Pictrova by Halvenworth$" "$main" >/dev/null || break
    sleep 0.2
  done
  other_window "^Pictrova by Halvenworth$" "$main" >/dev/null && fail "the message did not close: the program hangs"
  find_window "^Open Image Folder$" >/dev/null || fail "the dialog closed with a folder that does not exist"
  press "$dlg" Escape
  wait_gone "^Open Image Folder$" || fail "the dialog did not close"
  ends_on_exit
  kill "$wm" 2>/dev/null || true
  wm=""
  ;;
palette)
  # A question that comes up while the tool box is the active window: under
  # a window manager it belongs to the whole program, is answered, and the
  # program answers afterwards (owned by the tool box, the window manager
  # and the program handed the focus between them for good).
  matchbox-window-manager -use_titlebar no >"$work/wm.log" 2>&1 &
  wm=$!
  sleep 1
  mkdir -p "$(dirname "$keys")"
  cat >"$keys" <<'EOF2'
Pictrova key store 1
key "Software"
key "Software" "Halvenworth"
key "Software" "Halvenworth" "Pictrova 3"
sz "AutoSaveImages" "False"
EOF2
  marked_picture "$work/pictures/a.png" "#0000FF"
  marked_picture "$work/pictures/b.png" "#00FF00"
  start_on_picture
  # The start-up splash goes by itself first: a click meanwhile lands on it.
  wait_gone "^About Pictrova 3$" || fail "the start-up splash stays"
  sleep 2
  click $((mx + mw / 2)) $((my + mh / 2))
  xdotool key ctrl+r
  sleep 0.5
  xdotool key ctrl+t
  read -r tools tw th _ < <(wait_window "^Image Tools$") || fail "no tool box"
  sleep 1
  xdotool mousemove --window "$tools" 10 $((th - 10)) click 1
  sleep 0.5
  timeout 20 "$program" "$work/pictures/b.png" || fail "the hand-off did not end"
  read -r box _ < <(wait_window "^Overwrite current image file") || fail "no question about the rotated picture"
  # It belongs to the whole program (its client leader), not to the tool box.
  owner=$(xprop -id "$box" WM_TRANSIENT_FOR | sed 's/.*# //')
  leader=$(xprop -id "$main" WM_CLIENT_LEADER | sed 's/.*# //')
  [ -n "$leader" ] && [ $((owner)) = $((leader)) ] ||
    fail "the question belongs to window $owner, not to the program (client leader $leader; tool box $tools)"
  sleep 2
  # Yes by its key (the window manager may stack the tool box over the
  # question's buttons): the rotated picture is written.
  press "$box" Return
  wait_gone "^Overwrite current image file" || fail "the question did not close: the program hangs"
  wait_window "^Pictrova - $work/pictures/b.png$" >/dev/null || fail "the handed-over picture was not shown"
  [ "$(identify -format "%wx%h" "$work/pictures/a.png")" = 300x400 ] || fail "Yes did not write the rotated picture"
  ends_on_exit
  kill "$wm" 2>/dev/null || true
  wm=""
  ;;
wizard)
  # Exit while the e-mail wizard is open: the program ends, the wizard with it.
  marked_picture "$work/pictures/a.png" "#0000FF"
  # Reduced copies left by a process that is gone, and by one that lives.
  shared="$work/data/pictrova/pictrovatemp"
  dead=$(sh -c 'echo $$')
  mkdir -p "$shared/run-$dead-AbC123" "$shared/run-$$-AbC123"
  echo x >"$shared/run-$dead-AbC123/a.jpg"
  echo x >"$shared/run-$$-AbC123/b.jpg"
  start_on_picture
  [ -e "$shared/run-$dead-AbC123" ] && fail "the work folder of a process that is gone is still there"
  [ -e "$shared/run-$$-AbC123/b.jpg" ] || fail "a live process's reduced copy went"
  sleep 1
  click $((mx + mw / 2)) $((my + mh / 2))
  xdotool key ctrl+e
  wait_window "^Email a.png$" >/dev/null || fail "no e-mail wizard"
  ends_on_exit
  ;;
sigterm)
  marked_picture "$work/pictures/a.png" "#0000FF"
  # SANE's test device is the only scanner.
  mkdir -p "$work/sane" "$work/broken"
  echo test >"$work/sane/dll.conf"
  printf 'number_of_devices 1\nmode Color\ndepth 8\nresolution 50.0\n' >"$work/sane/test.conf"
  export SANE_CONFIG_DIR="$work/sane"
  # Work files of a process that is gone, and of one that lives.
  dead=$(sh -c 'echo $$')
  echo x >"$work/tmp/rastrum$dead-AbC123"
  echo x >"$work/tmp/rastrum$$-AbC123"
  start_on_picture
  sleep 1
  [ -e "$work/tmp/rastrum$dead-AbC123" ] && fail "the dead process's work file is still there"
  [ -e "$work/tmp/rastrum$$-AbC123" ] || fail "a live process's work file went"
  ls "$work/tmp" | grep -q "^rastrum$first-" || fail "no work file while running: $(ls "$work/tmp")"
  grep -qs '"SlideShowInterval"' "$keys" && fail "the settings were written before the end"
  # A scan, not saved: the signal asks about it; "No" lets the program end.
  click $((mx + mw / 2)) $((my + mh / 2))
  select_test_scanner sigterm
  xdotool key ctrl+i
  wait_window "^Noname frontend-tester$" >/dev/null || fail "Ctrl+I did not open the scanner"
  sleep 0.5
  xdotool key Return
  wait_window "^Pictrova - new_image.jpg\*$" >/dev/null || fail "the scan is not shown"
  kill -TERM "$first"
  box=$(wait_window "^Save new image before continuing\?$") ||
    fail "SIGTERM after a scan did not ask about it ($(kill -0 "$first" 2>/dev/null && echo running || echo ended))"
  press "${box%% *}" Escape
  pid_gone "$first" || fail "SIGTERM did not end the program"
  wait "$first" || fail "the program ended with an error: $(tail -5 "$work/first.log")"
  first=""
  left=$(ls "$work/tmp" | grep "^rastrum" | grep -v "^rastrum$$-" || true)
  [ -z "$left" ] || fail "work files left: $left"
  [ -e "$keys.lock" ] && fail "the settings lock was left"
  grep -q '"SlideShowInterval" "5000"' "$keys" || fail "the settings were not written at the end"
  grep -q "\"$work/pictures\"" "$keys" || fail "the folder is not among the recent folders"

  # Two files in a row that cannot be read: the signal during the first
  # report ends the run and the program, which writes its settings.
  echo "not a picture" >"$work/broken/a.png"
  echo "not a picture either" >"$work/broken/b.png"
  "$program" "$work/broken/a.png" >"$work/first.log" 2>&1 &
  first=$!
  watch_program "$first"
  wait_window "^File Error$" >/dev/null || fail "no File Error message"
  sleep 0.5
  kill -TERM "$first"
  pid_gone "$first" || fail "SIGTERM during a run of File Error messages did not end the program"
  wait "$first" || fail "the program ended with an error: $(tail -5 "$work/first.log")"
  first=""
  grep -q "\"$work/broken\"" "$keys" || fail "the settings were not written at the end of the run"
  ;;
question)
  marked_picture "$work/pictures/a.png" "#0000FF" 200x125
  marked_picture "$work/pictures/b.png" "#00FF00" 200x125
  sum=$(md5sum <"$work/pictures/a.png")
  for step in Delete Right; do
    start_on_picture
    click $((mx + mw / 2)) $((my + mh / 2))
    xdotool key ctrl+r
    wait_window "^Pictrova - $work/pictures/a.png\*$" >/dev/null || fail "$step: the turn did not mark the picture modified"
    xdotool key "$step"
    # The delete's own question may come first: "Yes" to it.
    for _ in $(seq 1 20); do find_window "$edit_question" >/dev/null && break; sleep 0.2; done
    [ "$step" = Delete ] && ! find_window "$edit_question" >/dev/null && xdotool key alt+y
    wait_window "$edit_question" >/dev/null || { shot "question-$step-none"; fail "$step: no question about the edit"; }
    kill -TERM "$first"
    sleep 1.5
    shot "question-$step"
    [ "$(windows_named "$edit_question")" = 1 ] || fail "$step: the question is up $(windows_named "$edit_question") times"
    read -r bw bh _ < <(where "question-$step" "#0000FF" "$view") || fail "$step: the turned picture is not shown"
    [ "$bh" -gt "$bw" ] || fail "$step: the picture shown is not the turned one"
    where "question-$step" "#00FF00" "$view" >/dev/null && fail "$step: the next picture came"
    edit_answer 3
    pid_gone "$first" || { shot "question-$step-running"; fail "$step: Discard Changes did not end the program"; }
    status=0
    wait "$first" || status=$?
    first=""
    [ "$status" = 0 ] || fail "$step: the program ended with status $status: $(tail -5 "$work/first.log")"
    [ "$(md5sum <"$work/pictures/a.png")" = "$sum" ] || fail "$step: a.png was changed or taken"
    grep -q '"SlideShowInterval" "5000"' "$keys" || fail "$step: the settings were not written"
    sed -i '/"SlideShowInterval"/d' "$keys"
  done
  ;;
savequestion)
  changed="^File changed by another program$"
  marked_picture "$work/other.png" "#FFFF00" 200x125
  other=$(sha256sum <"$work/other.png")
  for road in save tools; do
    marked_picture "$work/pictures/a.png" "#0000FF" 200x125
    start_on_picture
    click $((mx + mw / 2)) $((my + mh / 2))
    xdotool key ctrl+r
    wait_window "^Pictrova - $work/pictures/a.png\*$" >/dev/null || fail "$road: the turn did not mark the picture modified"
    cp "$work/other.png" "$work/pictures/.a.png.new"
    mv "$work/pictures/.a.png.new" "$work/pictures/a.png"
    if [ "$road" = save ]; then
      xdotool key ctrl+s
    else
      xdotool key ctrl+t
      read -r tools _ < <(wait_window "^Image Tools$") || fail "no tool box"
      sleep 0.5
      # Save to File.
      xdotool mousemove --window "$tools" 100 304 click 1
    fi
    read -r _ w h x y < <(wait_window "$changed") || { shot "savequestion-$road-none"; fail "$road: no question"; }
    kill -TERM "$first"
    sleep 1.5
    shot "savequestion-$road"
    [ "$(windows_named "$changed")" = 1 ] || fail "$road: the question is up $(windows_named "$changed") times"
    [ "$(windows_named "$edit_question")" = 0 ] || fail "$road: the signal asked about the edit over the question"
    kill -0 "$first" 2>/dev/null || fail "$road: the program ended before the answer"
    [ "$(sha256sum <"$work/pictures/a.png")" = "$other" ] || fail "$road: a.png was written before the answer"
    # "Discard Changes" to Ctrl+S, "Overwrite" to Save to File.
    if [ "$road" = save ]; then click $((x + 107 + 210)) $((y + h - 20)); else click $((x + 107)) $((y + h - 20)); fi
    pid_gone "$first" || { shot "savequestion-$road-running"; fail "$road: the answer did not end the program"; }
    status=0
    wait "$first" || status=$?
    first=""
    [ "$status" = 0 ] || fail "$road: the program ended with status $status: $(tail -5 "$work/first.log")"
    if [ "$road" = save ]; then
      [ "$(sha256sum <"$work/pictures/a.png")" = "$other" ] || fail "Discard Changes wrote over the other program's a.png"
    else
      [ "$(identify -format "%wx%h" "$work/pictures/a.png")" = 125x200 ] || fail "Overwrite did not write the turn"
    fi
    [ "$(sha256sum <"$work/other.png")" = "$other" ] || fail "$road: other.png changed"
    grep -q '"SlideShowInterval" "5000"' "$keys" || fail "$road: the settings were not written"
    sed -i '/"SlideShowInterval"/d' "$keys"
  done
  ;;
reloadhandoff)
  mkdir -p "$work/one" "$work/two"
  # Slow to read by its size alone, as in slowread.
  ppmmake -maxval=65535 '#00C000' 12000 12000 | pnmtopng -force >"$work/one/a.png" || fail "no slow picture"
  marked_picture "$work/two/c.png" "#FF0000" 200x125
  slow=$(sha256sum <"$work/one/a.png")
  "$program" "$work/two/c.png" >"$work/first.log" 2>&1 &
  first=$!
  watch_program "$first"
  read -r main mw mh mx my < <(wait_window "^Pictrova - $work/two/c.png$") || fail "c.png was not shown"
  view="${mw}x$((mh - 240))+${mx}+$((my + 170))"
  start=$SECONDS
  timeout 20 "$program" "$work/one/a.png" || fail "the hand-off of a.png did not end"
  main_titled "Pictrova - $work/one/a.png" 60 || fail "the slow picture did not come"
  echo "the slow picture took $((SECONDS - start)) s to come"
  # The first tab, two's; the slow picture stays on the screen.
  click $((mx + mw / 2)) $((my + mh / 2))
  xdotool key Up
  sleep 0.5
  xdotool key shift+F5
  timeout 20 "$program" "$work/two/c.png" || fail "the hand-off of c.png did not end"
  main_titled "Pictrova - $work/two/c.png" 30 || fail "c.png was not shown after the hand-off"
  sleep 1
  shot reloadhandoff
  where reloadhandoff "#FF0000" "$view" >/dev/null || fail "c.png's picture is not on the screen"
  where reloadhandoff "#00C000" "$view" >/dev/null && fail "the slow picture is shown under c.png's name"
  xdotool key ctrl+r
  main_titled "Pictrova - $work/two/c.png*" 30
  xdotool key ctrl+s
  for _ in $(seq 1 150); do
    [ "$(identify -format "%wx%h" "$work/two/c.png" 2>/dev/null)" = 125x200 ] && break
    find_window "^File changed by another program$" >/dev/null && break
    sleep 0.2
  done
  shot reloadhandoff-saved
  find_window "^File changed by another program$" >/dev/null && fail "the save took c.png for another program's file"
  [ "$(identify -format "%wx%h" "$work/two/c.png")" = 125x200 ] || fail "the turned c.png was not saved"
  [ "$(convert "$work/two/c.png" -format "%[fx:int(255*p{60,100}.r)],%[fx:int(255*p{60,100}.g)]" info:)" = "255,0" ] ||
    fail "c.png does not hold its own picture"
  [ "$(sha256sum <"$work/one/a.png")" = "$slow" ] || fail "a.png changed"
  ends_on_exit
  ;;
startsignal)
  marked_picture "$work/pictures/a.png" "#0000FF"
  for signal in TERM HUP INT; do
    mkdir -p "$(dirname "$keys")"
    echo "not the program's settings" >"$keys"
    # A job of its own: a background job of a script would ignore SIGINT.
    set -m
    "$program" "$work/pictures/a.png" >"$work/first.log" 2>&1 &
    first=$!
    watch_program "$first"
    set +m
    wait_window "^Settings Not Read$" >/dev/null || fail "SIG$signal: no Settings Not Read message"
    sleep 0.5
    kill -"$signal" "$first"
    pid_gone "$first" || { shot "startsignal-$signal"; fail "SIG$signal did not end the program at its start"; }
    status=0
    wait "$first" || status=$?
    first=""
    [ "$status" = $((128 + $(kill -l "$signal"))) ] || fail "SIG$signal: the program ended with status $status"
    find_window "^Pictrova - " >/dev/null && fail "SIG$signal: a main window is left"
  done
  ;;
answer)
  marked_picture "$work/pictures/a.png" "#0000FF" 200x125
  marked_picture "$work/pictures/b.png" "#00FF00" 200x125
  start_on_picture
  click $((mx + mw / 2)) $((my + mh / 2))
  xdotool key ctrl+r
  wait_window "^Pictrova - $work/pictures/a.png\*$" >/dev/null || fail "the turn did not mark the picture modified"
  xdotool key ctrl+o
  edit_answer 3
  read -r dlg _ < <(wait_window "^Open Image Folder$") || fail "Discard Changes opened no Open Image Folder dialog"
  sleep 0.5
  press "$dlg" Escape
  wait_gone "^Open Image Folder$" || fail "the dialog did not close"
  click $((mx + mw / 2)) $((my + mh / 2))
  xdotool key ctrl+r
  sleep 0.5
  xdotool key Right
  for _ in $(seq 1 25); do
    find_window "$edit_question" >/dev/null && break
    find_window "^Pictrova - $work/pictures/b.png$" >/dev/null && break
    sleep 0.2
  done
  find_window "$edit_question" >/dev/null || { shot answer-none; fail "the next step after the turn asked nothing"; }
  sleep 0.5
  shot answer-question
  where answer-question "#0000FF" "$view" >/dev/null || fail "the turned picture is not shown"
  where answer-question "#00FF00" "$view" >/dev/null && fail "the next picture came unasked"
  edit_answer 1
  wait_window "^Pictrova - $work/pictures/b.png$" >/dev/null || fail "Yes did not move on to b.png"
  sleep 1
  shot answer-next
  check_marked answer-next "#00FF00" "$view" >/dev/null
  # Both turns: upside down, the black mark at the top left.
  [ "$(identify -format "%wx%h" "$work/pictures/a.png")" = 200x125 ] || fail "a.png changed its size"
  [ "$(convert "$work/pictures/a.png" -format "%[fx:int(255*p{5,5}.r)]" info:)" = 0 ] ||
    fail "a.png does not hold both turns"
  ends_on_exit
  ;;
showerror)
  settings SlideShowInterval=400 ImageTransitionEffect=0 ShowSlideShowPrompt=False ShowFullScreenPrompt=False
  marked_picture "$work/pictures/a.png" "#0000FF"
  echo "not a picture" >"$work/pictures/b.png"
  marked_picture "$work/pictures/c.png" "#00FF00"
  start_on_picture
  click $((mx + mw / 2)) $((my + mh / 2))
  xdotool key s
  read -r box _ < <(wait_window "^File Error$") || fail "the show met no File Error"
  # Ten of the show's intervals.
  sleep 4
  shot showerror-question
  [ "$(windows_named "^File Error$")" = 1 ] || fail "File Error is up $(windows_named "^File Error$") times"
  # Behind it, the show stands on the picture before the broken file.
  where showerror-question "#0000FF" 1280x1024+0+0 >/dev/null || fail "the show moved on behind File Error"
  where showerror-question "#00FF00" 1280x1024+0+0 >/dev/null && fail "the show moved on behind File Error"
  # "Skip": the show ends there, on the next picture.
  press "$box" Escape
  wait_gone "^File Error$" || fail "File Error did not close"
  wait_window "^Pictrova - $work/pictures/c.png$" >/dev/null || fail "Skip did not show the next picture"
  sleep 2
  shot showerror-next
  [ "$(windows_named "^File Error$")" = 0 ] || fail "File Error came again"
  check_marked showerror-next "#00FF00" 1280x1024+0+0 >/dev/null
  [ -f "$work/pictures/b.png" ] || fail "Skip deleted the file"
  ends_on_exit
  ;;
children)
  marked_picture "$work/pictures/a.png" "#0000FF"
  mkdir -p "$work/bin"
  for tool in xdg-open xdg-email; do
    # The stand-in becomes grep, which reads its own mask: a shell's child
    # reading the shell's mask would catch it blocking all while it forks.
    printf '#!/bin/sh\nexec grep SigBlk /proc/self/status >"%s"\n' "$work/$tool.mask" >"$work/bin/$tool"
    chmod +x "$work/bin/$tool"
  done
  export PATH="$work/bin:$PATH"
  start_on_picture
  click $((mx + mw / 2)) $((my + mh / 2))
  # Help > Visit Website..., its first item.
  xdotool key alt+h
  sleep 0.5
  xdotool key Return
  # The e-mail wizard's Send Email, its Enter key.
  xdotool key ctrl+e
  read -r wizard _ < <(wait_window "^Email a.png$") || fail "no e-mail wizard"
  sleep 0.5
  press "$wizard" Return
  for tool in xdg-open xdg-email; do
    for _ in $(seq 1 50); do [ -s "$work/$tool.mask" ] && break; sleep 0.2; done
    [ -s "$work/$tool.mask" ] || { shot "children-$tool"; fail "$tool was not started"; }
    mask=$(awk '{ print $2 }' "$work/$tool.mask")
    # SIGHUP, SIGINT and SIGTERM: bits 1, 2 and 15.
    [ $((0x$mask & 0x4003)) = 0 ] || fail "$tool began with termination signals blocked (SigBlk $mask)"
  done
  # The wizard's question after the mail: "No".
  sleep 1
  xdotool key Escape
  ends_on_exit
  ;;
crowded)
  corpus="$(dirname "$0")/../../fuzz/corpus"
  mkdir -p "$work/plain" "$work/crowded"
  marked_picture "$work/plain/a.jpg" "#0000FF"
  cp "$work/plain/a.jpg" "$work/crowded/a.jpg"
  cp "$corpus/metafile/7a0052deb44ff936ac90ef4ad5962d8003f38168" "$work/crowded/b.wmf"
  for i in $(seq -w 1 200); do
    cp "$corpus/png/e2bf96ff563b4e3def180e6f4befa477a1b80860" "$work/crowded/c$i.png"
  done
  # The JPEG alone, then beside the others: shown at once both times, the
  # window answering (the tool box opens within seconds), and the headers
  # read meanwhile adding no picture-sized memory to the program's peak.
  for folder in plain crowded; do
    "$program" "$work/$folder" >"$work/first.log" 2>&1 &
    first=$!
    watch_program "$first"
    read -r main mw mh mx my < <(wait_window "^Pictrova - $work/$folder/a.jpg$") || fail "$folder was not opened"
    sleep 1
    shot "$folder"
    check_marked "$folder" "#0000FF" "${mw}x$((mh - 230))+$mx+$((my + 168))" >/dev/null
    start=$SECONDS
    click $((mx + mw / 2)) $((my + mh / 2))
    xdotool key ctrl+t
    wait_window "^Image Tools$" >/dev/null || fail "$folder: no tool box: the window does not answer"
    [ $((SECONDS - start)) -le 10 ] || fail "$folder: the tool box came after $((SECONDS - start)) s: the window was held"
    peak=$(awk '/^VmHWM/ {print $2}' "/proc/$first/status")
    [ "$folder" = plain ] && alone=$peak
    ends_on_exit
  done
  echo "peak resident memory: $alone kB with the JPEG alone, $peak kB beside the crafted files"
  [ $((peak - alone)) -lt $((200 * 1024)) ] || fail "the crafted files' headers took $(((peak - alone) / 1024)) MB"
  ;;
tiles)
  crafted="$(dirname "$0")/../../fuzz/corpus/jpeg2000"
  cp "$crafted/1154301f0076ab1923e035ddc6b8257ee07af5b7" "$work/pictures/b.j2k"
  cp "$crafted/9d7a6888cf7fc74a3605668f117acd67cd1e63c3" "$work/pictures/c.jp2"
  cp "$crafted/1d5eb1ffaa8e99c0da17e84b698a814b37f775f4" "$work/pictures/d.jp2"
  # 2 x 2 precincts and 4 x 4 code-blocks over a tile of 2048 x 2048, set in
  # the main header and in the tile-part's.
  cp "$crafted/c6093dfaaba5601be4ad289a867116e0e3253db8" "$work/pictures/e.j2k"
  cp "$crafted/3fe3b15aa2f9792e21a00a4a02f8c5103c8db1db" "$work/pictures/f.j2k"
  marked_picture "$work/pictures/a.png" "#0000FF"
  start_on_picture
  # The strip reads the neighbours meanwhile; reading the header of the first
  # alone took gigabytes, decoding the last two as much.
  peak=0
  for _ in $(seq 1 30); do
    peak=$(awk '/^VmHWM:/ { print int($2 / 1024) }' "/proc/$first/status") || fail "the program ended"
    [ "$peak" -le 500 ] || fail "the program's peak resident memory reached $peak MB"
    sleep 0.2
  done
  shot tiles
  check_marked tiles "#0000FF" "${mw}x${mh}+${mx}+${my}" >/dev/null
  ends_on_exit
  echo "peak resident memory: $peak MB"
  ;;
slowread)
  # Slow to read by its size alone: 12000 x 12000 of 16-bit samples, a
  # megabyte of file.
  ppmmake -maxval=65535 '#00C000' 12000 12000 | pnmtopng -force >"$work/pictures/a.png" || fail "no slow picture"
  marked_picture "$work/pictures/b.jpg" "#FF0000"
  "$program" "$work/pictures" >"$work/first.log" 2>&1 &
  first=$!
  watch_program "$first"
  read -r id mw mh mx my < <(wait_window "^Pictrova") || fail "no main window"
  "$PICTROVA_PING" "$id" 1000 || fail "the window does not answer while the picture is read"
  [ "$(title)" != "Pictrova - $work/pictures/a.png" ] || fail "the picture was read before the first ping"
  shot early
  share=$(fraction early "#00C000" "${mw}x${mh}+${mx}+${my}")
  awk -v s="$share" 'BEGIN { exit !(s < 0.0005) }' ||
    fail "the window showed only once the picture's thumbnail had been read"
  for _ in $(seq 1 300); do
    [ "$(title)" = "Pictrova - $work/pictures/a.png" ] && break
    sleep 0.2
  done
  [ "$(title)" = "Pictrova - $work/pictures/a.png" ] || fail "the slow picture did not come"
  # Past its transition.
  sleep 1
  shot shown
  read -r bw bh _ < <(where shown "#00C000" "${mw}x${mh}+${mx}+${my}") || fail "the slow picture is not on the screen"
  [ "$bw" -ge 200 ] && [ "$bh" -ge 200 ] || fail "the slow picture is not on the screen (${bw}x${bh})"
  click $((mx + mw / 2)) $((my + mh / 2))
  xdotool key Right
  wait_title "Pictrova - $work/pictures/b.jpg" || fail "the next picture did not come"
  sleep 1
  shot next
  check_marked next "#FF0000" "${mw}x${mh}+${mx}+${my}" >/dev/null
  "$PICTROVA_PING" "$id" 1000 || fail "the window does not answer after the slow picture"
  # The dialog selects the folder's first file, the slow one, for its preview
  # (200 x 160 at 610, 26).
  xdotool key ctrl+o
  read -r dialog _ _ dx dy < <(wait_window "^Open Image Folder$") || fail "Ctrl+O opened no dialog"
  preview="200x160+$((dx + 610))+$((dy + 26))"
  "$PICTROVA_PING" "$dialog" 1000 || fail "the dialog does not answer while its preview is read"
  shot dialog-early
  share=$(fraction dialog-early "#00C000" "$preview")
  awk -v s="$share" 'BEGIN { exit !(s < 0.0005) }' || fail "the dialog showed only once its preview had been read"
  for _ in $(seq 1 300); do
    shot dialog
    share=$(fraction dialog "#00C000" "$preview")
    awk -v s="$share" 'BEGIN { exit !(s > 0.3) }' && break
    sleep 0.2
  done
  awk -v s="$share" 'BEGIN { exit !(s > 0.3) }' || fail "the slow picture's preview did not come ($share)"
  "$PICTROVA_PING" "$dialog" 1000 || fail "the dialog does not answer after its preview"
  press "$dialog" Escape
  wait_gone "^Open Image Folder$" || fail "the dialog did not close"
  ends_on_exit
  ;;
gifplay)
  # The first frame green, coded with a clear code before every two pixels
  # (its codes stay 3 bits wide); each later frame a red pixel of its own,
  # 50 ms each.
  perl -e '
    binmode STDOUT;
    my ($acc, $bits, $data) = (0, 0, "");
    for my $code ((4, 0, 0) x 32768, 5) {
      $acc |= $code << $bits;
      for ($bits += 3; $bits >= 8; $bits -= 8) { $data .= chr($acc & 255); $acc >>= 8 }
    }
    $data .= chr($acc) if $bits;
    print "GIF89a", pack("v2C3", 256, 256, 0x81, 0, 0), pack("C12", 0, 0xC0, 0, 0xFF, 0, 0, (0) x 6);
    print pack("C8", 0x21, 0xF9, 4, 4, 5, 0, 0, 0), pack("Cv4C", 0x2C, 0, 0, 256, 256, 0), chr(2);
    print chr(length $1), $1 while $data =~ /(.{1,255})/gs;
    print chr(0);
    for my $i (0 .. 11999) {
      print pack("C8", 0x21, 0xF9, 4, 4, 5, 0, 0, 0), pack("Cv4C", 0x2C, $i % 256, int($i / 256) * 5, 1, 1, 0),
        pack("C5", 2, 2, 0x4C, 0x01, 0);
    }
    print ";";
  ' >"$work/pictures/pixels.gif" || fail "no animation"
  start_on_animation pixels.gif
  # The frames are read on a worker; once they are in, the picture changes.
  shot before
  playing=""
  for n in $(seq 1 60); do
    sleep 1
    shot "play$n"
    [ "$(differ before "play$n")" -gt 0 ] && playing=$n && break
  done
  [ -n "$playing" ] || fail "the animation does not play"
  plays_answering "play$playing"
  # The end lets go of the frames' store, a file of some 800 MB: on a busy
  # disk that takes a while.
  ends_on_exit 180
  ;;
gifsprites)
  # A table of 16 colours: the sprites' eight and grey.
  perl -e "$uniform_frame"'
    binmode STDOUT;
    my @colours = ([255, 0, 0], [0, 192, 0], [0, 0, 255], [255, 255, 0], [255, 0, 255], [0, 255, 255],
      [255, 128, 0], [128, 0, 255], ([40, 40, 40]) x 8);
    my @at = ([0, 0], [350, 0], [0, 100], [350, 100], [175, 50], [175, 0], [0, 50], [350, 50]);
    print "GIF89a", pack("v2C3", 400, 150, 0xF3, 8, 0), map { pack("C3", @$_) } @colours;
    for my $i (0 .. 7) {
      print pack("C4vC2", 0x21, 0xF9, 4, 4, $i == 7 ? 1000 : 30, 0, 0), pack("Cv4C", 0x2C, @{$at[$i]}, 50, 50, 0),
        uniform(50 * 50, $i, 4);
    }
    print ";";
  ' >"$work/pictures/sprites.gif" || fail "no animation"
  start_on_animation sprites.gif
  colours=("#FF0000" "#00C000" "#0000FF" "#FFFF00" "#FF00FF" "#00FFFF" "#FF8000" "#8000FF")
  places=("0 0" "350 0" "0 100" "350 100" "175 50" "175 0" "0 50" "350 50")
  # The last frame stays 10 s: a shot within them shows all eight.
  all=""
  for n in $(seq 1 60); do
    sleep 0.5
    shot "sprites$n"
    all=$n
    for c in "${colours[@]}"; do
      where "sprites$n" "$c" "$view" >/dev/null || { all=""; break; }
    done
    [ -n "$all" ] && break
  done
  [ -n "$all" ] || fail "the sprites never showed all together"
  read -r w0 h0 x0 y0 <<<"$(where "sprites$all" "${colours[0]}" "$view")"
  for i in 1 2 3 4 5 6 7; do
    read -r w h x y <<<"$(where "sprites$all" "${colours[$i]}" "$view")"
    read -r px py <<<"${places[$i]}"
    # Sprite i lies (px, py) from the first, at the zoom the first shows.
    awk -v w="$w" -v h="$h" -v dx=$((x - x0)) -v dy=$((y - y0)) -v w0="$w0" -v h0="$h0" -v px="$px" -v py="$py" \
      'BEGIN { d = 3 + w0 / 50; exit !(w - w0 < d && w0 - w < d && h - h0 < d && h0 - h < d &&
                 dx - px * w0 / 50 < d && px * w0 / 50 - dx < d && dy - py * h0 / 50 < d && py * h0 / 50 - dy < d) }' ||
      fail "sprite $i (${colours[$i]}) shows at ${w}x${h}+${x}+${y}, the first at ${w0}x${h0}+${x0}+${y0}"
  done
  ends_on_exit
  ;;
gifbig)
  perl -e "$uniform_frame"'
    binmode STDOUT;
    print "GIF89a", pack("v2C3", 8192, 8192, 0x81, 0, 0), pack("C12", 0, 0xC0, 0, 0xFF, 0, 0, (255) x 6);
    print pack("C8", 0x21, 0xF9, 4, 4, 5, 0, 0, 0), pack("Cv4C", 0x2C, 0, 0, 8192, 8192, 0), uniform(8192 * 8192, 0, 2);
    for my $i (0 .. 199) {
      print pack("C8", 0x21, 0xF9, 4, 4, 5, 0, 0, 0), pack("Cv4C", 0x2C, $i * 997 % 8128, $i * 1531 % 8128, 64, 64, 0),
        uniform(64 * 64, 1, 2);
    }
    print ";";
  ' >"$work/pictures/big.gif" || fail "no animation"
  start_on_animation big.gif
  # The frames are read on a worker; once they are in, red frames come.
  playing=""
  for n in $(seq 1 120); do
    sleep 1
    shot "play$n"
    awk -v s="$(fraction "play$n" "#FF0000" "$view")" 'BEGIN { exit !(s > 0) }' && playing=$n && break
  done
  [ -n "$playing" ] || fail "the animation does not play"
  plays_answering "play$playing"
  ends_on_exit 60
  ;;
*)
  fail "unknown case"
  ;;
esac
echo "robustness ($case) passed"
