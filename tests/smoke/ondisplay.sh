#!/usr/bin/env bash
# Runs a command on a virtual X display of its own, for the screen tests.
#
# The X server picks a free display number itself (Xvfb -displayfd: it binds
# the display's sockets, so a number another server holds is passed over)
# and the display is used only once it is checked to be that server's: the
# display's listening sockets are the ones the server holds, and it answers
# with a cookie of its own. The command gets DISPLAY and XAUTHORITY and runs
# in a process group of its own. When it ends, fails or is stopped (the
# signal of a time-out), everything it started there (the program, a window
# manager) and the X server end with it; when the X server ends first, the
# command is stopped at once and the run fails.
#
# Usage: ondisplay.sh [-s <screen WxHxD>] <command> [arguments...]
set -uo pipefail

screen=1280x1024x24
if [ "${1:-}" = -s ]; then
  screen=$2
  shift 2
fi
[ $# -gt 0 ] || { echo "usage: ondisplay.sh [-s WxHxD] <command> [arguments...]" >&2; exit 2; }

say() { echo "ondisplay: $*" >&2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/pictrova-display.XXXXXX") || exit 1
server=""
group=""

# group_runs: a process of the command's group has not ended (one that has
# may wait as a zombie for a parent that does not reap it).
group_runs() {
  local stat fields
  for stat in /proc/[0-9]*/stat; do
    read -r fields 2>/dev/null <"$stat" || continue
    # After the name in parentheses: state, parent, process group.
    read -r -a fields <<<"${fields##*) }"
    [ "${fields[2]}" = "$group" ] && [ "${fields[0]}" != Z ] && return 0
  done
  return 1
}
# The command's process group: asked to end, then ended.
stop_group() {
  [ -n "$group" ] || return 0
  kill -TERM -- "-$group" 2>/dev/null
  for _ in $(seq 1 30); do
    group_runs || break
    sleep 0.1
  done
  kill -KILL -- "-$group" 2>/dev/null
  group=""
}
stop_server() {
  [ -n "$server" ] || return 0
  kill -TERM "$server" 2>/dev/null
  for _ in $(seq 1 30); do
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$server" 2>/dev/null
  wait "$server" 2>/dev/null
  server=""
}
finish() {
  stop_group
  stop_server
  rm -rf "$scratch"
}
trap finish EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# owns_display <pid> <number>: the display's listening sockets (the abstract
# one and the file) are all held by the process, and there is one.
owns_display() {
  local inodes inode held
  inodes=$(awk -v a="@/tmp/.X11-unix/X$2" -v f="/tmp/.X11-unix/X$2" \
    '$4 == "00010000" && ($8 == a || $8 == f) { print $7 }' /proc/net/unix)
  [ -n "$inodes" ] || return 1
  held=$(find "/proc/$1/fd" -lname 'socket:*' -printf '%l\n' 2>/dev/null)
  for inode in $inodes; do
    grep -qxF "socket:[$inode]" <<<"$held" || return 1
  done
}

# start_server: an Xvfb on a display of its own; sets server and DISPLAY.
start_server() {
  local cookie number=""
  cookie=$(od -An -tx1 -N16 /dev/urandom | tr -d ' \n')
  rm -f "$scratch/server.auth" "$scratch/auth" "$scratch/display"
  : >"$scratch/display"
  # The server takes every cookie of its file, whatever display an entry
  # names; a client looks one up by the display's number, known only later.
  xauth -q -f "$scratch/server.auth" add :0 . "$cookie" 2>/dev/null || { say "xauth failed"; return 1; }
  # It dies with this script, even one killed outright. It keeps running as
  # it is when its last client goes (a program ended, the next one not yet
  # started), not resetting under the next one.
  setpriv --pdeathsig KILL -- Xvfb -displayfd 3 -auth "$scratch/server.auth" -nolisten tcp -noreset \
    -screen 0 "$screen" 3>"$scratch/display" 2>>"$scratch/xvfb.log" &
  server=$!
  # The number comes once the server takes connections.
  for _ in $(seq 1 300); do
    number=$(head -1 "$scratch/display")
    [ -n "$number" ] && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  if ! [[ "$number" =~ ^[0-9]+$ ]]; then
    say "Xvfb gave no display number: $(tail -3 "$scratch/xvfb.log" | tr '\n' ' ')"
    return 1
  fi
  if ! owns_display "$server" "$number"; then
    say "display :$number is not the one Xvfb opened"
    return 1
  fi
  xauth -q -f "$scratch/auth" add ":$number" . "$cookie" 2>/dev/null || { say "xauth failed"; return 1; }
  export DISPLAY=":$number" XAUTHORITY="$scratch/auth"
  for _ in $(seq 1 50); do
    xdpyinfo >/dev/null 2>&1 && return 0
    kill -0 "$server" 2>/dev/null || break
    sleep 0.2
  done
  say "display :$number does not answer"
  return 1
}

started=""
for _ in 1 2 3; do
  start_server && { started=1; break; }
  stop_server
done
[ -n "$started" ] || { say "no display of its own"; exit 1; }

# A job of its own: the command leads a process group.
set -m
setpriv --pdeathsig KILL -- "$@" &
group=$!
set +m
ended=""
wait -n -p ended "$group" "$server"
status=$?
if [ "$ended" = "$server" ]; then
  server=""
  say "the X server of $DISPLAY ended under the test"
  exit 1
fi
# What the command left running goes first, while the display is still there.
exit "$status"
