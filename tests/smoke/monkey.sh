#!/usr/bin/env bash
# The real program under random input: keys of its key map, clicks, drags,
# the wheel, window resizes, menu choices and hand-offs from second starts,
# on a folder of real and damaged pictures that another process changes
# meanwhile. The program must stay alive and answering, and every file of
# the folder must be left unchanged, moved (to the trash or elsewhere in
# the work folder) with its bytes, or, where the user saved over it, be a
# picture.
# Usage (on a virtual display, e.g. under tests/smoke/ondisplay.sh):
#   monkey.sh <pictrova> <work folder> <seed> <seconds> [--wm]
# The answer probe (pictrova_ping) is $MONKEY_PING, else found in the build
# folder beside the program. Run as root, the program runs as "nobody" so
# that random input can do nothing to the system's files; its folders are
# then a scratch folder of nobody's under the system's temporary folder,
# and the work folder keeps the logs.
# Closing line: "monkey: <events> events, <restarts> restarts, <crashes>
# crashes, <hangs> hangs, <reports> sanitizer reports, <lost> files lost"
set -uo pipefail
program=$(realpath "$1")
work=$(realpath -m "$2")
seed=$3
seconds=$4
use_wm=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/screenlib.sh"
ping_tool=${MONKEY_PING:-$(dirname "$program")/../tests/pictrova_ping}
[ -x "$ping_tool" ] || { echo "MONKEY FAILED: no answer probe at $ping_tool" >&2; exit 1; }

fail() {
  echo "MONKEY FAILED: $*" >&2
  exit 1
}

# As root the program gets no power over the system's files: it runs as
# nobody, in folders of its own that nobody can reach wherever the build
# lies, with its own copy of the display's key.
# The logs stand out of the program's reach, as the random input may rename
# or delete any folder under its home: in the work folder when the
# program's folders are elsewhere, else beside it.
if [ "$(id -u)" = 0 ]; then
  journey_env --as nobody "$work" pics pics/more data tmp
  logs=$work
else
  journey_env "$work" pics pics/more data tmp
  logs="${work%/}-logs"
  rm -rf "$logs"
  mkdir -p "$logs"
fi
work=$program_home
program=$(journey_program "$program") || exit 1
export TMPDIR="$work/tmp"
pics=$work/pics
keys="$work/config/Halvenworth/Pictrova 3/HKEY_CURRENT_USER.keys"
pid=""
wm=""
changer=""
# Ours end with the run, also when it is stopped from outside.
cleanup() {
  [ -n "$changer" ] && kill "$changer" 2>/dev/null
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  [ -n "$wm" ] && kill "$wm" 2>/dev/null
  changer="" pid="" wm=""
  journey_end
}
trap cleanup EXIT
trap 'exit 1' TERM INT

# Leaks at the end are the other screen checks' business: under another
# user the leak checker's suppressions of the system libraries' caches do
# not hold, and a cache would count as a crash here.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

# Saving needs the user's word: no rotated picture is written by itself.
cat >"$keys" <<'EOF'
Pictrova key store 1
key "Software"
key "Software" "Halvenworth"
key "Software" "Halvenworth" "Pictrova 3"
sz "AutoSaveImages" "False"
sz "AnimateGif" "True"
sz "SlideShowInterval" "1000"
EOF

