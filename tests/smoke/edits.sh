#!/usr/bin/env bash
# The real program's edits and their saves, one case a run:
#   paused   edits made while a slide show is paused: a turn answered "Yes"
#            on leaving, and one saved silently (a large picture), reach
#            their files; Print works in the paused show.
#   closing  a turned picture whose file cannot be written: the close by
#            Pause or File > Exit and the close of its folder, answered
#            "Yes" (the save fails) or "No" with the save-as dialog
#            cancelled, keep the window, the folder and the turn, and write
#            no settings; "Discard Changes" then closes.
#   changed  files another program replaced or rewrote under a turned
#            picture: Right (the silent save) and Ctrl+S ask, and the other
#            program's bytes survive unless "Overwrite" is chosen (Enter is
#            "Save As"); Delete
#            answered Cancel leaves a turned picture's file as it was; a
#            paste of another folder's file over the turned picture
#            answered "No" at its replace question writes neither file and
#            keeps the turn; answered "Yes", it saves the turn first, and
#            the pasted file survives the next Right.
#   alpha    transparent pictures turned and saved keep their transparency,
#            turned with their pixels: a red circle on a transparent ground
#            turned by Ctrl+R and saved silently by Right, a picture drawn
#            only in its alpha channel (a gray one) turned by Ctrl+L and
#            saved by Ctrl+S, with Enable Transparency off, and a half turn
#            saved by Ctrl+S with it on; the files not saved keep their
#            bytes.
#   renamed  a picture another program rewrote in place, its size and time
#            put back, then renamed by the program (Ctrl+Enter): a turn and
#            Right ask about the other program's change, and its bytes
#            survive; renamed again with nothing changed, Right saves the
#            turn silently.
#   pasted   a small turned picture whose file a paste from another tab
#            replaces: with "Discard Changes" and "Yes" to the replace the
#            pasted picture is shown unmodified, its thumbnail too; Right
#            asks nothing, and every file is as the paste left it.
#   commit   a large turned picture saved by Ctrl+S, while the save writes
#            its work file another program renames its own picture over
#            the name: the save asks "File changed by another program",
#            the other program's file is there byte for byte, no work file
#            is left and the turn stays; Save As cancelled keeps all that;
#            Ctrl+S and "Overwrite" then write the turned picture.
#   asked    a 16-bit PNG turned, Ctrl+S: "Not everything can be saved";
#            while it is up another program renames its own picture over
#            the name. "Overwrite" asks "File changed by another program"
#            instead of writing, the other program's file is there byte for
#            byte and no work file is left; "Discard Changes" shows it.
#   unread   a BigTIFF and a GIF of no frame are refused with "File Error";
#            Ctrl+R and Ctrl+S then leave both files byte for byte.
#   pages    files that hold more than one picture, a colour profile or
#            transparency, turned by Ctrl+R and saved silently by Right: a
#            TIFF of three pages keeps them, the two not shown byte-equal in
#            pixels; an animation keeps its three frames, all turned, with
#            their delays, disposal and transparency; a PNG keeps its colour
#            profile byte for byte; a 32-bit BMP and an RGBA TIFF keep their
#            transparency, turned. A 16-bit PNG is not written at 8 bits
#            without a question: "Discard Changes" leaves its bytes.
#   whole    a two-colour PNG keeps its two colours, a GIF whose
#            transparent colour is also used opaque keeps which pixels are
#            clear, a PNG keeps its text, XMP and background chunks and the
#            bytes after its end, and a motion photo keeps the video after
#            its picture, each turned by Ctrl+R and saved silently by Right;
#            the last two renamed by the program (Ctrl+Enter) first.
# Usage: edits.sh <pictrova> <work folder> [case, paused if none]
set -euo pipefail
program=$1
work=$2
case=${3:-paused}
source "$(dirname "$0")/screenlib.sh"
pid=""
fail() { echo "EDITS ($case) FAILED: $*" >&2; [ -n "$pid" ] && kill "$pid" 2>/dev/null; exit 1; }
# end_program: the running program ended by a second start's EXIT, and
# without an error of its own.
end_program() {
  timeout 20 "$program" EXIT || fail "EXIT did not end"
  wait "$pid" || fail "the program ended with an error: $(tail -20 "$work/program.log")"
  pid=""
}

