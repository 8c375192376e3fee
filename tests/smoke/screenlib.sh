# Helpers of the screen checks of the real program (sourced by smoke.sh and
# scripts/journey.sh): windows found by name, screenshots, and where a colour
# shows on them. Expects $work (a scratch folder, where screenshots go) and
# fail() of the caller.

# shell_fields <key>...: the values of those keys of the KEY=value lines
# on the input (xdotool's --shell answers), on one line; "-" for one that
# is missing.
shell_fields() {
  local key value k out=()
  local -A found=()
  while IFS== read -r key value; do found[$key]=$value; done
  for k in "$@"; do out+=("${found[$k]:--}"); done
  echo "${out[*]}"
}

# geometry_of <id>: "id width height x y" of the window; nothing, and
# false, when it is gone (a window may close between a search and this).
geometry_of() {
  local answer
  answer=$(xdotool getwindowgeometry --shell "$1" 2>/dev/null | shell_fields WIDTH HEIGHT X Y) || return 1
  [[ "$answer" =~ ^[0-9]+\ [0-9]+\ -?[0-9]+\ -?[0-9]+$ ]] || return 1
  echo "$1 $answer"
}

# window_place <id>: WIDTH, HEIGHT, X and Y of the window; false when it is
# gone.
window_place() {
  local answer
  answer=$(geometry_of "$1") || return 1
  read -r _ WIDTH HEIGHT X Y <<<"$answer"
}

# The window whose name matches exactly (an extended regular expression) as
# "id width height x y": the first such window that is still there.
find_window() {
  local id
  for id in $(xdotool search --onlyvisible --name "$1" 2>/dev/null); do
    geometry_of "$id" && return 0
  done
  return 1
}

# watch_program <pid>...: the program (or programs) the test drives. A wait
# below for one of its windows gives up at once, saying so, when a watched
# program has ended: its windows will not come. pid_gone <pid> (a wait for
# an end the test brought about) and unwatch <pid> stop watching it.
watched=()
watch_program() {
  local p live=()
  # One watched before that has ended meanwhile ended as its test let it.
  for p in "${watched[@]}"; do kill -0 "$p" 2>/dev/null && live+=("$p"); done
  watched=("${live[@]}" "$@")
}
unwatch() {
  local kept=() p q
  for p in "${watched[@]}"; do
    for q in "$@"; do [ "$p" = "$q" ] && continue 2; done
    kept+=("$p")
  done
  watched=("${kept[@]}")
}
# program_ended: true, saying which, when a watched program has ended.
program_ended() {
  local p
  for p in "${watched[@]}"; do
    kill -0 "$p" 2>/dev/null && continue
    echo "the program (process $p) has ended" >&2
    return 0
  done
  return 1
}

wait_window() {
  local w
  for _ in $(seq 1 150); do
    w=$(find_window "$1") && { echo "$w"; return 0; }
    program_ended && return 1
    sleep 0.2
  done
  return 1
}
wait_gone() {
  for _ in $(seq 1 100); do
    find_window "$1" >/dev/null || return 0
    sleep 0.2
  done
  return 1
}

# shot <name>: the whole screen into $work/<name>.png.
shot() { import -window root "$work/$1.png" || fail "no screenshot $1"; }

# fraction <shot> <colour> <region WxH+X+Y>: the share of the region's
# pixels within 12% of the colour, 0 to 1.
fraction() {
  convert "$work/$1.png" -crop "$3" +repage $(mask "$2") -colorspace gray -format "%[fx:mean]" info:
}

# The options that turn the colour's pixels white and all others black: the
# others first go to a colour nobody uses, so that white and black pictures
# of their own do not count.
mask() {
  echo "-fuzz 12% -fill #123457 +opaque $1 -fill white -opaque $1 -fuzz 0 -fill black -opaque #123457"
}

# where <shot> <colour> <region>: the bounding box "w h x y" (screen
# coordinates) of the colour's pixels in the region; nothing when absent.
where() {
  local share box ox oy
  share=$(fraction "$1" "$2" "$3")
  awk -v s="$share" 'BEGIN { exit !(s > 0.0005) }' || return 1
  box=$(convert "$work/$1.png" -crop "$3" +repage $(mask "$2") -trim -format "%w %h %X %Y" info: 2>/dev/null) ||
    return 1
  ox=${3#*+}; oy=${ox#*+}; ox=${ox%%+*}
  set -- $box
  echo "$1 $2 $(($3 + ox)) $(($4 + oy))"
}

# pixel <shot> <x> <y>: "r,g,b" of one pixel.
pixel() {
  convert "$work/$1.png" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:
}

# near <r,g,b> <r,g,b>: true when each channel differs by at most 40.
near() {
  local IFS=,
  set -- $1 $2
  [ $(( ($1-$4)*($1-$4) < 1600 && ($2-$5)*($2-$5) < 1600 && ($3-$6)*($3-$6) < 1600 )) -eq 1 ]
}

# pointer_to <x> <y>: the pointer moved to a screen point, once it is there.
# A move to where it is already makes no motion for --sync to wait for.
pointer_to() {
  [ "$(xdotool getmouselocation --shell 2>/dev/null | shell_fields X Y)" = "$1 $2" ] ||
    xdotool mousemove --sync "$1" "$2"
}

# click <x> <y> [button]: a synthetic click at a screen point.
click() {
  pointer_to "$1" "$2"
  xdotool click "${3:-1}"
}

# windows_named <regex>: how many visible windows have a matching name.
windows_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | wc -l; }

