#!/usr/bin/env bash
# The real program under a window manager (matchbox, with title bars), one
# case a run:
#   fullscreen  F11 asks the manager for full screen: the window carries
#               _NET_WM_STATE_FULLSCREEN and its picture reaches the screen's
#               top edge, where the title bar was; F11 and Escape leave it
#               and the window comes back where it was.
#   mailresults Ctrl+E on a large picture, "Show results after
#               optimization" ticked, Send Email: the modal results window
#               opens on top of the wizard (the top of the manager's stack)
#               and closes by a click on its Continue button.
#   trashquestion The tool box open, Delete in the Advanced Folder View:
#               "Move ... to the trash?" is the top of the manager's stack,
#               shows over the tool box and takes a click on its Yes.
# Usage: wm.sh <pictrova> <work folder> <case>
set -euo pipefail
program=$1
work=$2
case=$3
source "$(dirname "$0")/screenlib.sh"
journey_env "$work" pics bin
pid=""
wm=""
fail() {
  echo "WM ($case) FAILED: $*" >&2
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$wm" ] && kill "$wm" 2>/dev/null
  exit 1
}
settings ShowFullScreenPrompt=False FullScreenThumbsVisible=False

# The manager's own F11 (its full-screen toggle) would keep the key from the
# program: its key bindings here leave F11 alone.
echo "<alt>f4=close" >"$work/kbdconfig"
matchbox-window-manager -kbdconfig "$work/kbdconfig" >"$work/wm.log" 2>&1 &
wm=$!
sleep 1

