# Shared by the benchmarks that run the real program beside a peer on a
# virtual display (sourced by folder_peer.sh and browse_memory.sh).

# need <tool...>: each on the path, or the script ends saying which is missing.
need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "missing $tool (scripts/bench.sh installs it)" >&2; exit 1; }
  done
}

# photos <folder> <WxH>: 40 photograph-like JPEGs pic0.jpg ... pic39.jpg,
# made once: noise over a cloudy texture (a photograph's detail, file size
# and decoding time), each picture that texture in one hue so that screen
# shots tell them apart.
photos() {
  local data=$1 size=$2 i
  [ -f "$data/pic39.jpg" ] && return
  mkdir -p "$data"
  echo "making 40 pictures of $size in $data" >&2
  convert -size "$(( ${size%x*} / 4 ))x$(( ${size#*x} / 4 ))" plasma:gray50-gray100 -colorspace gray \
    -resize "$size!" -attenuate 0.6 +noise Gaussian "$data/texture.png"
  for i in $(seq 0 39); do
    convert -size "$size" "xc:hsl($((i * 9)),100%,50%)" "$data/texture.png" \
      -compose multiply -composite -type TrueColor -quality 85 "$data/pic$i.jpg"
  done
}

# names <data> <folder> <count>: the 40 pictures hard-linked under count
# names p000000.jpg ... in folder.
names() {
  local data=$1 folder=$2 count=$3
  mkdir -p "$folder"
  [ "$(find "$folder" -name '*.jpg' | wc -l)" -eq "$count" ] && return
  echo "linking $count names in $folder" >&2
  python3 - "$data" "$folder" "$count" <<'EOF'
import os, sys
data, folder, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
for i in range(count):
    name = os.path.join(folder, "p%06d.jpg" % i)
    if not os.path.exists(name):
        os.link(os.path.join(data, "pic%d.jpg" % (i % 40)), name)
EOF
}

# display: a virtual screen of 1280 x 1024 for the rest of the script, and
# a scratch folder $work; both go at its end.
display() {
  work=$(mktemp -d /tmp/pictrova_bench_run.XXXXXX)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
  for _ in $(seq 1 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$work/display")
}

# private <name> <command...>: starts the command in the background with a
# home, settings and caches of its own under $work; $pid is its process.
private() {
  local home="$work/home_$1"; shift
  rm -rf "$home"; mkdir -p "$home/config" "$home/cache"
  HOME=$home XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache "$@" >/dev/null 2>&1 &
  pid=$!
}

# median <number...>
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