# The question about an edit before its picture is left.
edit_question="^Overwrite current image file with modified image before continuing\?$"
# edit_answer <number>: a click on that question's first ("Yes"), second
# ("No") or third ("Discard Changes") button: three of 100 centred on its
# 434 wide window, 25 high at its foot.
edit_answer() {
  local q w h x y
  read -r q w h x y < <(wait_window "$edit_question") || fail "no question about the edit"
  sleep 0.3
  click $((x + 107 + 105 * ($1 - 1))) $((y + h - 20))
}

# A picture of 400 x 300 (or WxH) in Fill with a white mark at the top left
# and a black one at the bottom right, so that an offset or a flip shows.
marked_picture() {
  local path=$1 fill=$2 size=${3:-400x300}
  local w=${size%x*} h=${size#*x}
  convert -size "$size" "xc:$fill" -fill white -draw "rectangle 0,0 $((w/4-1)),$((h/4-1))" \
    -fill black -draw "rectangle $((w*3/4)),$((h*3/4)) $((w-1)),$((h-1))" "$path"
}

# check_marked <shot> <fill> <region>: the picture in Fill fills most of the
# region's picture area with its white mark up left of its black one.
check_marked() {
  local box white black
  box=$(where "$1" "$2" "$3") || fail "$1: no $2 picture in $3"
  read -r bw bh bx by <<<"$box"
  white=$(where "$1" white "${bw}x${bh}+${bx}+${by}") || fail "$1: the white mark of the $2 picture is missing"
  black=$(where "$1" black "${bw}x${bh}+${bx}+${by}") || fail "$1: the black mark of the $2 picture is missing"
  read -r ww wh wx wy <<<"$white"
  read -r kw kh kx ky <<<"$black"
  [ "$wx" -le "$bx" ] && [ "$wy" -le "$by" ] || fail "$1: the white mark is not at the top left ($white in $box)"
  [ $((kx + kw)) -ge $((bx + bw - 2)) ] && [ $((ky + kh)) -ge $((by + bh - 2)) ] ||
    fail "$1: the black mark is not at the bottom right ($black in $box)"
  echo "$box"
}

# settings <Name=Value>...: the program's settings for this run, written to
# its key store; $keys names the file.
settings() {
  keys="$program_home/config/Halvenworth/Pictrova 3/HKEY_CURRENT_USER.keys"
  mkdir -p "$(dirname "$keys")"
  {
    printf '%s\n' 'Pictrova key store 1' 'key "Software"' 'key "Software" "Halvenworth"' \
      'key "Software" "Halvenworth" "Pictrova 3"'
    local s
    for s in "$@"; do printf 'sz "%s" "%s"\n' "${s%%=*}" "${s#*=}"; done
  } >"$keys"
}

# title: the name of window $id; wait_title <name>: up to 10 s for it.
title() { xdotool getwindowname "$id" 2>/dev/null; }
wait_title() {
  for _ in $(seq 1 100); do
    [ "$(title)" = "$1" ] && return 0
    program_ended && return 1
    sleep 0.1
  done
  return 1
}

# place_window <id>: 900 x 700 at the top left of the screen, with the
# pointer's click on the picture giving it the keys.
place_window() {
  xdotool windowsize --sync "$1" 900 700
  xdotool windowmove --sync "$1" 0 0
  sleep 0.5
  click 450 400
}

# start_turned <shown picture> <command...>: runs the program ($pid, its
# output in $work/program.log), waits for its window ($id) on the picture,
# turns the picture and waits for the title to mark it modified.
start_turned() {
  local shown=$1
  shift
  "$@" >"$work/program.log" 2>&1 &
  pid=$!
  watch_program "$pid"
  read -r id _ < <(wait_window "^Pictrova - $shown$") || fail "${shown##*/} is not shown"
  place_window "$id"
  xdotool key ctrl+r
  wait_title "Pictrova - $shown*" || fail "the turn did not mark ${shown##*/} modified ($(title))"
}

# journey_env [--as <user>] <work folder> [extra folders...]: a fresh
# scratch folder with private settings, runtime and data folders, and the
# program on the virtual display; $program_home names it (the work folder
# itself unless --as).
#
# --as is for a test run by root that starts the program as another user
# through "${as_user[@]}". The folders above the work folder may be closed
# to that user (a checkout in a folder of mode 0700), so the program's
# folders go to a folder of their own under the system's temporary folder,
# with a copy of the display's authority file beside them, where the
# program cannot rename it; all of it goes when the test ends. The work
# folder then keeps only what the test itself writes (logs, screenshots).
# The program is started by the path journey_program gives. Once it has
# filled $program_home, the test calls journey_hand_over before the program
# starts; a test with an EXIT trap of its own calls journey_end from it.
as_user=()
program_home=""
journey_top="" journey_user="" journey_uid="" journey_gid=""
journey_env() {
  local user=""
  if [ "${1:-}" = --as ]; then user=$2; shift 2; fi
  local w=$1; shift
  rm -rf "$w"
  program_home=$w
  if [ -n "$user" ]; then
    mkdir -p "$w"
    journey_user=$user
    journey_uid=$(id -u "$user") && journey_gid=$(id -g "$user") || fail "no user $user to run the program as"
    journey_top=$(mktemp -d "${TMPDIR:-/tmp}/pictrova-screen.XXXXXX") || fail "no scratch folder for $user"
    trap journey_end EXIT
    chmod 755 "$journey_top"
    program_home=$journey_top/home
    if [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ]; then
      install -m 600 -o "$journey_uid" -g "$journey_gid" "$XAUTHORITY" "$journey_top/Xauthority"
      export XAUTHORITY="$journey_top/Xauthority"
    fi
    # setpriv, not runuser: the environment stays as set here.
    as_user=()
    [ "$journey_uid" = "$(id -u)" ] ||
      as_user=(setpriv --reuid="$journey_uid" --regid="$journey_gid" --init-groups --)
  fi
  mkdir -p "$program_home/config/Halvenworth/Pictrova 3" "$program_home/runtime"
  for d in "$@"; do mkdir -p "$program_home/$d"; done
  chmod 700 "$program_home/runtime"
  export XDG_CONFIG_HOME="$program_home/config" XDG_RUNTIME_DIR="$program_home/runtime" HOME="$program_home" \
    XDG_DATA_HOME="$program_home/data"
  unset QT_QPA_PLATFORM
}

# journey_program <program>: the path by which the user of journey_env --as
# starts the program (and its second starts, also through timeout and the
# like): a link, or a copy, in a folder the user can read but not change;
# the program's own path otherwise.
journey_program() {
  [ -n "$journey_top" ] || { echo "$1"; return 0; }
  local to
  to="$journey_top/bin/$(basename "$1")"
  mkdir -p "$journey_top/bin"
  # A link shares the build's file and its mode: only one others may run.
  if [ -z "$(find "$1" -perm -o=rx)" ] || ! ln -f "$1" "$to" 2>/dev/null; then
    cp "$1" "$to" && chmod 755 "$to" || fail "no copy of $1 for $journey_user"
  fi
  echo "$to"
}

# journey_hand_over: after journey_env --as, everything in $program_home
# becomes the user's, and the user must be able to read and write all of it
# and to open the display; the test fails here, saying what is out of
# reach, rather than at every start of the program.
journey_hand_over() {
  [ -n "$journey_top" ] || return 0
  chown -R "$journey_uid:$journey_gid" "$program_home" || fail "cannot hand $program_home to $journey_user"
  local denied
  denied=$("${as_user[@]}" sh -c '
    [ -z "${XAUTHORITY:-}" ] || [ -r "$XAUTHORITY" ] || echo "$XAUTHORITY: not readable"
    [ ! -d "$2" ] || find "$2" -type f \( ! -readable -o ! -executable \) -printf "%p: cannot run it\n" 2>&1
    find "$1" \( ! -readable -o ! -writable -o -type d ! -executable \) -printf "%p: no access\n" 2>&1 | head -5
  ' sh "$program_home" "$journey_top/bin" 2>&1)
  [ -z "$denied" ] || fail "user $journey_user cannot reach the program's files: $denied"
  "${as_user[@]}" xdpyinfo >/dev/null 2>&1 ||
    fail "user $journey_user cannot open the display ${DISPLAY:-(none)} with the authority file ${XAUTHORITY:-(none)}"
}

# journey_end: the folder of journey_env --as goes; a second try when a
# program that was just killed still wrote into it.
journey_end() {
  [ -n "$journey_top" ] || return 0
  rm -rf "$journey_top" 2>/dev/null || { sleep 1; rm -rf "$journey_top"; } || true
  journey_top=""
}

# pid_gone <pid>: true once the process has ended (10 s at most); it is no
# longer watched.
pid_gone() {
  unwatch "$1"
  for _ in $(seq 1 100); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

# select_test_scanner <shot prefix>: File > Import Image > Select Source...,
# the first source (SANE's test device) taken with Return.
select_test_scanner() {
  xdotool key alt+f
  sleep 0.3
  for _ in $(seq 1 13); do xdotool key Down; done
  xdotool key Right Return
  wait_window "^Select Source$" >/dev/null || { shot "$1-nosource"; fail "Select Source did not open"; }
  sleep 0.3
  xdotool key Return
  wait_gone "^Select Source$" || fail "Select Source did not close"
}
