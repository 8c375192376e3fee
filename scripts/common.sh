# Shared by run.sh and test.sh: installs what is missing and configures a build.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

say() { printf '\n== %s\n' "$*"; }
fail() { printf '\nFAILED: %s\n' "$*" >&2; exit 1; }

# Everything the viewer needs to build and run (Qt's Wayland plug-in, so
# that a Wayland desktop shows it as its own window, not through XWayland).
BUILD_PACKAGES="qt6-base-dev qt6-multimedia-dev libopenjp2-7-dev libsane-dev libavformat-dev
 libavcodec-dev libswscale-dev libjpeg62-turbo-dev libpng-dev zlib1g-dev cmake ninja-build g++
 pkgconf ccache xdg-utils libxcb1-dev qt6-wayland"
# What the tests add: sanitizer and fuzzing compilers, a virtual display, a
# screenshot tool, Google's test and benchmark libraries, and the reference
# tools whose files we read and who read ours (scanimage for the scanner,
# pdftoppm for printed pages, ffmpeg for video files, xdotool and xclip for
# pointer input and the clipboard on the virtual display, a small window
# manager for dialogs stacked as a desktop stacks them; vipsthumbnail is the
# thumbnail benchmark's yardstick; the random-input run asks windows for an
# answer through xcb and takes the stacks of a hung program with gdb; a
# private session bus stands for a desktop without a file manager).
TEST_PACKAGES="clang libclang-rt-14-dev xvfb xauth x11-utils imagemagick mate-backgrounds xdotool xclip libgtest-dev
 libgmock-dev libbenchmark-dev libvips-dev libtiff-dev libgif-dev libtiff-tools giflib-tools netpbm libjpeg-turbo-progs pngcheck libopenjp2-tools
 sane-utils poppler-utils ffmpeg libvips-tools libglib2.0-bin gsettings-desktop-schemas matchbox-window-manager
 gdb dbus-daemon"

install_packages() {
  local wanted missing=()
  for wanted in "$@"; do
    dpkg-query -W -f='${Status}' "$wanted" 2>/dev/null | grep -q "install ok installed" \
      || missing+=("$wanted")
  done
  [ ${#missing[@]} -eq 0 ] && { say "All packages present"; return; }
  say "Installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q >/dev/null || fail "apt-get update"
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null \
    || fail "installing ${missing[*]}"
}

# configure <build dir> <cmake options...>
configure() {
  local dir=$1; shift
  say "Configuring $dir"
  cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null || fail "cmake configure ($dir)"
}

build() {
  local dir=$1; shift
  say "Building $dir"
  cmake --build "$dir" "$@" || fail "build ($dir)"
}
