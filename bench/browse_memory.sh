#!/usr/bin/env bash
# Resident memory of the real program while a user walks a large folder with
# the Right key, beside qimgv on the same walk (when it is installed):
#   bench/browse_memory.sh [pictrova binary] [files] [bursts] [keys per burst] [ms between keys]
#
# A folder of 2560 x 1600 JPEGs (40 distinct pictures hard-linked under the
# given number of names, 1600 by default); each program starts on the first
# picture with private settings, then gets the bursts of Right (5 of 300,
# 1 ms apart, by default: a key held down or a user tapping through), 5 s
# after each burst and 10 s more at the end. Printed: VmRSS in MB at the
# start and after each burst, and the end against the start.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
PICTROVA=${1:-$ROOT/build/bench/app/pictrova}
COUNT=${2:-1600}
BURSTS=${3:-5}
KEYS=${4:-300}
PACE=${5:-1}
DATA=/tmp/pictrova_browse_memory
FOLDER=$DATA/folder$COUNT
export MAGICK_THREAD_LIMIT=1

source "$ROOT/bench/screenbench.sh"
need Xvfb xdotool convert python3
[ -x "$PICTROVA" ] || { echo "no program at $PICTROVA (scripts/bench.sh builds it)" >&2; exit 1; }

photos "$DATA" 2560x1600
names "$DATA" "$FOLDER" "$COUNT"
display

rss() { awk '/VmRSS/ { printf "%.0f", $2 / 1024 }' "/proc/$pid/status"; }

# walk <name> <command...>: one walk; prints the resident memory at the
# start and after each burst.
walk() {
  local name=$1 window="" figures
  private "$@"
  for _ in $(seq 1 100); do
    window=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "$name showed no window" >&2; kill "$pid"; return 1; }
  # No window manager: the keys go to the window under the pointer.
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
  xdotool windowfocus "$window" 2>/dev/null || true
  sleep 5
  figures=$(rss)
  for b in $(seq 1 "$BURSTS"); do
    xdotool key --delay "$PACE" --repeat "$KEYS" --repeat-delay "$PACE" Right
    sleep 5
    [ "$b" -eq "$BURSTS" ] && sleep 10
    figures="$figures $(rss)"
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo "$figures"
}

header="start"
for b in $(seq 1 "$BURSTS"); do header="$header $((b * KEYS))"; done
echo "machine load: $(uptime)"
echo "VmRSS in MB, after bursts of $KEYS Right, $PACE ms apart, in a folder of $COUNT pictures of 2560 x 1600:"
printf '%-9s %s\n' program "$header"
report() {
  local name=$1; shift
  local figures
  figures=$(walk "$name" "$@")
  printf '%-9s %s\n' "$name" "$figures"
  set -- $figures
  echo "$name: end - start = $(( ${!#} - $1 )) MB"
}
report Pictrova "$PICTROVA" "$FOLDER/p000000.jpg"
# NOPEER=1 walks this program alone.
if [ -n "${NOPEER:-}" ]; then
  :
elif command -v qimgv >/dev/null; then
  report qimgv qimgv "$FOLDER/p000000.jpg"
else
  echo "qimgv is not installed (scripts/bench.sh installs it): no figures beside"
fi
