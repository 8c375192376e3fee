#!/usr/bin/env bash
# The folders of a program that a screen test runs as another user
# (journey_env --as): they lie under the system's temporary folder, not in
# the build's folders (closed to others here, as a checkout in a private
# folder is), belong to that user with a copy of the display's authority
# file it can read and the program it can start, also through timeout, and
# go when the test ends. A temporary folder the user cannot reach fails the
# hand-over, naming what is out of reach. As root the user is nobody; any
# other user runs it as itself, and the closed temporary folder, which
# needs two users, is left out.
# Usage: scratch.sh <work folder>
set -euo pipefail
work=$1
source "$(dirname "$0")/screenlib.sh"
fail() { echo "SCRATCH FOLDERS FAILED: $*" >&2; exit 1; }

user=nobody
[ "$(id -u)" = 0 ] || user=$(id -un)
rm -rf "$work"
mkdir -p "$work"
chmod 700 "$work"

# A stand-in for the program in the build's folder.
printf '#!/bin/sh\necho "started as $(id -un)"\n' >"$work/program"
chmod 755 "$work/program"

# A test's start as far as the program: prints the program's home, then
# who the program runs as, what it can read and write, and who owns its
# runtime folder.
start_as_user() {
  journey_env --as "$user" "$work/test" pics
  program=$(journey_program "$work/program")
  marked_picture "$program_home/pics/a.png" "#0000FF"
  journey_hand_over
  echo "$program_home"
  "${as_user[@]}" timeout 10 "$program"
  "${as_user[@]}" sh -c 'id -un; test -r "$XAUTHORITY" && echo "authority readable"
    test -r "$HOME/pics/a.png" && echo x >>"$HOME/pics/a.png" && echo "picture writable"
    stat -c "runtime of %U, %a" "$XDG_RUNTIME_DIR"'
}
out=$( (start_as_user) ) || fail "the start failed: $out"
echo "$out"
home=$(head -1 <<<"$out")
case $home in
"${TMPDIR:-/tmp}"/pictrova-screen.*/home) ;;
*) fail "the program's folders are at $home, not under the system's temporary folder" ;;
esac
grep -qx "started as $user" <<<"$out" || fail "the program did not start as $user"
[ "$(sed -n 3p <<<"$out")" = "$user" ] || fail "the program does not run as $user"
grep -qx "authority readable" <<<"$out" || fail "$user cannot read the display's authority file"
grep -qx "picture writable" <<<"$out" || fail "$user cannot change its pictures"
grep -qx "runtime of $user, 700" <<<"$out" || fail "the runtime folder is not $user's alone"
[ -d "$work/test" ] || fail "no work folder for the test's own files"
[ ! -e "$home" ] && [ ! -e "${home%/home}" ] || fail "the program's folders outlived the test: ${home%/home}"

if [ "$(id -u)" = 0 ]; then
  # The system's temporary folder itself closed to nobody: the hand-over
  # names it, and the folders still go.
  mkdir -m 700 "$work/closed"
  out=$( (TMPDIR=$work/closed start_as_user) 2>&1) && fail "a folder nobody cannot reach passed the hand-over: $out"
  echo "$out"
  grep -q "SCRATCH FOLDERS FAILED: user nobody cannot reach the program's files: .*$work/closed/pictrova-screen" \
    <<<"$out" || fail "the hand-over did not say what is out of reach: $out"
  [ -z "$(ls -A "$work/closed")" ] || fail "the closed folder's scratch folder outlived the test"
fi
echo "scratch folders passed"
