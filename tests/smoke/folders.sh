#!/usr/bin/env bash
# The folder views of the real program, one case a run:
#   email    two thumbnails selected, "Email Images" of the strip's pop-up
#            opens the e-mail wizard with them; Ctrl+E in the advanced
#            folder view adds that view's selection, a Latin-1 name and its
#            twin among them; "Send Email" hands all four to a stand-in
#            xdg-email, each by its own bytes.
#   tabdrag  a thumbnail dragged onto another folder's tab: the tab comes
#            up while the drag goes on, and the drop moves the file there.
#   rename   Ctrl+Enter, then a name that is taken: after the error the
#            rename dialog comes back, and the next name is taken.
#   links    a link in one folder to the picture in another, copied there
#            (Ctrl+C, a second start on the picture, Ctrl+V, "Yes" were it
#            asked), then cut there: refused, the picture and the link stay.
#   trash    Ctrl+A, Delete and "Yes to All" move pictures whose names a raw
#            record would change (a "%41", blanks, letters beyond ASCII, a
#            line break) to the trash: each record's Path decodes to the
#            name it had and is written as GLib's trash writes it.
#   names    a picture whose name is no UTF-8 (Latin-1 "caf\xe9.png"), alone
#            in its folder and beside its twin "caf\xef\xbf\xbd.png" (what
#            its text reads as): started on, it is the picture shown, with
#            no error; a turn and Ctrl+S write it, and Delete sends it to
#            the trash; the twin keeps its bytes throughout.
#   recent   two runs on one settings folder (two sessions of one user)
#            each open folders: the stored recent folders keep both runs';
#            Open Recent of one that is gone says so and drops it for good,
#            though the other run still lists it when it ends.
#   commit_workfiles
#            saves killed amid their work files, one of a picture whose
#            name is 240 bytes long and one run in a sandbox (another
#            process-id namespace), beside files only named like work files:
#            the next start's folder removes the killed save's work file
#            only; the sandbox's and the look-alikes stay byte for byte.
#   commit_move
#            pictures of another user and group, of old times, cut in a
#            folder on another device and pasted here: they arrive with
#            their owner, group, mode and time, byte for byte.
# Usage: folders.sh <pictrova> <work folder> <case>
set -euo pipefail
program=$1
work=$2
case=$3
source "$(dirname "$0")/screenlib.sh"
journey_env "$work" one two bin

pid=""
second=""
fail() {
  echo "FOLDERS ($case) FAILED: $*" >&2
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$second" ] && kill "$second" 2>/dev/null
  exit 1
}

# start <picture>: the program on the picture; sets main mw mh mx my.
start() {
  "$program" "$1" >"$work/program.log" 2>&1 &
  pid=$!
  watch_program "$pid"
  read -r main mw mh mx my < <(wait_window "^Pictrova - $1$") || fail "$1 was not shown"
  sleep 1
}
# thumb <shot> <colour>: the centre "x y" of the strip's thumbnail in that
# colour (the strip lies under the menu and the tab row).
thumb() {
  local box
  box=$(where "$1" "$2" "${mw}x100+${mx}+$((my + 40))") || fail "$1: no $2 thumbnail in the strip"
  read -r bw bh bx by <<<"$box"
  echo "$((bx + bw / 2)) $((by + bh / 2))"
}
# delete_answered <keys> <answer>: the keys that delete, then the question
# they bring (the window new since) answered by its key.
delete_answered() {
  local before question=""
  before=$(xdotool search --onlyvisible --name . | sort)
  xdotool key $1
  for _ in $(seq 1 50); do
    question=$(comm -13 <(echo "$before") <(xdotool search --onlyvisible --name . | sort) | head -1)
    [ -n "$question" ] && break
    sleep 0.2
  done
  [ -n "$question" ] || fail "Delete asked no question"
  sleep 0.5
  shot question
  xdotool windowfocus --sync "$question" key "$2"
}
ends() {
  timeout 20 "$program" EXIT || fail "the EXIT start did not end"
  pid_gone "$pid" || fail "the program did not end on EXIT"
  wait "$pid" || fail "the program ended with an error: $(tail -5 "$work/program.log")"
  pid=""
}

case $case in
email)
  cat >"$work/bin/xdg-email" <<EOF
