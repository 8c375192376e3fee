#!/usr/bin/env bash
# The screen tests' harness itself, one case a run, under the command that
# gives a screen test its display (tests/smoke/ondisplay.sh):
#   gone     a window that closes between the search for it and the look
#            at its place is not there: find_window finds nothing,
#            wait_gone ends at once, and the test goes on.
#   taken    an X server that holds a display without a lock file (as one
#            started with -displayfd does) is not used: the test's display
#            answers with its own cookie and is not the stand-in's; and an
#            X server that names a display another server holds is refused:
#            the test does not run there.
#   early    a program that ends at once (as one that cannot open its
#            display does) ends its test at once: a folder test fails
#            after a few looks for its window, not after its wait for it.
#   cleanup  the program, the window manager and the X server of a test end
#            with it, when it passes, fails and is stopped.
# Usage: harness.sh <case> <work folder> <display command...>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
case=$1
work=$2
shift 2
fail() { echo "HARNESS ($case) FAILED: $*" >&2; exit 1; }

# socket_holder <number> <pid>...: the one of the processes that holds the
# display's abstract socket; false when none does.
socket_holder() {
  local number=$1 inode pid
  shift
  inode=$(awk -v a="@/tmp/.X11-unix/X$number" '$4 == "00010000" && $8 == a { print $7 }' /proc/net/unix)
  [ -n "$inode" ] || return 1
  for pid in "$@"; do
    find "/proc/$pid/fd" -lname "socket:\[$inode\]" 2>/dev/null | grep -q . && { echo "$pid"; return 0; }
  done
  return 1
}

# The parts that run on the display, started by the cases below.
case $case in
inside-gone)
  source "$here/screenlib.sh"
  # A window of its own, closed before xdotool's search answers.
  xmessage -name gone "going" &
  client=$!
  for _ in $(seq 1 100); do
    id=$(xdotool search --onlyvisible --name "^gone$" 2>/dev/null | head -1) && [ -n "$id" ] && break
    sleep 0.1
  done
  [ -n "$id" ] || fail "no window to close"
  xwininfo -id "$id" >/dev/null 2>&1 || fail "the window is not there while it is"
  mkdir -p "$work/bin"
  printf '#!/bin/sh\n[ "$1" = search ] && { echo %s; exit 0; }\nexec %s "$@"\n' "$id" "$(command -v xdotool)" \
    >"$work/bin/xdotool"
  chmod +x "$work/bin/xdotool"
  kill "$client"
  wait "$client" 2>/dev/null || true
  for _ in $(seq 1 100); do
    xwininfo -id "$id" >/dev/null 2>&1 || break
    sleep 0.1
  done
  PATH="$work/bin:$PATH"
  find_window "^gone$" >/dev/null && fail "a window that is gone was found"
  wait_gone "^gone$" || fail "wait_gone waited for a window that is gone"
  window=$(find_window "^gone$") && fail "a window that is gone was found: $window"
  echo "the test went on"
  exit 0
  ;;
inside-taken)
  socket_holder "${DISPLAY#:}" "$STANDIN" >/dev/null && fail "the test runs on the stand-in's display"
  xdpyinfo >/dev/null 2>&1 || fail "the display $DISPLAY does not answer with the test's cookie"
  echo "$DISPLAY" >"$work/ran"
  exit 0
  ;;
inside-cleanup)
  # A program that outlives its test unless it is ended, and a window
  # manager; their processes and the X server's go to a file.
  sleep 600 &
  program=$!
  wm=""
  if command -v matchbox-window-manager >/dev/null; then
    matchbox-window-manager -use_titlebar no >/dev/null 2>&1 &
    wm=$!
  fi
  # (Processes that end meanwhile make grep answer 2.)
  servers=$(grep -lx Xvfb /proc/[0-9]*/comm 2>/dev/null | cut -d/ -f3 || true)
  server=$(socket_holder "${DISPLAY#:}" $servers) || fail "no X server holds $DISPLAY"
  echo "$program $wm $server" >"$work/processes"
  case $1 in
  pass) exit 0 ;;
  fail) exit 1 ;;
  stopped) sleep 600 ;;
  esac
  ;;
esac

rm -rf "$work"
mkdir -p "$work"

case $case in
gone)
  "$@" "$here/harness.sh" inside-gone "$work" >"$work/log" 2>&1 || fail "$(tail -3 "$work/log")"
  grep -q "the test went on" "$work/log" || fail "$(tail -3 "$work/log")"
  ;;
