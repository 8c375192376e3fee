#!/usr/bin/env bash
# A new user's first session with the real program, under a virtual display,
# driven by synthetic mouse and keys; every step is a screenshot checked
# against the pictures shown.
#   tests/smoke/ondisplay.sh scripts/journey.sh <pictrova> [work folder]
set -euo pipefail
program=$1
work=${2:-/tmp/pictrova-journey}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/smoke/screenlib.sh"
journey_env "$work" pics more
pid=""
fail() { echo "JOURNEY FAILED: $*" >&2; [ -n "$pid" ] && kill "$pid" 2>/dev/null; exit 1; }
step() { echo "== $*"; }

# Animated GIFs play in this session.
settings AnimateGif=True

# The pictures, each in its own format and colour; their areas do not follow
# their names, so sorting by dimensions shows that the dimensions are read.
pics=$work/pics
marked_picture "$pics/blue.png" "#0000FF" 400x300
marked_picture "$pics/green.jpg" "#00B000" 200x150
marked_picture "$pics/orange.bmp" "#FF8000" 320x240
marked_picture "$pics/red.jpg" "#FF0000" 480x360
convert -dispose none -delay 30 -size 120x90 xc:"#FF00FF" xc:"#00FFFF" xc:"#FFFF00" "$pics/anim.gif"
marked_picture "$work/more/purple.png" "#8000C0" 400x300
photo=/usr/share/backgrounds/mate/nature/LadyBird.jpg
[ -f "$photo" ] && cp "$photo" "$pics/zphoto.jpg"

start() {
  "$program" "$@" >>"$work/program.log" 2>&1 &
  pid=$!
  watch_program "$pid"
}

step "start on a folder of pictures"
start "$pics"
win=$(wait_window "^Pictrova - $pics/anim.gif$") || fail "the first picture is not shown"
read -r id width height x y <<<"$win"
xdotool windowsize --sync "$id" 1000 760
xdotool windowmove --sync "$id" 60 40
sleep 1.5
win=$(find_window "^Pictrova - $pics/") || fail "window lost"
read -r id width height x y <<<"$win"
strip="${width}x120+$x+$((y + 45))"
view="${width}x$((height - 230))+$x+$((y + 168))"
shot 01-start
# The strip holds a thumbnail of each picture, in name order.
last=0
for fill in "#FF00FF" "#0000FF" "#00B000" "#FF8000" "#FF0000"; do
  box=$(where 01-start "$fill" "$strip") || fail "no thumbnail in $fill on the strip"
  read -r bw bh bx by <<<"$box"
  [ "$bx" -gt "$last" ] || fail "thumbnail $fill out of order"
  last=$bx
done
# The first picture, a GIF, is on the view.
where 01-start "#FF00FF" "$view" >/dev/null || where 01-start "#00FFFF" "$view" >/dev/null ||
  where 01-start "#FFFF00" "$view" >/dev/null || fail "the GIF is not on the view"

step "the GIF plays"
seen=""
for i in $(seq 1 8); do
  shot "02-gif-$i"
  for fill in "#FF00FF" "#00FFFF" "#FFFF00"; do
    s=$(fraction "02-gif-$i" "$fill" "$view")
    awk -v s="$s" 'BEGIN { exit !(s > 0.05) }' && case " $seen " in *" $fill "*) ;; *) seen="$seen $fill" ;; esac
  done
  sleep 0.15
done
[ "$(wc -w <<<"$seen")" -ge 2 ] || fail "the GIF did not play (frames seen:$seen)"
echo "frames seen:$seen"

step "a click shows a picture, with its transition"
box=$(where 01-start "#FF0000" "$strip")
read -r bw bh bx by <<<"$box"
click $((bx + bw / 2)) $((by + bh / 2))
shot 03-transition
wait_window "^Pictrova - $pics/red.jpg$" >/dev/null || fail "red.jpg not shown after the click"
sleep 0.8
shot 03-red
pbox=$(check_marked 03-red "#FF0000" "$view")
read -r pw ph px py <<<"$pbox"
# 480 x 360 fitted: the aspect stays.
awk -v w="$pw" -v h="$ph" 'BEGIN { r = w / h; exit !(r > 1.30 && r < 1.37) }' || fail "red.jpg drawn at ${pw}x$ph"
mid=$(pixel 03-transition $((px + pw / 2)) $((py + ph / 2)))
echo "centre during the transition: $mid"