#!/bin/sh
printf '%s\n' "\$@" > "$work/mail.args"
EOF
  chmod +x "$work/bin/xdg-email"
  export PATH="$work/bin:$PATH"
  marked_picture "$work/one/a.png" "#FF0000"
  marked_picture "$work/one/b.png" "#0000FF"
  marked_picture "$work/one/c.png" "#00FF00"
  marked_picture "$work/one/d.png" "#FFFF00"
  latin1=$(printf 'c\xe9.png')
  twin=$(printf 'c\xef\xbf\xbd.png')
  mv "$work/one/c.png" "$work/one/$latin1"
  mv "$work/one/d.png" "$work/one/$twin"
  start "$work/one/a.png"
  shot strip
  read -r ax ay <<<"$(thumb strip "#FF0000")"
  read -r bx by <<<"$(thumb strip "#0000FF")"
  click "$ax" "$ay"
  xdotool keydown ctrl
  click "$bx" "$by"
  xdotool keyup ctrl
  sleep 0.5
  # The pop-up over the selection (the pointer is there already: a move
  # to where it is would wait): "Rename..." is off for two files, so the
  # second item that can be chosen is "Email Images [Ctrl+E]".
  xdotool click 3
  sleep 0.5
  shot popup
  xdotool key Down Down Return
  wait_window "^Email 2 Images$" >/dev/null || fail "the pop-up's e-mail did not open the wizard with two pictures"
  shot wizard2
  # The advanced folder view (the pop-up's item before "Close Folder"):
  # Ctrl+A, Ctrl+E there.
  xdotool click 3
  sleep 0.5
  xdotool key Up Up Return
  read -r adv _ < <(wait_window "^$work/one$") || fail "no advanced folder view"
  xdotool windowfocus --sync "$adv" key --delay 100 ctrl+a ctrl+e
  read -r wizard _ < <(wait_window "^Email 4 Images$") ||
    fail "Ctrl+E in the advanced folder view did not add its selection"
  shot wizard3
  xdotool windowfocus --sync "$wizard" key Return
  for _ in $(seq 1 100); do [ -s "$work/mail.args" ] && break; sleep 0.2; done
  [ -s "$work/mail.args" ] || fail "Send Email did not run xdg-email"
  for name in a.png b.png "$latin1" "$twin"; do
    LC_ALL=C grep -qxF "$work/one/$name" "$work/mail.args" ||
      fail "$name is not attached: $(tr '\n' ' ' <"$work/mail.args")"
  done
  # "Finished. Would you like to clear the file list?": Yes.
  sleep 1
  xdotool key Return
  wait_gone "^Email 4 Images$" || fail "the wizard stayed after sending"
  ends
  ;;
tabdrag)
  marked_picture "$work/one/a.png" "#FF0000"
  marked_picture "$work/one/b.png" "#FFFF00"
  marked_picture "$work/two/x.png" "#0000FF"
  # Long folder names make wide tabs: the second tab is easy to hit.
  mv "$work/one" "$work/first_folder_of_pictures"
  mv "$work/two" "$work/second_folder_of_pictures"
  one="$work/first_folder_of_pictures"
  two="$work/second_folder_of_pictures"
  start "$two/x.png"
  # The second folder comes by a second start; its tab is the last one.
  timeout 20 "$program" "$one/a.png" || fail "the second start did not end"
  wait_window "^Pictrova - $one/a.png$" >/dev/null || fail "the first folder did not open"
  sleep 1
  shot before
  read -r ax ay <<<"$(thumb before "#FF0000")"
  # The tab row lies right over the strip, whose top is found at its right
  # end (no tab there); the first tab holds the second folder.
  box=$(where before black "20x80+$((mx + mw - 100))+$((my + 25))") || fail "no film strip"
  read -r sw sh sx sy <<<"$box"
  tx=$((mx + 60)) ty=$((sy - 13))
  xdotool mousemove --sync "$ax" "$ay" mousedown 1
  for step in 1 2 3 4 5 6 7 8 9 10; do
    xdotool mousemove --sync $((ax + (tx - ax) * step / 10)) $((ay + (ty - ay) * step / 10))
    sleep 0.05
  done
  xdotool mousemove --sync $((tx + 2)) "$ty"
  sleep 0.5
  shot hover
  # The tab came up under the drag: the strip shows the blue picture's
  # folder, not the red one's.
  where hover "#0000FF" "${mw}x100+${mx}+$((my + 40))" >/dev/null || fail "the hovered tab did not come up"
  where hover "#FFFF00" "${mw}x100+${mx}+$((my + 40))" >/dev/null && fail "the first folder's strip is still shown"
  xdotool mousemove --sync "$tx" "$ty" mouseup 1
  for _ in $(seq 1 50); do [ -f "$two/a.png" ] && break; sleep 0.2; done
  [ -f "$two/a.png" ] && [ ! -e "$one/a.png" ] || fail "the drop did not move a.png into the other folder"
  [ -f "$one/b.png" ] || fail "b.png moved too"
  sleep 1
  shot after
  where after "#FF0000" "${mw}x100+${mx}+$((my + 40))" >/dev/null || fail "the moved picture is not in the tab's strip"
  ends
  ;;
