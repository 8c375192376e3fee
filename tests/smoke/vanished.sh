#!/usr/bin/env bash
# The real program started on a folder whose first file is no picture: while
# the "File Error" message for it is up, another program deletes the next
# file. The keys of the user (Right, Right, Return, then Return on the
# question that follows) must not end the program; the third file is shown
# after them.
# Usage: vanished.sh <pictrova> <work folder>
set -euo pipefail
program=$1
work=$2
source "$(dirname "$0")/screenlib.sh"
journey_env "$work" pictures data

fail() { echo "VANISHED FILE FAILED: $*" >&2; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; exit 1; }
alive() { kill -0 "$pid" 2>/dev/null || fail "the program ended: $(tail -5 "$work/program.log")"; }

echo "this is no picture" >"$work/pictures/a.jpg"
marked_picture "$work/pictures/b.jpg" "#FF0000"
marked_picture "$work/pictures/c.jpg" "#0000FF"
"$program" "$work/pictures" >"$work/program.log" 2>&1 &
pid=$!
watch_program "$pid"
wait_window "^File Error$" >/dev/null || fail "no File Error message for a.jpg"
rm "$work/pictures/b.jpg"
for key in Right Right Return; do
  xdotool key "$key"
  sleep 0.3
done
sleep 1
alive
xdotool key Return
sleep 2
alive
# The folder is watched while the message is up, so the vanished file
# usually leaves the strip before the keys reach it; one reached first is
# reported like any file that cannot be read, and skipping it goes on.
if find_window "^File Error$" >/dev/null; then
  shot vanished
  xdotool key Escape
fi
shot after
# Either way c.jpg comes, and b.jpg is offered no more.
wait_window "^Pictrova - $work/pictures/c.jpg$" >/dev/null || fail "c.jpg was not shown after the vanished file"
alive

timeout 20 "$program" EXIT || fail "EXIT instance did not end cleanly"
for _ in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the program is still running after EXIT"
wait "$pid" || fail "the program exited with an error: $(tail -20 "$work/program.log")"
echo "vanished file test passed"