# start <picture>: the program on the picture; sets main.
start() {
  "$program" "$1" >"$work/program.log" 2>&1 &
  pid=$!
  watch_program "$pid"
  read -r main _ < <(wait_window "^Pictrova - $1$") || fail "$1 was not shown"
  sleep 1.5
}
ends() {
  timeout 20 "$program" EXIT || fail "the EXIT start did not end"
  pid_gone "$pid" || fail "the program did not end on EXIT"
  wait "$pid" || fail "the program ended with an error: $(tail -5 "$work/program.log")"
  pid=""
  kill "$wm" 2>/dev/null || true
  wm=""
}
# The window's place on the screen, "w h x y", frame aside.
place() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /^  Width/ {w=$NF} /^  Height/ {h=$NF} END {print w, h, x, y}'
}
# The program's windows as the manager stacks them, bottom first.
stacking() { xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g'; }
# on_top <window> <what>: the window is last in the stacking.
on_top() {
  local order
  order=$(stacking)
  [ $(( ${order##* } )) = "$1" ] || fail "$2 $1 is not on top of the stack ($order)"
}
full() { xprop -id "$main" _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN; }
# wait_state <on|off>
wait_state() {
  for _ in $(seq 1 50); do
    if [ "$1" = on ]; then full && return 0; else full || return 0; fi
    sleep 0.1
  done
  return 1
}

case $case in
fullscreen)
  # Larger than the screen and of its shape: fitted or not, it covers the
  # whole window.
  convert -size 2560x2048 xc:"#00B000" "$work/pics/green.png"
  start "$work/pics/green.png"
  before=$(place "$main")
  shot 01-window
  # The manager's title bar is over the window.
  top=$(fraction 01-window "#00B000" 1280x2+0+0)
  awk -v s="$top" 'BEGIN { exit !(s < 0.5) }' || fail "no title bar over the window before full screen"
  xdotool windowactivate --sync "$main" key F11
  wait_state on || fail "F11 did not ask the window manager for full screen ($(xprop -id "$main" _NET_WM_STATE))"
  sleep 1
  [ "$(place "$main")" = "1280 1024 0 0" ] || fail "the full-screen window does not cover the screen ($(place "$main"))"
  shot 02-full
  # The fitted picture keeps only the view's narrow margin to the edges.
  read -r gw gh gx gy < <(where 02-full "#00B000" 1280x1024+0+0) || fail "no picture in full screen"
  [ "$gy" -le 10 ] && [ "$gw" -ge 1260 ] ||
    fail "the picture does not reach the screen's top edge: ${gw}x$gh at $gx,$gy"
  xdotool key F11
  wait_state off || fail "F11 did not leave full screen"
  sleep 1
  [ "$(place "$main")" = "$before" ] || fail "the window is at $(place "$main") after full screen, not $before"
  # Escape leaves it too.
  xdotool key F11
  wait_state on || fail "the second F11 did not enter full screen"
  sleep 0.5
  xdotool key Escape
  wait_state off || fail "Escape did not leave full screen"
  sleep 1
  [ "$(place "$main")" = "$before" ] || fail "the window is at $(place "$main") after Escape, not $before"
  ends
  ;;
mailresults)
  cat >"$work/bin/xdg-email" <<EOF
#!/bin/sh
printf '%s\n' "\$@" > "$work/mail.args"
EOF
  chmod +x "$work/bin/xdg-email"
  export PATH="$work/bin:$PATH"
  # Large enough to be reduced for mail, so that there are results to show.
  convert -size 2400x1800 xc:"#FF0000" "$work/pics/a.jpg"
  start "$work/pics/a.jpg"
  xdotool windowactivate --sync "$main" key ctrl+e
  read -r wizard _ < <(wait_window "^Email a.jpg$") || fail "Ctrl+E opened no e-mail wizard"
  sleep 1
  read -r _ _ wx wy <<<"$(place "$wizard")"
  # "Show results after optimization." ticked, then "Send Email".
  click $((wx + 20)) $((wy + 206))
  sleep 0.3
  shot 01-wizard
  click $((wx + 40)) $((wy + 268))
  read -r results _ < <(wait_window "^Results of Email Optimization$") || fail "no results window"
  sleep 1.5
  shot 02-results
  on_top "$results" "the results window (wizard $wizard)"
  # Its "Continue" button, at the middle of its bottom edge, takes a click.
  read -r rw rh rx ry <<<"$(place "$results")"
  click $((rx + rw / 2)) $((ry + rh - 20))
  wait_gone "^Results of Email Optimization$" || { shot 03-stuck; fail "a click on Continue did not close the results window"; }
  for _ in $(seq 1 100); do [ -s "$work/mail.args" ] && break; sleep 0.2; done
  [ -s "$work/mail.args" ] || fail "Send Email did not run xdg-email"
  # "Finished. Would you like to clear the file list?": Yes.
  sleep 1
  xdotool key Return
  wait_gone "^Email a.jpg$" || fail "the wizard stayed after sending"
  ends
  ;;
trashquestion)
  marked_picture "$work/pics/a.png" "#0000FF"
  marked_picture "$work/pics/b.png" "#00FF00"
  start "$work/pics/a.png"
  xdotool windowactivate --sync "$main" key ctrl+t
  read -r tools _ < <(wait_window "^Image Tools$") || fail "Ctrl+T opened no tool box"
  sleep 1
  # File > Advanced Folder View, the fourth item.
  xdotool windowactivate --sync "$main" key alt+f
  sleep 0.5
  xdotool key Down Down Down Return
  read -r view _ < <(wait_window "^$work/pics$") || fail "no Advanced Folder View"
  sleep 1.5
  # b.png: the row under a.png, the shown picture's, which is selected.
  shot 01-view
  read -r vw vh vx vy <<<"$(place "$view")"
  read -r _ rh rx ry < <(where 01-view "#308DC8" "${vw}x${vh}+$vx+$vy") || fail "no selected row in the folder view"
  click $((rx + 20)) $((ry + rh + rh / 2))
  sleep 1
  shot 02-tools
  xdotool key Delete
  question=""
  for _ in $(seq 1 50); do
    for w in $(stacking); do
      xprop -id "$w" _NET_WM_STATE | grep -q _NET_WM_STATE_MODAL && question=$((w))
    done
    [ -n "$question" ] && break
    sleep 0.2
  done
  [ -n "$question" ] || fail "Delete asked no question"
  sleep 1.5
  shot 03-question
  on_top "$question" "the question (tool box $tools)"
  # Where the question and the tool box overlap, the question's text and
  # buttons replaced the tool box on the screen.
  read -r qw qh qx qy <<<"$(place "$question")"
  read -r tw th tx ty <<<"$(place "$tools")"
  left=$((qx > tx ? qx : tx)) top=$((qy > ty ? qy : ty))
  right=$((qx + qw < tx + tw ? qx + qw : tx + tw)) bottom=$((qy + qh < ty + th ? qy + qh : ty + th))
  [ "$right" -gt "$left" ] && [ "$bottom" -gt "$top" ] ||
    fail "the question ($qw x $qh at $qx,$qy) does not overlap the tool box ($tw x $th at $tx,$ty)"
  overlap="$((right - left))x$((bottom - top))+$left+$top"
  for s in 02-tools 03-question; do convert "$work/$s.png" -crop "$overlap" +repage "$work/$s-overlap.png"; done
  changed=$(compare -metric AE "$work/02-tools-overlap.png" "$work/03-question-overlap.png" null: 2>&1 || true)
  awk -v c="${changed%% *}" -v a=$(( (right - left) * (bottom - top) )) 'BEGIN { exit !(c > a / 20) }' ||
    fail "the question does not show over the tool box: $changed pixels of the overlap $overlap changed"
  # Its default button (No) wears the highlight; Yes is the button on its left.
  read -r nw nh nx ny < <(where 03-question "#26709E" "${qw}x${qh}+$qx+$qy") || fail "no default button in the question"
  click $((nx - nw / 2 - 8)) $((ny + nh / 2))
  for _ in $(seq 1 50); do [ -e "$work/pics/b.png" ] || break; sleep 0.2; done
  [ ! -e "$work/pics/b.png" ] && [ -e "$work/pics/a.png" ] || { shot 04-stuck; fail "Yes did not move b.png to the trash"; }
  [ -e "$work/data/Trash/files/b.png" ] || fail "b.png is not in the trash"
  ends
  ;;
*) fail "no case $case" ;;
esac
echo "wm ($case) test passed; screenshots in $work"