rename)
  marked_picture "$work/one/a.png" "#FF0000"
  marked_picture "$work/one/b.png" "#0000FF"
  start "$work/one/a.png"
  xdotool key ctrl+Return
  wait_window "^Rename Image File$" >/dev/null || fail "Ctrl+Enter did not open the rename dialog"
  xdotool key ctrl+a
  xdotool type b
  xdotool key Return
  wait_window "^Error$" >/dev/null || fail "no error for a taken name"
  shot error
  xdotool key Return
  wait_window "^Rename Image File$" >/dev/null || fail "the rename dialog did not come back after the error"
  shot again
  xdotool key ctrl+a
  xdotool type c
  xdotool key Return
  wait_window "^Pictrova - $work/one/c.png$" >/dev/null || fail "the second name was not taken"
  [ -f "$work/one/c.png" ] && [ ! -e "$work/one/a.png" ] && [ -f "$work/one/b.png" ] ||
    fail "the files are not as renamed: $(ls "$work/one")"
  ends
  ;;
links)
  marked_picture "$work/two/pic.png" "#FF0000"
  ln -s "$work/two/pic.png" "$work/one/pic.png"
  sum=$(sha256sum <"$work/two/pic.png")
  # paste <what>: Ctrl+V into the picture's folder is refused with a
  # message ("Yes" were it a question); the picture, the link and the empty
  # trash stay.
  paste() {
    xdotool key ctrl+v
    wait_window "^Pictrova( 3)?$" >/dev/null || { shot "$1"; fail "$1: the paste said nothing"; }
    shot "$1"
    xdotool key y
    sleep 0.5
    find_window "^Pictrova( 3)?$" >/dev/null && xdotool key Return
    wait_gone "^Pictrova( 3)?$" || fail "$1: the message did not close"
    [ ! -L "$work/two/pic.png" ] && [ "$(sha256sum <"$work/two/pic.png")" = "$sum" ] || fail "$1: two/pic.png changed"
    [ "$(readlink "$work/one/pic.png")" = "$work/two/pic.png" ] || fail "$1: the link in one changed"
    [ -z "$(ls -A "$work/data/Trash/files" 2>/dev/null)" ] || fail "$1: something went to the trash"
  }
  start "$work/one/pic.png"
  xdotool key ctrl+c
  timeout 20 "$program" "$work/two/pic.png" || fail "the second start did not end"
  wait_window "^Pictrova - $work/two/pic.png$" >/dev/null || fail "the second start did not show two/pic.png"
  sleep 1
  paste copy
  # The link's tab, Ctrl+X; back to the picture's, Ctrl+V.
  xdotool key --delay 500 Up ctrl+x Down
  paste move
  ends
  ;;
