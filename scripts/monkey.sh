#!/usr/bin/env bash
# A long run of random input on the real program (tests/smoke/monkey.sh),
# always on a virtual display of its own, never the user's, under a window
# manager when there is one. Builds nothing.
#   scripts/monkey.sh <pictrova> <seconds> [seed] [work folder]
# A progress line every minute; the closing line gives the events,
# restarts, crashes, hangs, sanitizer reports and files lost. The answer
# probe is $MONKEY_PING, else the build folder's tests/pictrova_ping.
set -euo pipefail
program=$(realpath "$1")
seconds=$2
seed=${3:-$RANDOM}
work=${4:-/tmp/pictrova-monkey-$seed}
here=$(cd "$(dirname "$0")" && pwd)
wm=""
command -v matchbox-window-manager >/dev/null && wm=--wm
echo "monkey: $program for $seconds s, seed $seed, work folder $work"
exec "$here/../tests/smoke/ondisplay.sh" -s 1280x1024x24 "$here/../tests/smoke/monkey.sh" "$program" "$work" "$seed" "$seconds" $wm