# The picture's file and its folder are closed to the user. Permissions do
# not stop root: run by root, the program runs as nobody.
closing() {
  local user="" question=$edit_question
  [ "$(id -u)" = 0 ] && user=nobody
  # A run by the user itself left its folder closed to it.
  [ -d "$work/pics" ] && chmod -R u+w "$work/pics"
  journey_env ${user:+--as "$user"} "$work" pics
  pics=$program_home/pics
  trap 'chmod -R u+w "$pics" 2>/dev/null; journey_end' EXIT
  settings ImageTransitionEffect=0
  marked_picture "$pics/a.png" "#0000FF" 200x150
  program=$(journey_program "$program")
  # The leak checker's suppressions where the program's user can read them.
  if [ -n "$journey_top" ] && [[ "${LSAN_OPTIONS:-}" =~ suppressions=([^:]*) ]] && [ -f "${BASH_REMATCH[1]}" ]; then
    install -m 644 "${BASH_REMATCH[1]}" "$journey_top/lsan.supp"
    export LSAN_OPTIONS=${LSAN_OPTIONS/"${BASH_REMATCH[1]}"/$journey_top/lsan.supp}
  fi
  journey_hand_over
  chmod a-w "$pics/a.png" "$pics"
  "${as_user[@]}" sh -c 'touch "$1/b.png"' sh "$pics" 2>/dev/null && fail "the picture's folder can still be written to"

  "${as_user[@]}" "$program" "$pics" >"$work/program.log" 2>&1 &
  pid=$!
  watch_program "$pid"
  local shown="Pictrova - $pics/a.png"
  read -r id _ < <(wait_window "^$shown$") || fail "the picture is not shown"
  place_window "$id"
  xdotool key ctrl+r
  wait_title "$shown*" || fail "the turn did not mark the picture modified ($(title))"

  # kept <shot>: the window is there with the turned picture and its mark,
  # the file is as it was, and no settings were written.
  kept() {
    find_window "^$shown\*$" >/dev/null || { shot "$1-gone"; fail "$1: the window closed"; }
    [ "$(title)" = "$shown*" ] || fail "$1: the window shows $(title), not the turned a.png"
    sleep 0.3
    shot "$1"
    local box
    box=$(where "$1" "#0000FF" 900x450+0+170) || fail "$1: no blue picture on the screen"
    read -r bw bh _ <<<"$box"
    [ "$bh" -gt "$bw" ] || fail "$1: the picture on the screen is not the turned one ($box)"
    where "$1" "#0000FF" 900x100+0+40 >/dev/null || fail "$1: the folder's thumbnail is gone"
    [ "$(identify -format "%w %h" "$pics/a.png")" = "200 150" ] || fail "$1: a.png changed"
    grep -q '"MenuVisible"' "$keys" && fail "$1: the settings were written"
    return 0
  }
  # windows <test> <n>: up to 10 s until the number of windows of the
  # turned picture's name (the main window, and the message of a failed
  # save) passes the test, e.g. -eq 2.
  windows() {
    for _ in $(seq 1 100); do
      [ "$(xdotool search --onlyvisible --name "^$shown\*$" 2>/dev/null | wc -l)" "$1" "$2" ] && return 0
      program_ended && return 1
      sleep 0.1
    done
    return 1
  }
  # failed_save <shot>: "Yes" to the question; the save fails with a
  # message, answered OK.
  failed_save() {
    wait_window "$question" >/dev/null || { shot "$1-noquestion"; fail "$1: no question about the turned picture"; }
    xdotool key Return
    windows -eq 2 || { shot "$1-nomessage"; fail "$1: the failed save showed no message"; }
    xdotool key Return
    windows -lt 2 || fail "$1: the message did not close"
  }

  # Pause (Exit), "Yes": the save fails; the window stays with the turn.
  xdotool key Pause
  failed_save 01-exit-yes
  kept 01-exit-yes

  # File > Exit, "No", the save-as dialog cancelled: the same.
  click 450 400
  xdotool key alt+f
  sleep 0.3
  xdotool key Up Return
  edit_answer 2
  wait_window "^Save Image$" >/dev/null || { shot 02-nodialog; fail "No opened no save-as dialog"; }
  sleep 0.5
  xdotool key Escape
  wait_gone "^Save Image$" || fail "the save-as dialog did not close"
  kept 02-exit-no-cancel

  # File > Close Folder, "Yes": the save fails; the folder stays open.
  click 450 400
  xdotool key alt+f
  sleep 0.3
  xdotool key Down Down Return
  failed_save 03-close-folder
  kept 03-close-folder

  # "Discard Changes" lets the close go on: the settings are written.
  "${as_user[@]}" timeout 20 "$program" EXIT || fail "the EXIT start did not end"
  edit_answer 3
  pid_gone "$pid" || { shot 04-notended; fail "Discard Changes did not end the program"; }
  wait "$pid" || fail "the program ended with an error: $(tail -20 "$work/program.log")"
  pid=""
  [ "$(identify -format "%w %h" "$pics/a.png")" = "200 150" ] || fail "a.png changed"
  grep -q '"MenuVisible"' "$keys" || fail "the settings were not written at the close"
}

# The picture shown under the tab row and the strip: "w h x y" of the
# colour's box in the shot.
shown_box() {
  where "$1" "$2" 900x450+0+170 || fail "$1: no $2 picture on the screen"
}