trash)
  names=("pct%41 x.png" "a b.png" "né €.png" $'new\nline.png')
  marked_picture "$work/one/a.png" "#FF0000"
  for name in "${names[@]}"; do
    marked_picture "$work/one/$name" "#0000FF"
    cp "$work/one/$name" "$work/two/$name"
  done
  start "$work/one/a.png"
  strip="${mw}x100+${mx}+$((my + 40))"
  shot before
  where before "#0000FF" "$strip" >/dev/null || fail "the pictures to delete are not in the strip"
  delete_answered "ctrl+a Delete" alt+a
  for _ in $(seq 1 50); do [ -z "$(ls -A "$work/one")" ] && break; sleep 0.2; done
  [ -z "$(ls -A "$work/one")" ] || fail "Yes to All left $(ls "$work/one" | tr '\n' ' ')in the folder"
  sleep 1
  shot after
  where after "#0000FF" "$strip" >/dev/null && fail "deleted pictures are still in the strip"
  ends
  # The peer: GLib's own trash, in a data folder of its own.
  for name in "${names[@]}"; do XDG_DATA_HOME="$work/peer" gio trash "$work/two/$name"; done
  for name in a.png "${names[@]}"; do
    info="$work/data/Trash/info/$name.trashinfo"
    [ -f "$work/data/Trash/files/$name" ] && [ -f "$info" ] || fail "$name is not in the trash with its record"
    path=$(sed -n 's/^Path=//p' "$info")
    [ "$(wc -l <"$info")" = 3 ] || fail "the record of $name is not three lines: $(cat "$info")"
    # Percent-decoded (a byte at a time, as the format asks), the name it had.
    printf -v decoded '%b' "${path//%/\\x}"
    [ "$decoded" = "$work/one/$name" ] || fail "the record of $name decodes to $decoded"
    [ "$name" = a.png ] && continue
    peer=$(sed -n 's/^Path=//p' "$work/peer/Trash/info/$name.trashinfo")
    [ "$path" = "${peer/\/two\///one/}" ] || fail "the record of $name says $path where GLib's says $peer"
  done
  ;;
names)
  latin1=$'caf\xe9.png' twin=$'caf\xef\xbf\xbd.png'
  marked_picture "$work/one/$latin1" "#FF0000"
  marked_picture "$work/two/$latin1" "#FF0000"
  marked_picture "$work/two/$twin" "#0000FF" 300x400
  sum=$(sha256sum <"$work/two/$twin")
  # shown <shot> <folder>: the Latin-1 picture, red, is on the screen under
  # its name (the byte marked), and no error came.
  shown() {
    read -r main mw mh mx my < <(wait_window "^Pictrova - $2/caf.*\.png$") || fail "$1: no picture shown"
    sleep 1
    shot "$1"
    find_window "^File Error$" >/dev/null && fail "$1: the picture could not be opened"
    where "$1" "#FF0000" "${mw}x$((mh - 200))+${mx}+$((my + 150))" >/dev/null || fail "$1: the red picture is not shown"
    where "$1" "#0000FF" "${mw}x$((mh - 200))+${mx}+$((my + 150))" >/dev/null && fail "$1: the twin is shown"
    [ "$(xdotool getwindowname "$main")" = "Pictrova - $2/caf"$'\xef\xbf\xbd'".png" ] ||
      fail "$1: the title is $(xdotool getwindowname "$main")"
  }
  "$program" "$work/one" >"$work/program.log" 2>&1 &
  pid=$!
  watch_program "$pid"
  shown alone "$work/one"
  ends
  "$program" "$work/two/$latin1" >"$work/program.log" 2>&1 &
  pid=$!
  watch_program "$pid"
  shown beside "$work/two"
  xdotool key ctrl+r
  sleep 0.5
  xdotool key ctrl+s
  for _ in $(seq 1 50); do
    [ "$(identify -format "%w %h" "$work/two/$latin1" 2>/dev/null)" = "300 400" ] && break
    sleep 0.2
  done
  [ "$(identify -format "%w %h" "$work/two/$latin1")" = "300 400" ] || fail "Ctrl+S did not write the turn to $latin1"
  [ "$(sha256sum <"$work/two/$twin")" = "$sum" ] || fail "the save changed the twin"
  delete_answered Delete alt+y
  for _ in $(seq 1 50); do [ -e "$work/two/$latin1" ] || break; sleep 0.2; done
  [ ! -e "$work/two/$latin1" ] || fail "Delete left $latin1 in its folder"
  [ "$(identify -format "%w %h" "$work/data/Trash/files/$latin1")" = "300 400" ] || fail "$latin1 is not in the trash"
  [ "$(sha256sum <"$work/two/$twin")" = "$sum" ] || fail "the delete changed the twin"
  ends
  ;;
