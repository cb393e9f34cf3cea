#!/bin/sh
# Installs what building and testing zn needs on Debian 12, then configures and builds.
# Run as root or with sudo. Idempotent: packages already present are skipped.
#   scripts/setup.sh          build only
#   scripts/setup.sh run      build, then start zn
#   scripts/setup.sh test     build, then run the whole test suite
set -eu
cd "$(dirname "$0")/.."

PACKAGES="build-essential cmake ninja-build ccache pkg-config
 qt6-base-dev qt6-base-dev-tools libgl-dev libjpeg62-turbo-dev libgtest-dev libgmock-dev
 libspandsp-dev libtiff-dev libsqlite3-dev
 efax mgetty-fax netpbm libtiff-tools socat
 libdbd-xbase-perl python3-dbfread python3-dbf
 clang libclang-rt-14-dev
 xvfb xauth xfonts-base fonts-dejavu-core
 cups printer-driver-cups-pdf poppler-utils ghostscript imagemagick"

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

case "${1:-}" in
  run)
    exec "$BUILD/app/zn" ;;
  test)
    export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
    cd "$BUILD" && exec ctest --output-on-failure -j "$JOBS" --timeout 900 ;;
esac