# The question "$message" of a step ($5) answered "no" by key $2: the file $3
# keeps the bytes of $4 before and after, and its edit stays.
declined() {
  local name=${3##*/}
  wait_window "$message" >/dev/null || { shot "$1-none"; fail "$5 asked nothing"; }
  sleep 0.3
  shot "$1"
  cmp -s "$4" "$3" || fail "$name was written before $5 was answered"
  xdotool key "$2"
  wait_gone "$message" || fail "the question of $5 did not close"
  cmp -s "$4" "$3" || fail "$name changed though $5 was declined"
  wait_title "Pictrova - $3*" || fail "the edit of $name is gone after $5 was declined ($(title))"
}

# The pictures' folder and the folder to paste from, shown without
# transitions.
paste_folders() {
  journey_env "$work" pics from
  settings ImageTransitionEffect=0
  pics=$work/pics
}

# The picture of from's tab (the one above) copied or cut by key $1 and
# pasted in the pictures' tab.
paste_from_tab() {
  xdotool key Up
  sleep 0.5
  xdotool key "$1"
  sleep 0.5
  xdotool key Down
  sleep 0.5
  xdotool key ctrl+v
}

# The folder to paste from first, showing $1; the pictures' folder by a
# second start, showing $2, in the window's view; $id is that window.
two_starts() {
  "$program" "$work/from" >"$work/program.log" 2>&1 &
  pid=$!
  watch_program "$pid"
  read -r id _ < <(wait_window "^Pictrova - $work/from/$1$") || fail "the first folder is not shown"
  place_window "$id"
  timeout 20 "$program" "$pics" || fail "the second start did not end"
  wait_title "Pictrova - $pics/$2" || fail "the second start did not show $2 ($(title))"
  click 450 400
}

changed() {
  paste_folders
  marked_picture "$pics/a.png" "#0000FF" 480x360
  marked_picture "$pics/b.png" "#00B000" 480x360
  marked_picture "$pics/c.png" "#FF0000" 480x360
  marked_picture "$work/from/c.png" "#FFFF00" 400x320
  marked_picture "$work/other-a.png" "#FF00FF" 400x320
  marked_picture "$work/other-b.png" "#00FFFF" 400x320
  cp "$work/from/c.png" "$work/pasted.png"
  # The file operations' questions bear the program's name.
  local question="^File changed by another program$" message="^Pictrova( 3)?$"

  two_starts c.png a.png

  # a.png turned; another program puts its own file in its place; Right.
  xdotool key ctrl+r
  wait_title "Pictrova - $pics/a.png*" || fail "the turn did not mark a.png modified ($(title))"
  cp "$work/other-a.png" "$pics/.a.png.new" && mv "$pics/.a.png.new" "$pics/a.png"
  xdotool key Right
  wait_window "$question" >/dev/null ||
    { shot 01-noquestion; fail "Right saved over a replaced file without a question"; }
  sleep 0.3
  shot 01-question
  cmp -s "$work/other-a.png" "$pics/a.png" || fail "the replaced a.png changed while the question was up"
  read -r bw bh _ <<<"$(shown_box 01-question "#0000FF")"
  [ "$bh" -gt "$bw" ] || fail "the turned a.png is not on the screen behind the question"
  # "Discard Changes" moves on; the other program's file stays.
  read -r _ w h x y <<<"$(find_window "$question")"
  click $((x + 107 + 210)) $((y + h - 20))
  wait_title "Pictrova - $pics/b.png" || fail "Discard Changes did not move on to b.png ($(title))"
  cmp -s "$work/other-a.png" "$pics/a.png" || fail "a.png was written over after Discard Changes"

  # b.png turned and rewritten in place; Ctrl+S asks; "Save As" then
  # Escape keeps the edit and the file.
  xdotool key ctrl+r
  wait_title "Pictrova - $pics/b.png*" || fail "the turn did not mark b.png modified ($(title))"
  cat "$work/other-b.png" >"$pics/b.png"
  xdotool key ctrl+s
  read -r _ w h x y < <(wait_window "$question") ||
    { shot 02-noquestion; fail "Ctrl+S saved over a rewritten file without a question"; }
  sleep 0.3
  click $((x + 107 + 105)) $((y + h - 20))
  wait_window "^Save Image$" >/dev/null || { shot 02-nodialog; fail "Save As opened no save-as dialog"; }
  sleep 0.5
  xdotool key Escape
  wait_gone "^Save Image$" || fail "the save-as dialog did not close"
  wait_title "Pictrova - $pics/b.png*" || fail "the edit of b.png is gone after Save As was cancelled ($(title))"
  cmp -s "$work/other-b.png" "$pics/b.png" || fail "b.png was written over after Save As was cancelled"
  sleep 0.3
  shot 02-kept
  read -r bw bh _ <<<"$(shown_box 02-kept "#00B000")"
  [ "$bh" -gt "$bw" ] || fail "the turned b.png is not on the screen after Save As was cancelled"
  # Enter is "Save As", never "Overwrite": the other program's file stays.
  xdotool key ctrl+s
  wait_window "$question" >/dev/null || fail "the second Ctrl+S asked nothing"
  sleep 0.3
  xdotool key Return
  wait_window "^Save Image$" >/dev/null || { shot 02-enter; fail "Enter did not answer Save As"; }
  cmp -s "$work/other-b.png" "$pics/b.png" || fail "Enter wrote over b.png"
  sleep 0.5
  xdotool key Escape
  wait_gone "^Save Image$" || fail "the save-as dialog did not close"
  # "Overwrite" writes it; the program's own file is then saved silently.
  xdotool key ctrl+s
  read -r _ w h x y < <(wait_window "$question") || fail "the third Ctrl+S asked nothing"
  sleep 0.3
  click $((x + 107)) $((y + h - 20))
  wait_title "Pictrova - $pics/b.png" || fail "Overwrite did not save b.png ($(title))"
  [ "$(identify -format "%w %h" "$pics/b.png")" = "360 480" ] || fail "Overwrite did not write the turned b.png"

  # Turned again; Delete answered Cancel leaves the file as it was.
  xdotool key ctrl+r
  wait_title "Pictrova - $pics/b.png*" || fail "the turn did not mark b.png modified ($(title))"
  cp "$pics/b.png" "$work/b-before.png"
  xdotool key Delete
  declined 03-delete Escape "$pics/b.png" "$work/b-before.png" "the delete"
  find_window "$question" >/dev/null && fail "the program's own file was asked about"
  # Right saves the turn silently, as ever.
  xdotool key Right
  wait_title "Pictrova - $pics/c.png" || { shot 04-stuck; fail "Right did not move on to c.png ($(title))"; }
  [ "$(identify -format "%w %h" "$pics/b.png")" = "480 360" ] || fail "b.png was not saved silently"

  # c.png turned; from's c.png copied in its tab and pasted here, "No" to
  # the replace: no file changes, the turn stays.
  xdotool key ctrl+r
  wait_title "Pictrova - $pics/c.png*" || fail "the turn did not mark c.png modified ($(title))"
  cp "$pics/c.png" "$work/c-before.png"
  paste_from_tab ctrl+c
  declined 05-declined n "$pics/c.png" "$work/c-before.png" "the paste"
  cmp -s "$work/pasted.png" "$work/from/c.png" || fail "from's c.png changed though the paste was declined"

  # Cut and pasted again, "Yes": replaced.
  paste_from_tab ctrl+x
  wait_window "$message" >/dev/null || { shot 05-noreplace; fail "the paste did not ask to replace c.png"; }
  sleep 0.3
  shot 05-replace
  xdotool key y
  for _ in $(seq 1 50); do [ -e "$work/from/c.png" ] || break; sleep 0.2; done
  [ ! -e "$work/from/c.png" ] || fail "the paste did not move c.png"
  cmp -s "$work/pasted.png" "$pics/c.png" || fail "the pasted c.png is not in the folder"
  xdotool key Right
  wait_title "Pictrova - $pics/a.png" || { shot 06-stuck; fail "Right did not move on to a.png ($(title))"; }
  cmp -s "$work/pasted.png" "$pics/c.png" || fail "the turned picture was saved over the pasted c.png"
  sleep 0.3
  shot 06-after

  end_program
}

# planes <file> <name> <operators...>: the alpha channel of a picture, and
# its colours flattened on black, after the ImageMagick operators given, as
# $work/planes/<name>.alpha.png and <name>.flat.png.
planes() {
  local file=$1 name=$2
  shift 2
  mkdir -p "$work/planes"
  convert "$file" "$@" -alpha extract "png:$work/planes/$name.alpha.png"
  convert "$file" "$@" -background black -alpha remove -alpha off "png:$work/planes/$name.flat.png"
}
# same_picture <saved> <original> <operators...>: the saved file holds the
# original turned by the operators, its transparency included.
same_picture() {
  local saved=$1 original=$2 name differ plane
  name=$(basename "$saved" .png)
  shift 2
  pngcheck -q "$saved" >/dev/null || fail "$saved is no sound PNG"
  case "$(identify -format %A "$saved")" in
    False | Undefined) fail "$saved was written without its transparency" ;;
  esac
  planes "$saved" "$name-saved"
  planes "$original" "$name-turned" "$@"
  for plane in alpha flat; do
    differ=$(compare -metric AE "$work/planes/$name-turned.$plane.png" "$work/planes/$name-saved.$plane.png" null: 2>&1) ||
      true
    [ "$differ" = 0 ] || fail "$saved: $differ pixels of its $plane plane differ from the turned original's"
  done
}

