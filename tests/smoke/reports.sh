#!/usr/bin/env bash
# Commands of the real program that cannot act say so in its message window,
# one case a run:
#   properties  File > File Properties... on a session bus where no file
#               manager serves: the message comes at once, and the window
#               still answers.
#   updates     Help > Check for Updates... with no updater installed.
#   website     Help > Visit Website... where the desktop's opener has no
#               program for the web page: it fails on its own output only.
#   guide       Help > Keyboard Shortcut Guide..., the same.
#   onepixel    a picture of one pixel is shown as any small picture (its
#               colour where a picture of 2 x 2 is drawn, at the program's
#               own zoom for small pictures) and the status bar says its
#               size: its text is the start of the text shown for a picture
#               named after it.
# Usage: reports.sh <pictrova> <work folder> <case>
set -euo pipefail
program=$1
work=$2
case=$3
source "$(dirname "$0")/screenlib.sh"
journey_env "$work" pictures

pid=""
bus_pid=""
fail() {
  echo "REPORTS ($case) FAILED: $*" >&2
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
  exit 1
}

# A session bus of the test's own, with no services to start: nothing
# answers for the file manager. Without a bus daemon the program has no bus.
unset DBUS_SESSION_BUS_ADDRESS
if command -v dbus-daemon >/dev/null && [ -f /usr/share/dbus-1/session.conf ]; then
  # The desktop's own settings, without the services it could start.
  sed -e 's|<standard_session_servicedirs */>||; s|<listen>[^<]*</listen>|<listen>unix:dir='"$work"'</listen>|' \
    -e '/<include/d' /usr/share/dbus-1/session.conf >"$work/bus.conf"
  bus=$(dbus-daemon --config-file="$work/bus.conf" --fork --print-address=1 --print-pid=1) || fail "no session bus"
  bus_pid=$(sed -n 2p <<<"$bus")
  export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus")
fi

# An xdg-open that finds nothing to open with, as on a desktop without a
# browser: it says so on its error output and ends with 3. It notes what it
# was given.
mkdir -p "$work/bin"
cat >"$work/bin/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >"$work/opened"
echo "xdg-open: no method available for opening '\$1'" >&2
exit 3
EOF
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"

first=a.png
if [ "$case" = onepixel ]; then
  # The second sorts after the first and its status text begins with the
  # first one's: "p.png (1x1)" and "p.png (1x1).png (2x2)".
  first=p.png
  convert -size 1x1 "xc:#FF8000" "$work/pictures/p.png"
  convert -size 2x2 "xc:#FF8000" "$work/pictures/p.png (1x1).png"
else
  marked_picture "$work/pictures/a.png" "#FF0000"
fi
"$program" "$work/pictures/$first" >"$work/program.log" 2>&1 &
pid=$!
watch_program "$pid"
read -r main mw mh mx my < <(wait_window "^Pictrova - $work/pictures/$first$") || fail "the picture was not shown"
sleep 1
xdotool windowfocus --sync "$main"

# said <command>: the program's own message window comes within 3 s (a
# window that waits on the bus, or another program's window, does not count);
# sets message.
said() {
  local start=$SECONDS
  read -r message _ < <(wait_window "^Error$") || { shot nomessage; fail "$1 said nothing"; }
  [ $((SECONDS - start)) -le 3 ] || fail "$1: the message came late: the window waited"
  [ "$(xdotool getwindowpid "$message" 2>/dev/null)" = "$pid" ] || fail "$1: the message is not the program's"
  shot message
}

case $case in
properties)
  xdotool key alt+f
  sleep 0.3
  shot menu
  # The menu opens on its first item; with a picture that is not edited
  # ("Save" is off) "File Properties..." is nine below.
  for _ in $(seq 1 9); do xdotool key Down; done
  xdotool key Return
  said "File Properties..."
  ;;
updates)
  xdotool key alt+h
  sleep 0.3
  # "Visit Website..." first, then "Check for Updates...".
  xdotool key Down Return
  said "Check for Updates..."
  ;;
website)
  xdotool key alt+h
  sleep 0.3
  xdotool key Return
  said "Visit Website..."
  [ "$(cat "$work/opened" 2>/dev/null)" = "https://pictrova.halvenworth.example/" ] ||
    fail "the opener was not asked for the web page"
  ;;
guide)
  xdotool key alt+h
  sleep 0.3
  # Third, after "Check for Updates...".
  xdotool key Down Down Return
  said "Keyboard Shortcut Guide..."
  [ "$(cat "$work/opened" 2>/dev/null)" = "file://$(dirname "$program")/keyboard_guide.html" ] ||
    fail "the opener was not asked for the guide: $(cat "$work/opened" 2>/dev/null)"
  ;;
onepixel)
  wait_gone "^About Pictrova 3$" || fail "the start-up splash stays"
  place_window "$main"
  read -r main mw mh mx my < <(find_window "^Pictrova - $work/pictures/p\.png$") || fail "the window went"
  # The picture view under the film strip, and the status bar.
  view="$((mw - 8))x$((mh - 180))+$((mx + 4))+$((my + 150))"
  status="$((mw / 2))x24+$mx+$((my + mh - 26))"
  shot one
  one=$(where one "#FF8000" "$view") || fail "the picture of one pixel is not shown"
  said=$(where one "#000000" "$status") || fail "the status bar says nothing"
  read -r tw th tx ty <<<"$said"
  xdotool key Right
  wait_window "^Pictrova - $work/pictures/p\.png \(1x1\)\.png$" >/dev/null || fail "the next picture was not shown"
  sleep 1
  shot two
  two=$(where two "#FF8000" "$view") || fail "the picture of 2 x 2 is not shown"
  [ "$one" = "$two" ] || fail "the picture of one pixel is shown at $one, one of 2 x 2 at $two"
  read -r w h _ <<<"$one"
  [ "$w" -ge 100 ] && [ $((w - h)) -le 1 ] && [ $((h - w)) -le 1 ] || fail "the small pictures are shown at $one"
  # The status texts: dark pixels where the bar is.
  said=$(where two "#000000" "$status") || fail "the status bar says nothing of the second"
  read -r uw _ ux _ <<<"$said"
  [ "$tx" = "$ux" ] && [ "$uw" -gt $((tw + 20)) ] || fail "the status texts do not start alike: $tx+$tw, $ux+$uw"
  text="${tw}x${th}+${tx}+${ty}"
  for s in one two; do convert "$work/$s.png" -crop "$text" +repage "$work/$s-text.png"; done
  differ=$(compare -metric AE "$work/one-text.png" "$work/two-text.png" null: 2>&1) || true
  [ "$differ" = 0 ] || fail "the status bar does not say \"p.png (1x1)\" ($differ pixels differ)"
  timeout 20 "$program" EXIT || fail "the EXIT start did not end"
  pid_gone "$pid" || fail "the program did not end on EXIT"
  wait "$pid" || fail "the program ended with an error: $(tail -5 "$work/program.log")"
  echo "reports ($case) passed"
  exit 0
  ;;
*)
  fail "unknown case"
  ;;
esac

# The message closes on Enter, and the program goes on to take the EXIT of a
# second start.
xdotool windowfocus --sync "$message" key Return
wait_gone "^Error$" || fail "the message did not close"
timeout 20 "$program" EXIT || fail "the EXIT start did not end"
pid_gone "$pid" || fail "the program did not end on EXIT"
wait "$pid" || fail "the program ended with an error: $(tail -5 "$work/program.log")"
pid=""
[ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
echo "reports ($case) passed"