recent)
  marked_picture "$work/one/a.png" "#FF0000"
  marked_picture "$work/two/b.png" "#0000FF"
  mkdir -p "$work/three"
  marked_picture "$work/three/c.png" "#00FF00"
  (cd "$work" && sha256sum one/a.png three/c.png) >"$work/pictures.sha256"
  # recent_lines: the recent folders' key and values as the settings file holds them.
  recent_lines() {
    awk '/^key / { on = ($0 ~ /"RecentFolders"$/) } on' \
      "$work/config/Halvenworth/Pictrova 3/HKEY_CURRENT_USER.keys"
  }
  # expect_recent <order> <slot=folder>...: the stored list, byte for byte.
  expect_recent() {
    local order=$1 s
    shift
    {
      echo 'key "Software" "Halvenworth" "Pictrova 3" "RecentFolders"'
      for s in "$@"; do printf 'sz "%s" "%s"\n' "${s%%=*}" "$work/${s#*=}"; done
      printf 'sz "MRUList" "%s"\n' "$order"
    } >"$work/recent.expected"
    recent_lines >"$work/recent.stored"
    cmp -s "$work/recent.expected" "$work/recent.stored" ||
      fail "$order: the stored recent folders are $(tr '\n' '|' <"$work/recent.stored")"
  }
  start "$work/one/a.png"
  first=$pid
  # The second run: another session's runtime folder, the same settings.
  mkdir -m 700 "$work/runtime2"
  XDG_RUNTIME_DIR="$work/runtime2" "$program" "$work/two/b.png" >"$work/second.log" 2>&1 &
  second=$!
  watch_program "$second"
  wait_window "^Pictrova - $work/two/b.png$" >/dev/null || fail "the second run did not show two/b.png"
  sleep 1
  # The first run opens a third folder (a second start hands it over).
  timeout 20 "$program" "$work/three/c.png" || fail "the second start did not end"
  wait_window "^Pictrova - $work/three/c.png$" >/dev/null || fail "the first run did not open the third folder"
  sleep 1
  expect_recent cba a=one b=two c=three
  # Open Recent's second item (the menu: three, two, one) after two went.
  rm -r "$work/two"
  read -r main _ <<<"$(find_window "^Pictrova - $work/three/c.png$")"
  xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
  xdotool key alt+f
  sleep 0.5
  xdotool key Down Right
  sleep 0.5
  shot recentmenu
  xdotool key Down Return
  for _ in $(seq 1 50); do
    [ "$(windows_named "^Pictrova - $work/three/c.png$")" -ge 2 ] && break
    sleep 0.2
  done
  [ "$(windows_named "^Pictrova - $work/three/c.png$")" -ge 2 ] || { shot nomessage; fail "no message for the folder gone"; }
  shot message
  expect_recent ca a=one c=three
  xdotool key Return
  for _ in $(seq 1 50); do
    [ "$(windows_named "^Pictrova - $work/three/c.png$")" -eq 1 ] && break
    sleep 0.2
  done
  [ "$(windows_named "^Pictrova - $work/three/c.png$")" -eq 1 ] || fail "the message stayed"
  # The second run had the folder open: it closes it when told.
  read -r told _ < <(wait_window "^Error$") || { shot noerror; fail "the second run did not say its folder went"; }
  xdotool windowfocus --sync "$told" key Return
  wait_gone "^Error$" || fail "the second run's message stayed"
  # The second run, which still lists the folder, ends first.
  timeout 20 env XDG_RUNTIME_DIR="$work/runtime2" "$program" EXIT || fail "the second run's EXIT start did not end"
  pid_gone "$second" || fail "the second run did not end on EXIT"
  wait "$second" || fail "the second run ended with an error: $(tail -5 "$work/second.log")"
  second=""
  pid=$first
  ends
  expect_recent ca a=one c=three
  (cd "$work" && sha256sum -c --quiet pictures.sha256) || fail "a picture changed"
  ;;