taken)
  # The stand-in: a server with a cookie of its own on the first display
  # free, without a lock file.
  touch "$work/standin.auth"
  xauth -q -f "$work/standin.auth" add :0 . "$(od -An -tx1 -N16 /dev/urandom | tr -d ' \n')"
  Xvfb -displayfd 3 -auth "$work/standin.auth" -nolisten tcp 3>"$work/standin.display" 2>"$work/standin.log" &
  export STANDIN=$!
  trap 'kill "$STANDIN" 2>/dev/null || true' EXIT
  for _ in $(seq 1 100); do [ -s "$work/standin.display" ] && break; sleep 0.1; done
  [ -s "$work/standin.display" ] || fail "the stand-in took no display"
  "$@" "$here/harness.sh" inside-taken "$work" >"$work/log" 2>&1 || fail "$(tail -3 "$work/log")"
  [ -s "$work/ran" ] || fail "the test did not run"
  # An X server that names the stand-in's display as its own.
  rm -f "$work/ran"
  mkdir -p "$work/bin"
  cat >"$work/bin/Xvfb" <<EOF
#!/usr/bin/env bash
# The real server, on a display of its own, names the stand-in's.
args=()
for a in "\$@"; do [ "\$a" = 3 ] && [ "\${args[-1]:-}" = -displayfd ] && a=4; args+=("\$a"); done
(sleep 0.5; cat "$work/standin.display" >&3) &
exec $(command -v Xvfb) "\${args[@]}" 4>/dev/null
EOF
  chmod +x "$work/bin/Xvfb"
  PATH="$work/bin:$PATH" "$@" "$here/harness.sh" inside-taken "$work" >"$work/log" 2>&1 &&
    fail "the test ran on a display its X server does not hold"
  [ ! -e "$work/ran" ] || fail "the test ran on $(cat "$work/ran"), a display its X server does not hold"
  ;;
early)
  # The program cannot open its display; every look for a window counts.
  mkdir -p "$work/bin"
  printf '#!/bin/sh\necho "could not connect to display" >&2\nexit 1\n' >"$work/program"
  printf '#!/bin/sh\n[ "$1" = search ] && echo x >>"%s"\nexec %s "$@"\n' "$work/searches" "$(command -v xdotool)" \
    >"$work/bin/xdotool"
  chmod +x "$work/program" "$work/bin/xdotool"
  PATH="$work/bin:$PATH" "$@" "$here/folders.sh" "$work/program" "$work/folders" links >"$work/log" 2>&1 &&
    fail "the folder test passed without its program"
  searches=$(wc -l <"$work/searches" 2>/dev/null || echo 0)
  echo "the folder test looked for its window $searches times"
  [ "$searches" -le 3 ] || fail "the folder test looked for its window $searches times after its program ended"
  ;;
cleanup)
  gone() {
    local p
    for p in "$@"; do
      # A process that has ended may wait as a zombie for a parent that
      # does not reap it.
      [ -e "/proc/$p" ] && ! grep -q '^State:.*Z' "/proc/$p/status" 2>/dev/null && return 1
    done
    return 0
  }
  for how in pass fail stopped; do
    rm -f "$work/processes"
    "$@" "$here/harness.sh" inside-cleanup "$work" "$how" >"$work/log-$how" 2>&1 &
    test=$!
    for _ in $(seq 1 300); do [ -s "$work/processes" ] && break; sleep 0.1; done
    [ -s "$work/processes" ] || fail "$how: the test did not start: $(tail -3 "$work/log-$how")"
    read -r -a processes <"$work/processes"
    [ "$how" = stopped ] && kill -TERM "$test"
    status=0
    wait "$test" || status=$?
    case $how in
    pass) [ "$status" = 0 ] || fail "a test that passed ended with $status" ;;
    *) [ "$status" != 0 ] || fail "$how: a test that did not pass ended with 0" ;;
    esac
    for _ in $(seq 1 30); do gone "${processes[@]}" && break; sleep 0.1; done
    gone "${processes[@]}" || fail "$how: left running: $(for p in "${processes[@]}"; do cat "/proc/$p/comm"; done 2>/dev/null | tr '\n' ' ')"
  done
  ;;
*)
  fail "unknown case"
  ;;
esac
echo "harness ($case) passed"