RANDOM=$seed
# ---- The folder: real pictures, made ones in every format, damaged ones.
n=0
for photo in /usr/share/backgrounds/mate/nature/*.jpg; do
  [ $n -lt 3 ] || break
  cp "$photo" "$pics/photo-$n.jpg"
  n=$((n + 1))
done
marked_picture "$pics/made.png" "#0000FF" 400x300
marked_picture "$pics/more/made-sub.jpg" "#00B000" 320x240
convert -size 64x48 xc:"#FF8000" "BMP3:$pics/made.bmp"
convert -size 90x60 gradient:red-blue "$pics/made.tif"
convert -size 80x60 xc:"#8000C0" "$pics/made.pcx"
convert -size 70x50 gradient:green-yellow "$pics/made.tga"
convert -size 60x40 xc:"#00FFFF" "$pics/made.ppm"
convert -size 60x40 gradient: "$pics/made.pgm"
convert -size 32x32 xc:"#FFFF00" "$pics/made.ico"
convert -dispose none -delay 20 -size 120x90 xc:"#FF00FF" xc:"#00FFFF" xc:"#FFFF00" "$pics/anim.gif"
good=$(cd "$pics" && find . -type f | sort)
# Damaged: cut short, random bytes under picture names, text, empty files,
# headers that promise far more than the file holds.
head -c 20000 "$pics/photo-0.jpg" >"$pics/cut.jpg"
head -c 300 "$pics/made.png" >"$pics/cut.png"
head -c 200 "$pics/anim.gif" >"$pics/cut.gif"
head -c 100 "$pics/made.bmp" >"$pics/cut.bmp"
head -c 150 "$pics/made.tif" >"$pics/cut.tif"
for ext in jpg png gif bmp tif pcx tga ico; do
  head -c $((RANDOM % 4000 + 1)) /dev/urandom >"$pics/noise.$ext"
done
echo "this is no picture" >"$pics/text.png"
: >"$pics/empty.jpg"
: >"$pics/empty.bmp"
enlarge() { # enlarge <from> <to> <offset> <bytes...>: header fields set large
  local from=$1 to=$2 offset=$3; shift 3
  cp "$from" "$to"
  printf "$(printf '\\x%s' "$@")" | dd of="$to" bs=1 seek="$offset" conv=notrunc status=none
}
enlarge "$pics/made.bmp" "$pics/huge-width.bmp" 18 ff ff 00 00
enlarge "$pics/made.bmp" "$pics/huge-height.bmp" 22 ff ff ff 00
enlarge "$pics/made.png" "$pics/huge.png" 16 00 00 ff ff 00 00 ff ff
enlarge "$pics/anim.gif" "$pics/huge.gif" 6 ff ff ff ff
enlarge "$pics/made.pcx" "$pics/huge.pcx" 8 ff ff ff ff
enlarge "$pics/made.tga" "$pics/huge.tga" 12 ff ff ff ff
printf 'P6\n60000 60000\n255\n' | cat - <(head -c 500 /dev/urandom) >"$pics/huge.ppm"
head -c 1500 /dev/urandom >"$pics/more/noise-sub.jpg"
# Every file's bytes, and whether it was a picture at the start (with its
# dimensions). A cut picture reads as far as it goes, at the whole
# picture's dimensions, so it can be turned and saved like one.
declare -A cut_from=([./cut.jpg]=photo-0.jpg [./cut.png]=made.png [./cut.gif]=anim.gif [./cut.bmp]=made.bmp
  [./cut.tif]=made.tif)
(cd "$pics" && find . -type f | sort | while read -r f; do
  kind=damaged
  grep -qxF "$f" <<<"$good" && kind=$(identify -format "%wx%h" "$f[0]")
  [ -n "${cut_from[$f]:-}" ] && kind=$(identify -format "%wx%h" "${cut_from[$f]}[0]")
  echo "$(sha256sum <"$f" | cut -d' ' -f1) $kind $f"
done) >"$work/manifest"
journey_hand_over
files=$(wc -l <"$work/manifest")

if [ "$use_wm" = --wm ]; then
  matchbox-window-manager -use_titlebar no >"$logs/wm.log" 2>&1 &
  wm=$!
  sleep 1
fi

# ---- The program, its ends and its answers.
events=0 restarts=0 crashes=0 hangs=0 reports=0 runs=0
log=""
start() {
  runs=$((runs + 1))
  log="$logs/program-$runs.log"
  "${as_user[@]}" "$program" "$@" >"$log" 2>&1 &
  pid=$!
  for _ in $(seq 1 150); do
    [ -n "$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -1)" ] && return 0
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.2
  done
}
sanitizer_reports() { grep -cE "ERROR: (Address|Leak)Sanitizer|runtime error:|WARNING: .*Sanitizer" "$1" 2>/dev/null || true; }
# The program ended (or was ended): a crash unless it ended well by a
# command of its own; reports of the sanitizers are counted either way.
ended() {
  local status=$1 why=$2 found
  found=$(sanitizer_reports "$log")
  found=${found:-0}
  reports=$((reports + found))
  if [ "$why" = hang ]; then
    hangs=$((hangs + 1))
  elif [ "$status" = 0 ] && [ "$found" = 0 ]; then
    restarts=$((restarts + 1))
    echo "monkey: the program ended by a command after $events events; restarted"
    return
  else
    crashes=$((crashes + 1))
  fi
  echo "monkey: $why (status $status) after $events events, run $runs; its log: $log"
  tail -40 "$log" | sed 's/^/  | /'
}
check_alive() {
  kill -0 "$pid" 2>/dev/null && return 0
  wait "$pid"
  ended $? crash
  start
}
# The windows of the program, visible, as ids.
windows() { xdotool search --onlyvisible --pid "$pid" 2>/dev/null; }
geometry() { # geometry <id>: "width height x y" on the screen, inside any frame
  xwininfo -id "$1" 2>/dev/null | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
    /^ *Width:/ { w = $NF } /^ *Height:/ { h = $NF } END { if (w == "") exit 1; print w, h, x, y }'
}
# Answering: a ping to one of its windows is answered within 10 s. A
# window that went meanwhile is asked again; a program without any window
# for 20 s hangs as well.
last_window=$SECONDS
check_answers() {
  local id result
  for _ in 1 2 3; do
    id=$(windows | head -1)
    if [ -z "$id" ]; then
      kill -0 "$pid" 2>/dev/null || return 0
      [ $((SECONDS - last_window)) -lt 20 ] && return 0
      hung "no visible window for 20 s"
      start
      return 1
    fi
    last_window=$SECONDS
    "$ping_tool" "$id" 10000
    result=$?
    [ $result = 0 ] && return 0
    kill -0 "$pid" 2>/dev/null || return 0
    [ $result = 1 ] && { hung "no answer to a ping within 10 s"; start; return 1; }
  done
  return 0
}
hung() {
  echo "monkey: hang: $1"
  # Who is busy meanwhile: the program, the X server, the window manager.
  # Its windows and where the focus goes meanwhile.
  local id focus=""
  for id in $(windows); do
    echo "  window $id \"$(xdotool getwindowname "$id" 2>/dev/null)\" $(geometry "$id")" \
      "$(xprop -id "$id" WM_TRANSIENT_FOR _NET_WM_WINDOW_TYPE 2>/dev/null | tr '\n' ' ')"
  done
  for _ in $(seq 1 10); do focus="$focus $(xdotool getwindowfocus 2>/dev/null)"; sleep 0.1; done
  echo "  focus:$focus"
  top -b -n 2 -d 1 -w 120 2>/dev/null | awk '/^top -/ { n++ } n == 2 && /^ *[0-9]/ && $9 > 5 { print "  busy: " $0 }' | head -5
  if command -v gdb >/dev/null; then
    timeout 60 gdb -p "$pid" -batch -ex "thread apply all bt 30" >"$log.stacks" 2>&1
    echo "  stacks in $log.stacks"
    grep -A30 "^Thread 1 " "$log.stacks" | head -30 | sed 's/^/  | /'
  fi
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  ended 137 hang
}

# ---- Another program changes the folder meanwhile: files of its own only,
# whose bytes are none of the recorded files'.
convert -size 100x80 xc:"#406080" "$work/other.png"
convert -delay 50 -size 50x40 xc:"#604080" xc:"#806040" "$work/other.gif"
# remove_own <path>: a file of its own, or a folder of its own with what it
# put there; a file the user moved into that folder stays, and the folder
# with it.
remove_own() {
  if [ -d "$1" ]; then
    rm -f "$1/other.gif" 2>/dev/null
    rmdir "$1" 2>/dev/null
  else
    rm -f "$1" 2>/dev/null
  fi
  return 0
}
change_folder() {
  RANDOM=$((seed + 1))
  local i=0 own
  while :; do
    i=$((i + 1))
    case $((RANDOM % 6)) in
    0) cp "$work/other.png" "$pics/other-$i.png" 2>/dev/null ;;
    1) head -c $((RANDOM % 3000)) /dev/urandom >"$pics/other-$i.jpg" 2>/dev/null ;;
    2) own=$(ls "$pics" | grep '^other-' | shuf -n1 --random-source=<(yes $i))
       [ -n "$own" ] && mv "$pics/$own" "$pics/other-renamed-$i.${own##*.}" 2>/dev/null ;;
    3) own=$(ls "$pics" | grep '^other-' | shuf -n1 --random-source=<(yes $i))
       [ -n "$own" ] && remove_own "$pics/$own" ;;
    4) mkdir -p "$pics/other-folder-$i" 2>/dev/null
       cp "$work/other.gif" "$pics/other-folder-$i/other.gif" 2>/dev/null ;;
    5) for own in "$pics"/other-folder-*; do remove_own "$own"; done ;;
    esac
    sleep "$((RANDOM % 3 + 1)).$((RANDOM % 10))"
  done
}

# ---- Random input.
key_map=(Left Right Up Down space plus minus F5 F11 F12 Escape Escape s p q ctrl+r ctrl+l ctrl+c ctrl+x
  ctrl+v Delete Return Return Tab shift+Tab ctrl+t F8 ctrl+o Home End Prior Next ctrl+Return ctrl+space
  ctrl+a ctrl+s F1 BackSpace ctrl+Left ctrl+Right ctrl+End a x 1 period)
menus=(alt+f alt+f alt+v alt+o alt+h)
rand() { echo $((RANDOM % $1)); }
# A random point of one of the program's windows, mostly the main one.
point() {
  local ids id g w h x y
  ids=($(windows))
  [ ${#ids[@]} -gt 0 ] || { echo "$(rand 1280) $(rand 1024)"; return; }
  id=${ids[0]}
  [ $(rand 10) -lt 5 ] && id=${ids[$(rand ${#ids[@]})]}
  g=$(geometry "$id") || { echo "$(rand 1280) $(rand 1024)"; return; }
  read -r w h x y <<<"$g"
  echo "$((x + RANDOM % (w > 0 ? w : 1))) $((y + RANDOM % (h > 0 ? h : 1)))"
}
event() {
  local r p q steps i id
  r=$(rand 100)
  if [ "$r" -lt 45 ]; then
    xdotool key "${key_map[$(rand ${#key_map[@]})]}"
  elif [ "$r" -lt 60 ]; then
    p=$(point)
    xdotool mousemove $p click 1
    [ $(rand 6) = 0 ] && xdotool click --repeat 2 1
  elif [ "$r" -lt 65 ]; then
    p=$(point)
    xdotool mousemove $p click 3
  elif [ "$r" -lt 72 ]; then
    p=$(point); q=$(point)
    read -r x1 y1 <<<"$p"; read -r x2 y2 <<<"$q"
    steps=$(($(rand 5) + 2))
    local moves=()
    for i in $(seq 1 $steps); do
      moves+=(mousemove $((x1 + (x2 - x1) * i / steps)) $((y1 + (y2 - y1) * i / steps)) sleep 0.02)
    done
    xdotool mousemove $p mousedown 1 "${moves[@]}" mouseup 1
  elif [ "$r" -lt 80 ]; then
    p=$(point)
    if [ $(rand 3) = 0 ]; then
      xdotool mousemove $p keydown ctrl click --repeat $(($(rand 3) + 1)) $((4 + $(rand 2))) keyup ctrl
    else
      xdotool mousemove $p click --repeat $(($(rand 4) + 1)) $((4 + $(rand 2)))
    fi
  elif [ "$r" -lt 84 ]; then
    id=$(windows | head -1)
    [ -n "$id" ] && xdotool windowsize "$id" $(($(rand 1100) + 150)) $(($(rand 850) + 120)) \
      windowmove "$id" $(rand 300) $(rand 200)
  elif [ "$r" -lt 93 ]; then
    local menu=(key "${menus[$(rand ${#menus[@]})]}" sleep 0.2)
    for i in $(seq 1 $(rand 6)); do menu+=(key Down); done
    [ $(rand 3) = 0 ] && menu+=(key Right key Down)
    if [ $(rand 5) = 0 ]; then menu+=(key Escape key Escape); else menu+=(key Return); fi
    xdotool "${menu[@]}"
  elif [ "$r" -lt 95 ]; then
    # A second start hands over a file or a folder of the work folder.
    local target
    target=$(find "$pics" -maxdepth 2 | shuf -n1 --random-source=<(yes "$RANDOM"))
    "${as_user[@]}" timeout 20 "$program" "$target" >>"$logs/handoffs.log" 2>&1 &
  else
    xdotool type --delay 20 "$(printf 'ab%s' $(rand 100))"
  fi
}

start "$pics"
change_folder &
changer=$!
begin=$SECONDS
next_probe=$((SECONDS + 5))
next_progress=$((SECONDS + 60))
while [ $((SECONDS - begin)) -lt "$seconds" ]; do
  event 2>/dev/null
  events=$((events + 1))
  sleep "0.$(printf '%02d' $(($(rand 20) + 3)))"
  check_alive
  if [ $SECONDS -ge $next_probe ]; then
    check_answers
    next_probe=$((SECONDS + 5))
  fi
  if [ $SECONDS -ge $next_progress ]; then
    echo "monkey: $(((SECONDS - begin) / 60)) min, $events events, $restarts restarts, $crashes crashes," \
      "$hangs hangs, $reports sanitizer reports"
    next_progress=$((SECONDS + 60))
  fi
done
kill "$changer" 2>/dev/null
wait "$changer" 2>/dev/null
changer=""

# ---- The end: dialogs closed, a question about a modified picture
# answered "Discard Changes" (its third button), then EXIT.
finish() {
  local id g w h x y name
  # A drag still under way (a text edit's scroll timer can start one after
  # the button went up) ends with a click on the bare screen.
  xdotool mousemove 1279 1023 click 1
  for id in $(windows); do
    name=$(xdotool getwindowname "$id" 2>/dev/null)
    case $name in
    "Overwrite current image file with modified image before continuing?")
      g=$(geometry "$id") || continue
      read -r w h x y <<<"$g"
      # Three buttons of 100 centred on the 434 wide window, 25 high at the foot.
      xdotool mousemove --window "$id" 317 $((h - 20)) click 1 ;;
    # The main window and its folder views, which belong to no other
    # window; a message of the program's own, whose caption may be the main
    # window's title, is answered like any other window.
    "Pictrova - "*|"Pictrova by "*)
      xprop -id "$id" WM_TRANSIENT_FOR 2>/dev/null | grep -q "window id" || continue
      xdotool windowfocus "$id" 2>/dev/null; xdotool key Escape ;;
    *) xdotool windowfocus "$id" 2>/dev/null; xdotool key Escape ;;
    esac
  done
}
if kill -0 "$pid" 2>/dev/null; then
  finish
  "${as_user[@]}" timeout 20 "$program" EXIT >>"$logs/handoffs.log" 2>&1
  for _ in $(seq 1 60); do
    kill -0 "$pid" 2>/dev/null || break
    finish
    sleep 1
  done
  if kill -0 "$pid" 2>/dev/null; then
    hung "EXIT did not end the program within 60 s"
  else
    wait "$pid"
    status=$?
    if [ $status != 0 ]; then
      ended $status crash
    else
      found=$(sanitizer_reports "$log")
      reports=$((reports + ${found:-0}))
    fi
  fi
fi
pid=""
[ -n "$wm" ] && kill "$wm" 2>/dev/null
wm=""

# ---- Every file: unchanged, moved with its bytes, or saved as a picture.
declare -A found
while read -r sum path; do found[$sum]=$path; done < <(find "$work" -type f \
  ! -name manifest -print0 | xargs -0 sha256sum | sed 's/  / /')
# The pictures the run made ("path WxH"), each to be claimed once.
declare -A known claimed
while read -r _ _ path; do known[$pics/${path#./}]=1; done <"$work/manifest"
# Wallpapers (the program's data folder) are copies the program made, not
# the user's saves.
made=$(find "$work" -type f ! -path "$work/config/*" ! -path "$work/runtime/*" \
  ! -path "$work/tmp/*" ! -path "$work/data/pictrova/*" ! -name manifest -newer "$work/manifest" 2>/dev/null | while read -r f; do
  [ -n "${known[$f]:-}" ] && continue
  dims=$(identify -format "%wx%h" "$f[0]" 2>/dev/null) && echo "$dims $f"
done)
saved_elsewhere() { # saved_elsewhere <WxH>: $saved_as, an unclaimed made picture of those dimensions, turned or not
  local w=${1%x*} h=${1#*x} dims f
  while read -r dims f; do
    [ -n "$f" ] && [ -z "${claimed[$f]:-}" ] || continue
    if [ "$dims" = "${w}x$h" ] || [ "$dims" = "${h}x$w" ]; then
      claimed[$f]=1
      saved_as=$f
      return 0
    fi
  done <<<"$made"
  return 1
}
lost=0 moved=0 saved=0
while read -r sum kind path; do
  now=$({ sha256sum <"$pics/$path"; } 2>/dev/null | cut -d" " -f1)
  [ "$now" = "$sum" ] && continue
  if [ -n "${found[$sum]:-}" ]; then
    moved=$((moved + 1))
    echo "monkey: $path moved to ${found[$sum]#$work/}"
  elif [ -n "$now" ] && [ -s "$pics/$path" ] && identify "$pics/$path" >/dev/null 2>&1; then
    # A rotated picture is saved over its file when the user answers Yes;
    # the readers take damaged files as far as they go, so these too.
    saved=$((saved + 1))
    echo "monkey: $path saved over by the user, still a picture"
  elif [ -z "$now" ] && [ "$kind" != damaged ] && saved_elsewhere "$kind"; then
    # Saved over by the user (rotated), then renamed or moved: a new picture
    # of its dimensions, either way round.
    saved=$((saved + 1))
    echo "monkey: $path saved over by the user and moved to ${saved_as#$work/}, still a picture"
  else
    lost=$((lost + 1))
    state=gone
    [ -n "$now" ] && state="changed, now $(stat -c %s "$pics/$path") bytes"
    echo "monkey: LOST $path ($kind at the start, $state)"
  fi
done <"$work/manifest"

echo "monkey: seed $seed, $seconds s, $files files: $moved moved or in the trash, $saved saved"
echo "monkey: $events events, $restarts restarts, $crashes crashes, $hangs hangs, $reports sanitizer reports, $lost files lost"
[ $((crashes + hangs + reports + lost)) = 0 ]