commit_workfiles)
  long=$(printf 'p%.0s' $(seq 1 236)).bmp
  convert -size 7000x5000 xc:"#0000FF" "BMP3:$work/one/$long"
  cp "$work/one/$long" "$work/one/big.bmp"
  marked_picture "$work/one/a.png" "#FF0000"
  # killed <picture> <hidden> <command...>: the command shows the picture,
  # which is turned and saved; the run is killed (by the process victim
  # names) while the save writes its work file, the hidden file whose name
  # starts with <hidden>, then in $temp.
  killed() {
    local picture=$1 hidden=$2 f
    shift 2
    start_turned "$work/one/$picture" "$@"
    xdotool key ctrl+s
    temp=""
    for _ in $(seq 1 600); do
      for f in "$work/one/$hidden"*; do [ -f "$f" ] && [ "${f##*/}" != "$own" ] && temp=${f##*/}; done
      [ -n "$temp" ] && break
      sleep 0.05
    done
    [ -n "$temp" ] || fail "no work file of the save of $picture was seen"
    kill -KILL "$(victim)"
    wait "$pid" 2>/dev/null || true
    pid=""
    [ -e "$work/one/$temp" ] || fail "the save of $picture was over before its run was killed"
  }
  victim() { echo "$pid"; }
  own=""
  killed "$long" .pppp "$program" "$work/one/$long"
  own=$temp
  # The sandbox's run gets a process number that no process here has: a
  # look by number alone would take its save for a killed one.
  sandboxed=""
  if unshare --pid --fork --mount-proc true 2>/dev/null; then
    sh -c 'exit 0' &
    gone=$!
    wait "$gone" || true
    mkdir -m 700 "$work/runtime2"
    victim() { ps -o pid= --ppid "$pid" | head -1; }
    killed big.bmp .big.bmp. env XDG_RUNTIME_DIR="$work/runtime2" \
      unshare --pid --fork --kill-child --mount-proc sh -c \
      'echo $(($1 - 1)) >/proc/sys/kernel/ns_last_pid && "$2" "$3"; :' sh "$gone" "$program" "$work/one/big.bmp"
    sandboxed=$temp
    case $sandboxed in
    *".pictrova-$gone-"*) ;;
    *) fail "the sandbox's save is not of process $gone: $sandboxed" ;;
    esac
  fi
  sh -c 'exit 0' &
  gone=$!
  wait "$gone" || true
  for name in ".album.pictrova-$gone-backup" ".pictrova-$gone-0.part" ".a.png.pictrova-$gone-Qw3rty"; do
    echo "the user's own $name" >"$work/one/$name"
  done
  (cd "$work/one" && find . -type f ! -name "$own" -print0 | xargs -0 sha256sum) >"$work/kept.sha256"
  start "$work/one/a.png"
  for _ in $(seq 1 50); do [ -e "$work/one/$own" ] || break; sleep 0.2; done
  [ ! -e "$work/one/$own" ] || fail "the killed save's work file $own stayed"
  (cd "$work/one" && sha256sum -c --quiet "$work/kept.sha256") ||
    fail "a file that is no killed save's work file changed"
  [ -z "$sandboxed" ] || [ -e "$work/one/$sandboxed" ] || fail "the sandbox's work file went"
  ends
  ;;
commit_move)
  far=$(mktemp -d /dev/shm/pictrova-screen.XXXXXX) || fail "no folder on another device"
  trap 'rm -rf "$far"' EXIT
  [ "$(stat -c %d "$far")" != "$(stat -c %d "$work/two")" ] || fail "/dev/shm is on the work folder's device"
  marked_picture "$far/g.jpg" "#FF0000"
  marked_picture "$far/h.png" "#0000FF"
  marked_picture "$work/two/x.png" "#00FF00"
  # Another user's and group run by root; the user's own otherwise.
  [ "$(id -u)" = 0 ] && chown nobody:users "$far/g.jpg" && chown root:users "$far/h.png"
  chmod 640 "$far/g.jpg"
  chmod 604 "$far/h.png"
  touch -d "2001-09-09 01:46:40" "$far/g.jpg" "$far/h.png"
  for name in g.jpg h.png; do
    echo "$(stat -c '%U %G %a %Y' "$far/$name") $(sha256sum <"$far/$name")" >"$work/$name.was"
  done
  start "$far/g.jpg"
  xdotool key ctrl+a ctrl+x
  timeout 20 "$program" "$work/two/x.png" || fail "the second start did not end"
  wait_window "^Pictrova - $work/two/x.png$" >/dev/null || fail "the second start did not show two/x.png"
  sleep 1
  xdotool key ctrl+v
  for _ in $(seq 1 50); do [ -e "$far/g.jpg" ] || [ -e "$far/h.png" ] || break; sleep 0.2; done
  for name in g.jpg h.png; do
    [ ! -e "$far/$name" ] || fail "$name was not moved"
    is="$(stat -c '%U %G %a %Y' "$work/two/$name") $(sha256sum <"$work/two/$name")"
    [ "$is" = "$(cat "$work/$name.was")" ] || fail "$name arrived as $is, not as $(cat "$work/$name.was")"
  done
  ends
  ;;
*)
  fail "unknown case"
  ;;
esac
echo "folders ($case) passed"