alpha() {
  journey_env "$work" pics originals
  settings ImageTransitionEffect=0 AlphaChannel=False
  pics=$work/pics
  # A red circle on a transparent ground, a half transparent green mark at
  # its top left so that a turn shows.
  convert -size 480x320 xc:none -fill red -draw "circle 240,160 240,40" -fill "#00FF0080" \
    -draw "rectangle 0,0 119,79" -define png:color-type=6 "$pics/a-circle.png"
  # Black everywhere, the picture only in the alpha channel.
  convert -size 480x320 xc:black \( -size 480x320 radial-gradient: -fill white -draw "rectangle 0,0 119,79" \
    -fill gray30 -draw "circle 360,240 360,200" \) -alpha off -compose CopyOpacity -composite \
    -define png:color-type=4 "$pics/b-drawn.png"
  convert -size 480x320 xc:none -fill blue -draw "circle 240,160 240,40" -fill "#FFFF00C0" \
    -draw "rectangle 0,0 119,79" -define png:color-type=6 "$pics/c-half.png"
  marked_picture "$pics/d-plain.png" "#0000FF" 480x320
  cp "$pics"/*.png "$work/originals/"
  (cd "$work/originals" && sha256sum ./*.png >"$work/before.sha256")
  # unchanged <file>...: the files hold their bytes from the start.
  unchanged() {
    local f
    for f in "$@"; do
      grep "  ./$f\$" "$work/before.sha256" | (cd "$pics" && sha256sum -c --quiet -) >/dev/null 2>&1 ||
        fail "$f changed"
    done
  }

  start_turned "$pics/a-circle.png" "$program" "$pics"
  xdotool key Right
  wait_title "Pictrova - $pics/b-drawn.png" || { shot 01-stuck; fail "Right did not move on to b-drawn.png ($(title))"; }
  same_picture "$pics/a-circle.png" "$work/originals/a-circle.png" -rotate 90
  unchanged b-drawn.png c-half.png d-plain.png

  xdotool key ctrl+l
  wait_title "Pictrova - $pics/b-drawn.png*" || fail "the turn did not mark b-drawn.png modified ($(title))"
  xdotool key ctrl+s
  wait_title "Pictrova - $pics/b-drawn.png" || { shot 02-stuck; fail "Ctrl+S did not save b-drawn.png ($(title))"; }
  same_picture "$pics/b-drawn.png" "$work/originals/b-drawn.png" -rotate -90
  # The picture is its alpha channel: none of it may be lost.
  [ "$(stat -c %s "$pics/b-drawn.png")" -gt 20000 ] || fail "b-drawn.png lost its picture ($(stat -c %s "$pics/b-drawn.png") bytes)"
  unchanged c-half.png d-plain.png
  end_program

  # With Enable Transparency on: a half turn of c-half.png.
  settings ImageTransitionEffect=0 AlphaChannel=True
  "$program" "$pics/c-half.png" >>"$work/program.log" 2>&1 &
  pid=$!
  watch_program "$pid"
  read -r id _ < <(wait_window "^Pictrova - $pics/c-half.png$") || fail "c-half.png is not shown"
  place_window "$id"
  xdotool key ctrl+r ctrl+r
  wait_title "Pictrova - $pics/c-half.png*" || fail "the turns did not mark c-half.png modified ($(title))"
  sleep 0.5
  shot 03-turned
  # The transparent ground shows the window's background, not black.
  read -r bw bh bx by < <(where 03-turned "#0000FF" 900x450+0+170) || fail "no blue circle on the screen"
  [ "$(fraction 03-turned black "${bw}x${bh}+${bx}+${by}")" = 0 ] || fail "the transparent ground shows black"
  xdotool key ctrl+s
  wait_title "Pictrova - $pics/c-half.png" || { shot 04-stuck; fail "Ctrl+S did not save c-half.png ($(title))"; }
  same_picture "$pics/c-half.png" "$work/originals/c-half.png" -rotate 180
  unchanged d-plain.png

  end_program
}

# A small RGB display profile, as colour-managed programs embed them.
test_profile() {
  base64 -d <<'EOF'
AAAB7G5vbmUCEAAAbW50clJHQiBYWVogAAAAAAAAAAAAAAAAYWNzcAAAAAAAAAAAAAAAAAAAAAAA
AAAAAAAAAAAAAAAAAPbWAAEAAAAA0y0AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA
AAAAAAAAAAAAAAAAAAAAAAAJZGVzYwAAAPAAAABjY3BydAAAAVQAAAAVd3RwdAAAAWwAAAAUclhZ
WgAAAYAAAAAUZ1hZWgAAAZQAAAAUYlhZWgAAAagAAAAUclRSQwAAAbwAAAAQZ1RSQwAAAcwAAAAQ
YlRSQwAAAdwAAAAQZGVzYwAAAAAAAAAJVGVzdCBSR0IAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA
AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAHRl
eHQAAAAATm8gY29weXJpZ2h0AAAAAFhZWiAAAAAAAAD21QABAAAAANMsWFlaIAAAAAAAAG+kAAA4
9QAAA45YWVogAAAAAAAAYpUAALeGAAAY21hZWiAAAAAAAAAkogAAD4MAALbPY3VydgAAAAAAAAAB
AjMAAGN1cnYAAAAAAAAAAQIzAABjdXJ2AAAAAAAAAAECMwAA
EOF
}

# rgba <file> <operators...>: the checksum of its pixels after the operators.
rgba() {
  local f=$1
  shift
  convert "$f" "$@" rgba:- | sha256sum
}
# turn_and_leave <file> <next>: Ctrl+R, then Right saves it without a word.
turn_and_leave() {
  xdotool key ctrl+r
  wait_title "Pictrova - $pics/$1*" || fail "the turn did not mark $1 modified ($(title))"
  xdotool key Right
  wait_title "Pictrova - $pics/$2" || { shot "$1-stuck"; fail "Right did not move on from $1 ($(title))"; }
}

pages() {
  journey_env "$work" pics originals
  settings ImageTransitionEffect=0
  pics=$work/pics
  local c
  for c in red green blue; do marked_picture "$work/$c.png" "$c" 480x320; done
  convert "$work/red.png" "$work/green.png" "$work/blue.png" -compress lzw "$pics/a-pages.tif"
  convert -delay 10 -dispose none "$work/red.png" -delay 20 -dispose background \( "$work/green.png" -transparent white \) \
    -delay 30 -dispose previous "$work/blue.png" -loop 0 "$pics/b-anim.gif"
  # The same frames, the second's graphic control block cut to its size byte
  # 0: ImageMagick reads it as ended there, and so must the turned save.
  convert -delay 10 "$work/red.png" "$work/green.png" "$work/blue.png" "$pics/b-gce.gif"
  python3 - "$pics/b-gce.gif" <<'EOF'
import sys
d = open(sys.argv[1], 'rb').read()
at = d.index(b'\x21\xf9\x04', d.index(b'\x21\xf9\x04') + 1)
open(sys.argv[1], 'wb').write(d[:at] + b'\x21\xf9\x00' + d[at + 8:])
EOF
  [ "$(identify -format "%T;" "$pics/b-gce.gif")" = "10;0;10;" ] || fail "b-gce.gif: $(identify "$pics/b-gce.gif")"
  test_profile >"$work/p.icc"
  convert -size 480x320 gradient:yellow-navy -depth 8 -profile "$work/p.icc" "$pics/c-profile.png"
  convert -size 480x320 xc:none -fill red -draw "circle 240,160 240,40" -fill "#00FF0080" \
    -draw "rectangle 0,0 119,79" "$work/alpha.png"
  convert "$work/alpha.png" "$pics/d-alpha.bmp"
  convert "$work/alpha.png" -compress lzw "$pics/e-alpha.tif"
  convert -size 480x320 gradient:red-navy -depth 16 "$pics/f-deep.png"
  marked_picture "$pics/g-plain.png" "#0000FF" 480x320
  cp "$pics"/* "$work/originals/"
  [ "$(identify -format %A "$pics/d-alpha.bmp")" = True ] || fail "ImageMagick wrote d-alpha.bmp without alpha"
  pngcheck -v "$pics/f-deep.png" | grep -q "48-bit RGB" || fail "f-deep.png is not of 16 bits a sample"

  "$program" "$pics" >"$work/program.log" 2>&1 &
  pid=$!
  read -r id _ <<<"$(wait_window "^Pictrova - $pics/a-pages.tif$")" || fail "a-pages.tif is not shown"
  place_window "$id"

  turn_and_leave a-pages.tif b-anim.gif
  [ "$(tiffinfo "$pics/a-pages.tif" 2>/dev/null | grep -c "^TIFF Directory")" = 3 ] || fail "a-pages.tif lost pages"
  [ "$(identify -format "%w %h " "$pics/a-pages.tif")" = "320 480 480 320 480 320 " ] ||
    fail "a-pages.tif: $(identify -format "%w %h " "$pics/a-pages.tif")"
  [ "$(rgba "$pics/a-pages.tif[0]")" = "$(rgba "$work/originals/a-pages.tif[0]" -rotate 90)" ] ||
    fail "the first page of a-pages.tif is not the turned one"
  for c in 1 2; do
    [ "$(rgba "$pics/a-pages.tif[$c]")" = "$(rgba "$work/originals/a-pages.tif[$c]")" ] ||
      fail "page $c of a-pages.tif changed"
  done

  turn_and_leave b-anim.gif b-gce.gif
  [ "$(identify -format "%w %h %T %D %A;" "$pics/b-anim.gif")" = \
    "320 480 10 None False;320 480 20 Background True;320 480 30 Previous False;" ] ||
    fail "b-anim.gif: $(identify -format "%w %h %T %D %A;" "$pics/b-anim.gif")"
  [ "$(rgba "$pics/b-anim.gif" -coalesce)" = "$(rgba "$work/originals/b-anim.gif" -coalesce -rotate 90)" ] ||
    fail "the frames of b-anim.gif are not the turned ones"

  turn_and_leave b-gce.gif c-profile.png
  [ "$(identify -format "%w %h %T;" "$pics/b-gce.gif")" = "320 480 10;320 480 0;320 480 10;" ] ||
    fail "b-gce.gif: $(identify -format "%w %h %T;" "$pics/b-gce.gif")"
  [ "$(rgba "$pics/b-gce.gif" -coalesce)" = "$(rgba "$work/originals/b-gce.gif" -coalesce -rotate 90)" ] ||
    fail "the frames of b-gce.gif are not the turned ones"

  turn_and_leave c-profile.png d-alpha.bmp
  convert "$pics/c-profile.png" "$work/saved.icc" && cmp -s "$work/saved.icc" "$work/p.icc" ||
    fail "c-profile.png lost its colour profile"
  pngcheck -v "$pics/c-profile.png" | grep -q iCCP || fail "c-profile.png has no iCCP chunk"

  turn_and_leave d-alpha.bmp e-alpha.tif
  turn_and_leave e-alpha.tif f-deep.png
  for c in d-alpha.bmp e-alpha.tif; do
    [ "$(identify -format "%w %h %A" "$pics/$c")" = "320 480 True" ] || fail "$c was saved without its transparency"
    [ "$(rgba "$pics/$c" -alpha extract)" = "$(rgba "$work/originals/$c" -rotate 90 -alpha extract)" ] ||
      fail "the transparency of $c is not the turned one"
  done

  # The 16-bit picture is asked about, and nothing is written.
  xdotool key ctrl+r
  wait_title "Pictrova - $pics/f-deep.png*" || fail "the turn did not mark f-deep.png modified ($(title))"
  xdotool key Right
  local q w h x y
  read -r q w h x y <<<"$(wait_window "^Not everything can be saved$")" ||
    { shot 01-silent; fail "f-deep.png was not asked about"; }
  sleep 0.3
  shot 01-asked
  cmp -s "$pics/f-deep.png" "$work/originals/f-deep.png" || fail "f-deep.png was written before the answer"
  # "Discard Changes", the third button.
  click $((x + 107 + 210)) $((y + h - 20))
  wait_title "Pictrova - $pics/g-plain.png" || { shot 02-stuck; fail "Discard Changes did not move on ($(title))"; }
  cmp -s "$pics/f-deep.png" "$work/originals/f-deep.png" || fail "f-deep.png changed though its edit was discarded"
  cmp -s "$pics/g-plain.png" "$work/originals/g-plain.png" || fail "g-plain.png changed"

  end_program
}

pasted() {
  paste_folders
  marked_picture "$pics/s.png" "#0000FF" 200x125
  marked_picture "$pics/t.png" "#00B000" 200x125
  marked_picture "$work/from/s.png" "#FFFF00" 160x100
  local message="^Pictrova( 3)?$" pasted next
  pasted=$(sha256sum <"$work/from/s.png")
  next=$(sha256sum <"$pics/t.png")

  two_starts s.png s.png
  xdotool key ctrl+r
  wait_title "Pictrova - $pics/s.png*" || fail "the turn did not mark s.png modified ($(title))"
  # from's s.png cut in its tab and pasted here, over the turned picture's
  # file: the question about the edit and the replace, in either order.
  paste_from_tab ctrl+x
  local asked=0 replaced=0
  for _ in $(seq 1 100); do
    if [ $asked = 0 ] && find_window "$edit_question" >/dev/null; then
      edit_answer 3
      asked=1
      wait_gone "$edit_question" || fail "the question about the edit did not close"
    elif [ $replaced = 0 ] && find_window "$message" >/dev/null; then
      sleep 0.3
      xdotool key y
      replaced=1
      wait_gone "$message" || fail "the replace question did not close"
    fi
    [ $asked = 1 ] && [ $replaced = 1 ] && break
    sleep 0.2
  done
  [ $asked = 1 ] || { shot 01-noquestion; fail "the paste did not ask about the edit"; }
  [ $replaced = 1 ] || { shot 01-noreplace; fail "the paste did not ask to replace s.png"; }
  for _ in $(seq 1 50); do [ -e "$work/from/s.png" ] || break; sleep 0.2; done
  [ ! -e "$work/from/s.png" ] || fail "the paste did not move s.png"
  [ "$(sha256sum <"$pics/s.png")" = "$pasted" ] || fail "the pasted s.png is not in the folder"
  wait_title "Pictrova - $pics/s.png" || { shot 02-modified; fail "the discarded edit is still shown ($(title))"; }
  sleep 0.5
  shot 02-pasted
  read -r bw bh _ <<<"$(shown_box 02-pasted "#FFFF00")"
  [ "$bw" -gt "$bh" ] || fail "the pasted picture is not the one on the screen"
  where 02-pasted "#0000FF" 900x450+0+170 >/dev/null && fail "the discarded edit is on the screen"
  where 02-pasted "#FFFF00" 900x100+0+40 >/dev/null || fail "the film strip does not show the pasted picture"
  where 02-pasted "#0000FF" 900x100+0+40 >/dev/null && fail "the film strip keeps the replaced picture's thumbnail"
  xdotool key Right
  wait_title "Pictrova - $pics/t.png" || { shot 03-stuck; fail "Right did not move on to t.png ($(title))"; }
  find_window "$edit_question" >/dev/null && fail "Right asked about the discarded edit"
  [ "$(sha256sum <"$pics/s.png")" = "$pasted" ] || fail "the discarded edit was written over the pasted s.png"
  [ "$(sha256sum <"$pics/t.png")" = "$next" ] || fail "t.png changed"

  end_program
}

# rename_to <name> [extension]: Ctrl+Enter, the name typed over the old
# one, Enter; the title then names the renamed file.
rename_to() {
  xdotool key ctrl+Return
  wait_window "^Rename Image File$" >/dev/null || fail "Ctrl+Enter did not open the rename dialog"
  xdotool key ctrl+a
  xdotool type "$1"
  xdotool key Return
  wait_title "Pictrova - $pics/$1.${2:-bmp}" || fail "the rename to $1 did not take ($(title))"
}

renamed() {
  journey_env "$work" pics
  settings ImageTransitionEffect=0
  pics=$work/pics
  marked_picture "$pics/a.bmp" "#0000FF" 480x360
  marked_picture "$pics/b.bmp" "#00B000" 480x360
  marked_picture "$work/other.bmp" "#FF00FF" 480x360
  local question="^File changed by another program$"
  "$program" "$pics/a.bmp" >"$work/program.log" 2>&1 &
  pid=$!
  watch_program "$pid"
  read -r id _ < <(wait_window "^Pictrova - $pics/a.bmp$") || fail "a.bmp is not shown"
  place_window "$id"
  # Another program's bytes in place, of the same size, the time put back.
  touch -r "$pics/a.bmp" "$work/stamp"
  sleep 1
  [ "$(stat -c %s "$work/other.bmp")" = "$(stat -c %s "$pics/a.bmp")" ] ||
    fail "the other program's bitmap differs in size"
  dd if="$work/other.bmp" of="$pics/a.bmp" bs=1M conv=notrunc status=none
  touch -r "$work/stamp" "$pics/a.bmp"
  rename_to a2
  cp "$pics/a2.bmp" "$work/a2-before.bmp"
  xdotool key ctrl+r
  wait_title "Pictrova - $pics/a2.bmp*" || fail "the turn did not mark a2.bmp modified ($(title))"
  xdotool key Right
  wait_window "$question" >/dev/null || { shot 01-noquestion; fail "Right saved over the rewritten a2.bmp unasked"; }
  sleep 0.3
  shot 01-question
  cmp -s "$work/a2-before.bmp" "$pics/a2.bmp" || fail "the rewritten a2.bmp changed while the question was up"
  # "Discard Changes" moves on; the other program's bytes stay.
  read -r _ w h x y <<<"$(find_window "$question")"
  click $((x + 107 + 210)) $((y + h - 20))
  wait_title "Pictrova - $pics/b.bmp" || fail "Discard Changes did not move on to b.bmp ($(title))"
  cmp -s "$work/a2-before.bmp" "$pics/a2.bmp" || fail "a2.bmp was written over after Discard Changes"
  # Nothing changed: the program's own rename keeps the turn's save silent.
  rename_to b2
  xdotool key ctrl+r
  wait_title "Pictrova - $pics/b2.bmp*" || fail "the turn did not mark b2.bmp modified ($(title))"
  xdotool key Right
  wait_title "Pictrova - $pics/a2.bmp" || { shot 02-stuck; fail "Right did not move on to a2.bmp ($(title))"; }
  find_window "$question" >/dev/null && fail "the program's own renamed file was asked about"
  [ "$(identify -format "%w %h" "$pics/b2.bmp")" = "360 480" ] || fail "b2.bmp was not saved silently"
  cmp -s "$work/a2-before.bmp" "$pics/a2.bmp" || fail "a2.bmp changed"
  end_program
}

# other_kept <name> <checksum>: the other program's file is there byte for
# byte, and nothing is left beside it.
other_kept() {
  [ "$(sha256sum <"$pics/$1")" = "$2" ] || fail "the other program's $1 was written over"
  [ "$(ls -A "$pics")" = "$1" ] || fail "files left beside $1: $(ls -A "$pics" | tr '\n' ' ')"
}

commit() {
  journey_env "$work" pics
  settings ImageTransitionEffect=0
  pics=$work/pics
  local question="^File changed by another program$" temp="" other before
  # 7000 x 5000, white at its top left: long enough a save to come between.
  convert -size 7000x5000 xc:"#0000FF" -fill white -draw "rectangle 0,0 1749,1249" "BMP3:$pics/big.bmp"
  convert -size 400x300 xc:"#FF0000" "BMP3:$work/other.bmp"
  other=$(sha256sum <"$work/other.bmp")
  start_turned "$pics/big.bmp" "$program" "$pics/big.bmp"
  xdotool key ctrl+s
  for _ in $(seq 1 600); do
    temp=$(ls -A "$pics" | grep -m 1 '^\.big\.bmp\.pictrova-[0-9]*-') && break
    sleep 0.05
  done
  [ -n "$temp" ] || fail "no work file of the save was seen"
  # The other program's picture, written beside and renamed over the name.
  cp "$work/other.bmp" "$pics/.big.bmp.new" && mv "$pics/.big.bmp.new" "$pics/big.bmp"
  [ -e "$pics/$temp" ] || fail "the save was over before the other program's file came"
  read -r _ w h x y < <(wait_window "$question") ||
    { shot 01-noquestion; fail "the save wrote over the file put in its place without a question"; }
  sleep 0.3
  shot 01-question
  other_kept big.bmp "$other"
  # Enter is "Save As"; its dialog cancelled, the turn and the file stay.
  xdotool key Return
  wait_window "^Save Image$" >/dev/null || { shot 01-enter; fail "Enter did not answer Save As"; }
  sleep 0.5
  xdotool key Escape
  wait_gone "^Save Image$" || fail "the save-as dialog did not close"
  wait_title "Pictrova - $pics/big.bmp*" || fail "the turn is gone after Save As was cancelled ($(title))"
  [ "$(sha256sum <"$pics/big.bmp")" = "$other" ] || fail "big.bmp was written over after Save As was cancelled"
  [ "$(ls -A "$pics")" = big.bmp ] || fail "files left beside big.bmp: $(ls -A "$pics" | tr '\n' ' ')"
  # "Overwrite": the turned picture, its white corner now at the top right.
  xdotool key ctrl+s
  read -r _ w h x y < <(wait_window "$question") || fail "Ctrl+S did not ask about the other program's file"
  sleep 0.3
  click $((x + 107)) $((y + h - 20))
  for _ in $(seq 1 6); do wait_title "Pictrova - $pics/big.bmp" && break; done
  [ "$(title)" = "Pictrova - $pics/big.bmp" ] || fail "Overwrite did not save big.bmp ($(title))"
  [ "$(identify -format "%w %h" "$pics/big.bmp")" = "5000 7000" ] || fail "Overwrite did not write the turned big.bmp"
  before=$(convert "$pics/big.bmp" -format "%[pixel:p{4990,10}] %[pixel:p{10,10}]" info:)
  [[ "$before" =~ ^(white|srgb\(255,255,255\))\ (blue|srgb\(0,0,255\))$ ]] ||
    fail "the turned big.bmp has its corners as $before"
  [ "$(ls -A "$pics")" = big.bmp ] || fail "files left beside big.bmp: $(ls -A "$pics" | tr '\n' ' ')"

  end_program
}

# Files whose every colour, transparency, chunk and trailing byte a silent
# save keeps, each turned by Ctrl+R and saved by Right, judged against
# ImageMagick's turn of the original.
whole() {
  journey_env "$work" pics originals
  settings ImageTransitionEffect=0
  pics=$work/pics
  python3 - "$pics" <<'EOF'
import struct, sys, zlib
pics = sys.argv[1]
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
def png(name, depth, kind, palette, rows, extra=(), after=(), appended=b''):
    head = struct.pack('>IIBBBBB', 480, 320, depth, kind, 0, 0, 0)
    body = b''.join(chunk(k, d) for k, d in extra)
    tail = b''.join(chunk(k, d) for k, d in after)
    data = zlib.compress(b''.join(b'\0' + r for r in rows))
    with open(f'{pics}/{name}', 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', head) + (chunk(b'PLTE', palette) if palette else b'') +
                body + chunk(b'IDAT', data) + tail + chunk(b'IEND', b'') + appended)
# A two-colour logo: red and blue at one bit a pixel.
png('a-two.png', 1, 3, b'\xff\0\0\0\0\xff',
    [bytes(0xff if (x // 5 + y // 40) % 2 else 0 for x in range(60)) for y in range(320)])
# A photograph's text, rights, date and background.
xmp = (b"<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
       b"<rdf:Description xmlns:dc='http://purl.org/dc/elements/1.1/' dc:rights='Mine'/></rdf:RDF></x:xmpmeta>")
png('c-texts.png', 8, 2, None, [bytes((x * 3 + y) & 255 for x in range(1440)) for y in range(320)],
    [(b'gAMA', struct.pack('>I', 45455)), (b'tEXt', b'Title\0A caption'),
     (b'zTXt', b'Comment\0\0' + zlib.compress(b'A remark')), (b'iTXt', b'XML:com.adobe.xmp\0\0\0\0\0' + xmp),
     (b'bKGD', b'\0\x10\0\x20\0\x30'), (b'pHYs', struct.pack('>IIB', 11811, 5906, 1))],
    [(b'tIME', b'\x07\xea\x0c\x09\x0a\x0b\x0c')], b'Appended by another program\n')
EOF
  convert -size 480x320 xc:white +antialias -fill black -draw "rectangle 0,0 200,319" -fill red \
    -draw "rectangle 300,0 479,319" -alpha set -region 100x320+0+0 -alpha transparent +region "$pics/b-clear.gif"
  # A phone's motion photo: the video after the picture, named from the end.
  convert -seed 7 -size 480x320 plasma:fractal "$work/photo.jpg"
  head -c 5000 /dev/urandom >"$work/video.mp4"
  python3 - "$work/photo.jpg" "$work/video.mp4" "$pics/d-motion.jpg" <<'EOF'
import struct, sys
photo, video = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read()
xmp = (b"http://ns.adobe.com/xap/1.0/\0<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
       b"xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
       b"xmlns:GCamera='http://ns.google.com/photos/1.0/camera/' GCamera:MicroVideo='1' GCamera:MicroVideoOffset='%d'/>"
       b"</rdf:RDF></x:xmpmeta>" % len(video))
at = 4 + struct.unpack('>H', photo[4:6])[0]
open(sys.argv[3], 'wb').write(photo[:at] + b'\xff\xe1' + struct.pack('>H', len(xmp) + 2) + xmp + photo[at:] + video)
EOF
  marked_picture "$pics/e-plain.png" "#0000FF" 480x320
  cp "$pics"/* "$work/originals/"

  # The chunks of a PNG but its size and data, pHYs swapped when asked.
  chunks() {
    python3 - "$@" <<'EOF'
import struct, sys
d, swap = open(sys.argv[1], 'rb').read(), len(sys.argv) > 2
at = 8
while at < len(d):
    n, = struct.unpack('>I', d[at:at + 4]); kind, data = d[at + 4:at + 8], d[at + 8:at + 8 + n]; at += 12 + n
    if kind in (b'IHDR', b'IDAT'): continue
    if kind == b'pHYs' and swap: data = data[4:8] + data[:4] + data[8:]
    print(kind.decode(), data.hex())
EOF
  }
  "$program" "$pics" >"$work/program.log" 2>&1 &
  pid=$!
  read -r id _ <<<"$(wait_window "^Pictrova - $pics/a-two.png$")" || fail "a-two.png is not shown"
  place_window "$id"

  turn_and_leave a-two.png b-clear.gif
  [ "$(rgba "$pics/a-two.png")" = "$(rgba "$work/originals/a-two.png" -rotate 90)" ] ||
    fail "a-two.png: $(convert "$pics/a-two.png" -format %c histogram:info: | head -3 | tr '\n' ' ')"
  turn_and_leave b-clear.gif c-texts.png
  [ "$(rgba "$pics/b-clear.gif")" = "$(rgba "$work/originals/b-clear.gif" -rotate 90)" ] ||
    fail "b-clear.gif: $(convert "$pics/b-clear.gif" -alpha extract -format "%[fx:mean]" info:) of it opaque"
  # Renamed by the program first, each: what follows the picture is copied
  # from the file read, whatever its name now.
  rename_to c2-texts png
  turn_and_leave c2-texts.png d-motion.jpg
  [ "$(rgba "$pics/c2-texts.png")" = "$(rgba "$work/originals/c-texts.png" -rotate 90)" ] ||
    fail "c2-texts.png is not the turned picture"
  [ "$(chunks "$pics/c2-texts.png")" = "$(chunks "$work/originals/c-texts.png" swap)" ] ||
    fail "c2-texts.png: chunks $(chunks "$pics/c2-texts.png" | cut -c1-30 | tr '\n' ' ')"
  [ "$(tail -c 28 "$pics/c2-texts.png")" = "Appended by another program" ] || fail "c2-texts.png lost what followed its end"
  rename_to d2-motion jpg
  turn_and_leave d2-motion.jpg e-plain.png
  local size error
  size=$(stat -c %s "$work/video.mp4")
  tail -c "$size" "$pics/d2-motion.jpg" | cmp -s - "$work/video.mp4" || fail "d2-motion.jpg lost its video"
  grep -qa "MicroVideoOffset='$size'" "$pics/d2-motion.jpg" || fail "d2-motion.jpg lost its XMP"
  [ "$(identify -format "%w %h" "$pics/d2-motion.jpg")" = "320 480" ] || fail "d2-motion.jpg is not turned"
  # compare answers 1 for pictures that differ at all; its measure is what counts.
  error=$({ compare -metric MAE "$pics/d2-motion.jpg" \( "$work/originals/d-motion.jpg" -rotate 90 \) null: 2>&1 || true; } |
    sed 's/.*(\(.*\))/\1/')
  # A new JPEG coding of the turned photograph at the quality saves are made with.
  awk -v e="$error" 'BEGIN { exit !(e < 0.03) }' || fail "d2-motion.jpg differs from the turned photograph by $error"

  end_program
}

# Files whose pictures cannot be read, each alone in its folder: refused
# with "File Error" and skipped, after which Ctrl+R and Ctrl+S write
# nothing over them.
unread() {
  journey_env "$work" pics
  settings ImageTransitionEffect=0
  pics=$work/pics
  mkdir -p "$pics/big" "$pics/empty"
  python3 - "$pics" <<'EOF'
import struct, sys
pics, w, h = sys.argv[1], 480, 320
# A BigTIFF of gray rows, its directory after them, as large scans have it.
rows = bytes((x ^ y) & 255 for y in range(h) for x in range(w))
entries = [(256, 4, 1, w), (257, 4, 1, h), (258, 3, 1, 8), (259, 3, 1, 1), (262, 3, 1, 1), (273, 16, 1, 16),
           (277, 3, 1, 1), (278, 4, 1, h), (279, 16, 1, len(rows))]
ifd = struct.pack('<Q', len(entries)) + b''.join(struct.pack('<HHQQ', *e) for e in entries) + struct.pack('<Q', 0)
open(f'{pics}/big/a.tif', 'wb').write(b'II' + struct.pack('<HHHQ', 43, 8, 0, 16 + len(rows)) + rows + ifd)
# A GIF's screen and table of two colours, and no frame.
open(f'{pics}/empty/b.gif', 'wb').write(b'GIF89a' + struct.pack('<HHBBB', w, h, 0x80, 0, 0) + b'\xff\0\0\0\0\xff;')
EOF
  local file before told
  for file in big/a.tif empty/b.gif; do
    before=$(sha256sum <"$pics/$file")
    "$program" "$pics/${file%/*}" >"$work/program.log" 2>&1 &
    pid=$!
    watch_program "$pid"
    read -r told _ < <(wait_window "^File Error$") || { shot "${file%/*}-shown"; fail "$file was shown without an error"; }
    sleep 0.3
    shot "${file%/*}-error"
    # To the message itself: it may not have the keys yet.
    xdotool windowfocus --sync "$told" key Escape
    wait_gone "^File Error$" || fail "the error about $file did not close, or came again"
    read -r id _ < <(wait_window "^Pictrova") || fail "no main window"
    # Nothing is shown: a turn and a save have nothing to write.
    xdotool windowfocus --sync "$id" key ctrl+r
    sleep 0.5
    xdotool key ctrl+s
    sleep 1
    shot "${file%/*}-after"
    [[ "$(title)" == *"*" ]] && fail "a turn marked $file modified ($(title))"
    find_window "^Save Image$" >/dev/null && fail "Ctrl+S offered to save $file"
    # The view shows none of the file's pixels: its ground alone, left of its
    # invitation to open a folder.
    awk -v s="$(fraction "${file%/*}-after" "rgb($(pixel "${file%/*}-after" 20 300))" 200x200+20+200)" \
      'BEGIN { exit !(s > 0.99) }' || fail "the view shows a picture of $file"
    [ "$(sha256sum <"$pics/$file")" = "$before" ] || fail "$file was written over"
    [ "$(ls -A "$pics/${file%/*}")" = "${file#*/}" ] || fail "files left beside $file: $(ls -A "$pics/${file%/*}" | tr '\n' ' ')"
    end_program
  done
}

