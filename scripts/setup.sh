#!/bin/sh
# Installs what building and testing zn needs on Debian 12, then configures and builds.
# Run as root or with sudo. Idempotent: packages already present are skipped.
#   scripts/setup.sh          build only
#   scripts/setup.sh run      build, install the desktop entries, then start znptf and zn
#   scripts/setup.sh test     build, then run the whole test suite
set -eu
cd "$(dirname "$0")/.."

PACKAGES="build-essential cmake ninja-build ccache pkg-config
 qt6-base-dev qt6-base-dev-tools libgl-dev libjpeg62-turbo-dev libgtest-dev libgmock-dev
 libspandsp-dev libtiff-dev libsqlite3-dev libqt6sql6-sqlite sqlite3
 efax mgetty-fax netpbm libtiff-tools socat
 libdbd-xbase-perl python3-dbfread python3-dbf
 dbus-daemon python3-dbus python3-gi libudev-dev
 clang libclang-rt-14-dev
 xvfb xauth xfonts-base fonts-dejavu-core fonts-liberation imagemagick
 qt6-multimedia-dev fonts-symbola libjpeg-turbo-progs xdotool openbox
 cups ghostscript printer-driver-cups-pdf poppler-utils trayer"

missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
fi

BUILD=${ZN_BUILD_DIR:-build}
JOBS=$(nproc)
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$BUILD" -j "$JOBS"

# The "Tarvel Fax" printer: our CUPS backend (run as root, so mode 0700, to become each job's owner)
# and a queue that hands it PostScript. Needs root and a running cupsd; otherwise it says why.
install_fax_printer() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: run as root to install the Tarvel Fax printer" >&2; return 0
  fi
  backend_dir=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)/backend
  install -m 0700 -o root -g root "$BUILD/ptf/tarvelfax" "$backend_dir/tarvelfax" || return 0
  lpstat -r >/dev/null 2>&1 || service cups start >/dev/null 2>&1 || cupsd >/dev/null 2>&1 || true
  sleep 1
  if lpstat -r >/dev/null 2>&1; then
    lpadmin -p TarvelFax -E -v tarvelfax:/ -P ptf/cups/tarvelfax.ppd -D "Tarvel Fax" \
      -o printer-op-policy=authenticated 2>/dev/null \
      && echo "setup: printer TarvelFax installed; keep znptf running to fax by printing"
  else
    echo "setup: no CUPS scheduler is running; the Tarvel Fax printer was not added" >&2
  fi
}

case "${1:-}" in
  run)
    install_fax_printer
    sh scripts/zn_desktop.sh install "$BUILD"
    exec sh scripts/zn_desktop.sh start "$BUILD" ;;
  test)
    export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
    cd "$BUILD" && exec ctest --output-on-failure -j "$JOBS" --timeout 900 ;;
esac
