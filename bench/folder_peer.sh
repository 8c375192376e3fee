#!/usr/bin/env bash
# Opening a large folder in the real program beside qimgv, as a new user
# would: bench/folder_peer.sh [pictrova binary] [files] [runs]
#
# Builds a folder of 4000 x 3000 JPEGs (40 distinct pictures, each one hue,
# hard-linked under the given number of names), then starts each program in
# turn on a virtual display with private settings and caches, and takes
# screenshots for a few seconds. Each picture's hue tells its cells
# apart on the screenshots: the first screen counts from the first shot with
# two pictures on it (thumbnails: the big picture view shows only one), and
# is whole with the first shot that has as many pictures as the screen ever
# shows. Also printed: peak resident memory and the longest stretch the
# program's main thread ran without a break (a stall of its window).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
PICTROVA=${1:-$ROOT/build/bench/app/pictrova}
COUNT=${2:-10000}
RUNS=${3:-3}
DATA=/tmp/pictrova_folder_peer
FOLDER=$DATA/folder$COUNT
CAPTURE=${CAPTURE:-8}  # seconds of screenshots per run, analysed after it
# The machine is shared: one thread for the tools.
export MAGICK_THREAD_LIMIT=1

source "$ROOT/bench/screenbench.sh"
need Xvfb import convert python3 bc qimgv
[ -x "$PICTROVA" ] || { echo "no program at $PICTROVA (scripts/bench.sh builds it)" >&2; exit 1; }

photos "$DATA" 4000x3000
names "$DATA" "$FOLDER" "$COUNT"
display

# run <name> <command...>: one cold start; prints "seconds_first seconds_all
# cells peak_MB stall_ms".
run() {
  rm -rf "$work/shots"; mkdir -p "$work/shots"
  local start pid
  start=$(date +%s.%N)
  private "$@"
  # The main thread's processor time, sampled every 2 ms, for the stall.
  python3 - "$pid" >"$work/stall" <<'EOF' &
import sys, time
pid = sys.argv[1]
path = "/proc/%s/task/%s/schedstat" % (pid, pid)
longest = run = 0.0
last_cpu = last_wall = None
while True:
    try:
        with open(path) as f:
            cpu = int(f.read().split()[0]) / 1e6
    except (OSError, ValueError, IndexError):
        break
    wall = time.monotonic() * 1e3
    if last_cpu is not None:
        busy = (cpu - last_cpu) >= 0.9 * (wall - last_wall)
        run = run + (wall - last_wall) if busy else 0.0
        longest = max(longest, run)
    last_cpu, last_wall = cpu, wall
    time.sleep(0.002)
print("%.0f" % longest)
EOF
  local sampler=$!
  local n=0 deadline t
  deadline=$(echo "$start + $CAPTURE" | bc)
  while t=$(date +%s.%N) && [ "$(echo "$t < $deadline" | bc)" -eq 1 ]; do
    import -silent -window root "ppm:$work/shots/$(printf %05d $n)_$t.ppm" 2>/dev/null || true
    n=$((n + 1))
  done
  local peak
  peak=$(awk '/VmHWM/ { printf "%.0f", $2 / 1024 }' "/proc/$pid/status" 2>/dev/null || echo 0)
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  wait "$sampler" 2>/dev/null || true
  echo "$(analyse "$start" | tail -1) $peak $(cat "$work/stall")"
}

# The shots as "seconds_since_start pictures_on_screen", one line each.
count_pictures() {
  local start=$1 f
  for f in "$work"/shots/*.ppm; do
    [ -f "$f.n" ] || convert "$f" -sample 25% -depth 8 ppm:- | python3 -c '
import sys, colorsys
d = sys.stdin.buffer.read()
# P6 header: magic, width, height, maxval
parts, pos = [], 0
while len(parts) < 4:
    while d[pos:pos+1].isspace(): pos += 1
    end = pos
    while not d[end:end+1].isspace(): end += 1
    parts.append(d[pos:end]); pos = end
pos += 1
px = d[pos:]
bins = [0] * 40
for i in range(0, len(px) - 2, 3):
    r, g, b = px[i], px[i+1], px[i+2]
    mx, mn = max(r, g, b), min(r, g, b)
    if mx - mn < 60: continue
    h, l, s = colorsys.rgb_to_hls(r / 255, g / 255, b / 255)
    bins[int(round(h * 40)) % 40] += 1
print(sum(1 for c in bins if c >= 150))
' >"$f.n"
    local t=${f##*_}; t=${t%.ppm}
    echo "$(echo "$t - $start" | bc) $(cat "$f.n")"
  done
}

# "seconds_first seconds_all cells": the first shot with two pictures, the
# first with the most.
analyse() {
  count_pictures "$1" | awk '
    { if (first == "" && $2 >= 2) first = $1; if ($2 > best) { best = $2; when = $1 } }
    END { printf "%.2f %.2f %d\n", (first == "" ? -1 : first), when, best }'
}

declare -A first all cells peak stall
for r in $(seq 1 "$RUNS"); do
  read -r first[p$r] all[p$r] cells[p$r] peak[p$r] stall[p$r] < <(run pictrova "$PICTROVA" "$FOLDER")
  read -r first[q$r] all[q$r] cells[q$r] peak[q$r] stall[q$r] < <(run qimgv qimgv "$FOLDER")
done

echo "machine load: $(uptime)"
printf '%-9s %4s %12s %12s %6s %9s %9s\n' program run first_s all_first_s cells peak_MB stall_ms
for r in $(seq 1 "$RUNS"); do
  printf '%-9s %4d %12s %12s %6s %9s %9s\n' Pictrova "$r" "${first[p$r]}" "${all[p$r]}" "${cells[p$r]}" "${peak[p$r]}" "${stall[p$r]}"
  printf '%-9s %4d %12s %12s %6s %9s %9s\n' qimgv "$r" "${first[q$r]}" "${all[q$r]}" "${cells[q$r]}" "${peak[q$r]}" "${stall[q$r]}"
done
pf=$(median $(for r in $(seq 1 "$RUNS"); do echo "${first[p$r]}"; done))
qf=$(median $(for r in $(seq 1 "$RUNS"); do echo "${first[q$r]}"; done))
pa=$(median $(for r in $(seq 1 "$RUNS"); do echo "${all[p$r]}"; done))
qa=$(median $(for r in $(seq 1 "$RUNS"); do echo "${all[q$r]}"; done))
echo "median first screen: Pictrova $pf s, qimgv $qf s, ratio $(echo "scale=2; $pf / $qf" | bc)"
echo "median whole first screen: Pictrova $pa s, qimgv $qa s, ratio $(echo "scale=2; $pa / $qa" | bc)"