asked() {
  journey_env "$work" pics
  settings ImageTransitionEffect=0
  pics=$work/pics
  local w h x y other
  convert -size 480x320 gradient:red-navy -depth 16 "$pics/deep.png"
  pngcheck -v "$pics/deep.png" | grep -q "48-bit RGB" || fail "deep.png is not of 16 bits a sample"
  convert -size 400x300 xc:"#FF0000" "PNG24:$work/other.png"
  other=$(sha256sum <"$work/other.png")
  start_turned "$pics/deep.png" "$program" "$pics/deep.png"
  xdotool key ctrl+s
  read -r _ w h x y < <(wait_window "^Not everything can be saved$") || { shot 01-silent; fail "deep.png was not asked about"; }
  # The other program's picture, written beside and renamed over the name
  # while the question is up.
  cp "$work/other.png" "$pics/.deep.png.new" && mv "$pics/.deep.png.new" "$pics/deep.png"
  sleep 0.3
  shot 01-asked
  # "Overwrite", the first button: the file asked about is no longer there.
  click $((x + 107)) $((y + h - 20))
  read -r _ w h x y < <(wait_window "^File changed by another program$") ||
    { shot 02-noquestion; fail "Overwrite wrote over the file put in its place without a question"; }
  sleep 0.3
  shot 02-changed
  other_kept deep.png "$other"
  # "Discard Changes", the third button: the other program's picture shows.
  click $((x + 107 + 210)) $((y + h - 20))
  wait_title "Pictrova - $pics/deep.png" || { shot 03-stuck; fail "Discard Changes kept the edit ($(title))"; }
  other_kept deep.png "$other"

  end_program
}

if [ "$case" = closing ] || [ "$case" = changed ] || [ "$case" = alpha ] || [ "$case" = pasted ] ||
  [ "$case" = commit ] || [ "$case" = renamed ] || [ "$case" = pages ] || [ "$case" = asked ] ||
  [ "$case" = whole ] || [ "$case" = unread ]; then
  "$case"
  echo "edits ($case) test passed; screenshots in $work"
  exit 0
fi
[ "$case" = paused ] || fail "no case $case"

journey_env "$work" pics
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
watch_program "$pid"
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

end_program
echo "edits ($case) test passed; screenshots in $work"