if [ -f "$pics/zphoto.jpg" ]; then
  step "a real photograph shows as it is"
  click $((x + 600)) $((by + bh / 2))
  wait_window "^Pictrova - $pics/zphoto.jpg$" >/dev/null || fail "zphoto.jpg not shown"
  sleep 0.8
  shot 03-photo
  # The photograph's rectangle: its left, top and width are where the view's
  # background ends (less the frame's shadow at the right), its height
  # follows from the file's aspect. Both sides are compared inside a margin.
  area=$(convert "$work/03-photo.png" -crop "$view" +repage -fuzz 3% -fill black -opaque "rgb(212,208,200)" \
    -fill white +opaque black -trim -format "%w %h %X %Y" info:)
  read -r fw fh fx fy <<<"$area"
  read -r pw ph <<<"$(identify -format "%w %h" "$pics/zphoto.jpg")"
  fw=$((fw - 5)); fh=$(( (fw * ph + pw / 2) / pw ))
  inner="$((fw - 20))x$((fh - 20))+10+10"
  convert "$work/03-photo.png" -crop "$view" +repage -crop "${fw}x${fh}+${fx}+${fy}" +repage -crop "$inner" +repage \
    "$work/03-photo-shown.png"
  convert "$pics/zphoto.jpg" -resize "${fw}x${fh}!" -crop "$inner" +repage "$work/03-photo-expected.png"
  rmse=$( (compare -metric RMSE "$work/03-photo-shown.png" "$work/03-photo-expected.png" null: 2>&1 || true) |
    sed -E 's/.*\((.*)\)/\1/')
  echo "photograph shown at ${fw}x$fh, RMSE $rmse"
  awk -v r="$rmse" 'BEGIN { exit !(r < 0.06) }' || fail "the photograph on the screen differs from the file (RMSE $rmse)"
fi

step "the details list: sorted by dimensions, the smallest picture first"
click $((bx + bw / 2)) $((by + bh / 2)) 3
sleep 0.5
xdotool key Up Up Return
adv=$(wait_window "^$pics$") || fail "the advanced folder view did not open"
read -r aid aw ah ax ay <<<"$adv"
sleep 1
shot 04-advanced
# The "Dimensions" header: after Name, Size, Type and Modified.
xdotool mousemove --window "$aid" 600 28 click 1
sleep 0.3
xdotool mousemove --window "$aid" 100 46 click 1
wait_window "^Pictrova - $pics/anim.gif$" >/dev/null || fail "sorting by dimensions did not put the 120 x 90 GIF first"
xdotool mousemove --window "$aid" 100 64 click 1
wait_window "^Pictrova - $pics/green.jpg$" >/dev/null || fail "the 200 x 150 picture is not second by dimensions"
sleep 0.8
shot 04-green
check_marked 04-green "#00B000" "$view" >/dev/null

step "files made, renamed and deleted by another program"
cp "$work/more/purple.png" "$pics/new.png"
xdotool mousemove --window "$aid" 100 64 click 1
xdotool key End
wait_window "^Pictrova - $pics/new.png$" >/dev/null || fail "the new file is not in the details list"
mv "$pics/new.png" "$pics/renamed.png"
sleep 1
xdotool key Home End
wait_window "^Pictrova - $pics/renamed.png$" >/dev/null || fail "the renamed file is not in the details list"
sleep 0.8
shot 05-renamed
check_marked 05-renamed "#8000C0" "$view" >/dev/null
# Back to the strip: the file shows there too.
xdotool key --window "$aid" alt+f
sleep 0.3
xdotool key Return
wait_gone "^$pics$" || fail "the folder view did not return to the strip"
sleep 1
shot 05-strip
where 05-strip "#8000C0" "$strip" >/dev/null || fail "the new file's thumbnail is not on the strip"
rm "$pics/renamed.png"
sleep 1.5
shot 05-deleted
where 05-deleted "#8000C0" "$strip" >/dev/null && fail "the deleted file's thumbnail is still on the strip"
# The shown file went: the one that took its place is shown.
wait_window "^Pictrova - $pics/zphoto.jpg$" >/dev/null || fail "no picture took the deleted one's place"

step "a second folder opens as another tab through the open-folder dialog"
click $((x + 200)) $((y + height - 8))
xdotool key alt+f
sleep 0.3
shot 06-menu
xdotool key Return
dlg=$(wait_window "^Open Image Folder$") || { shot 06-nodialog; fail "the open-folder dialog did not open"; }
sleep 0.5
shot 06-dialog
xdotool key ctrl+a
xdotool type --delay 20 "$work/more"
sleep 0.3
xdotool key Return
wait_gone "^Open Image Folder$" || fail "the open-folder dialog did not close"
wait_window "^Pictrova - $work/more/purple.png$" >/dev/null || fail "the second folder did not open"
sleep 1
shot 06-second
check_marked 06-second "#8000C0" "$view" >/dev/null

step "after a restart the placement and the recent folders are back"
xdotool windowmove --sync "$id" 120 90
xdotool windowsize --sync "$id" 900 700
sleep 0.5
window_place "$id" || fail "the main window is gone"
before="$X $Y $WIDTH $HEIGHT"
timeout 20 "$program" EXIT || fail "EXIT did not end"
wait "$pid" || fail "the program ended with an error"
pid=""
start
win=$(wait_window "^Pictrova by Halvenworth$") || fail "no window after the restart"
read -r id width height x y <<<"$win"
after="$x $y $width $height"
[ "$before" = "$after" ] || fail "placement $before came back as $after"
xdotool key --window "$id" alt+f
sleep 0.3
xdotool key Down
sleep 0.5
shot 07-recent
keys="$work/config/Halvenworth/Pictrova 3/HKEY_CURRENT_USER.keys"
grep -q "\"$work/more\"" "$keys" && grep -q "\"$pics\"" "$keys" || fail "recent folders not kept"
xdotool key Escape Escape
timeout 20 "$program" EXIT
wait "$pid" || fail "the program ended with an error"
echo "journey passed; screenshots in $work"
