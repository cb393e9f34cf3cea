#!/bin/sh
# Installs what building and testing zn needs on Debian 12, then configures and builds.
# Idempotent: packages already present are skipped. What needs root's rights is asked of sudo
# (when not run as root), and only for those steps.
#   scripts/setup.sh          build everything
#   scripts/setup.sh run      as the desktop user who faxes, in their session: builds the programs,
#                             installs with root's rights what all users share (packages, the
#                             programs in /usr/local/lib/tarvel, the printer's backend and queue),
#                             then sets up and starts this user's znptf and zn (scripts/zn_desktop.sh).
#                             Run by root for nobody's desktop, it installs the shared parts and says
#                             what each user still types.
#   scripts/setup.sh test     build everything, then run the whole test suite
#   scripts/setup.sh system [BUILD]   (root) the shared parts only, from a build made before
set -eu
cd "$(dirname "$0")/.."

PACKAGES="build-essential cmake ninja-build ccache pkg-config
 qt6-base-dev qt6-base-dev-tools libgl-dev libjpeg62-turbo-dev libgtest-dev libgmock-dev
 libspandsp-dev libtiff-dev libsqlite3-dev libqt6sql6-sqlite sqlite3
 efax mgetty-fax netpbm libtiff-tools socat
 libdbd-xbase-perl python3-dbfread python3-dbf
 dbus-daemon python3-dbus python3-gi libudev-dev
 clang libclang-rt-14-dev
 xvfb xauth x11-utils xfonts-base fonts-dejavu-core fonts-liberation imagemagick
 qt6-multimedia-dev fonts-symbola libjpeg-turbo-progs xdotool openbox
 cups ghostscript printer-driver-cups-pdf poppler-utils trayer"

BUILD=${ZN_BUILD_DIR:-build}
JOBS=$(nproc)
# Where the programs go for every user: a user's home may be closed to the others.
SHARED=/usr/local/lib/tarvel
# What `run` builds: the programs it installs and nothing else.
RUN_TARGETS="zn znptf tarvelfax"

# A command with root's rights: directly as root, else through sudo, which asks for them.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo > /dev/null 2>&1; then
    echo "setup: root's rights are needed for: $*" >&2
    sudo "$@"
  else
    echo "setup: this step needs root's rights and sudo is not installed; as root, run:" >&2
    echo "    sh $(pwd)/scripts/setup.sh system $(pwd)/$BUILD" >&2
    echo "then run this command again." >&2
    exit 1
  fi
}

install_packages() {
  missing=""
  for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
  done
  if [ -n "$missing" ]; then
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
  fi
}

# Builds the targets given, or everything; as BUILDER when set (a command prefix).
BUILDER=""
build() {
  if [ ! -f "$BUILD/build.ninja" ]; then
    $BUILDER cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
  if [ $# -gt 0 ]; then
    $BUILDER cmake --build "$BUILD" -j "$JOBS" --target "$@"
  else
    $BUILDER cmake --build "$BUILD" -j "$JOBS"
  fi
}

# Runs a command as that user, in their own environment for the desktop they are on.
as_user() {
  user=$1; shift
  uid=$(id -u "$user")
  runtime=""
  [ -d "/run/user/$uid" ] && [ "$(stat -c %u "/run/user/$uid")" = "$uid" ] && runtime=/run/user/$uid
  runuser -u "$user" -- env HOME="$(getent passwd "$user" | cut -d: -f6)" USER="$user" LOGNAME="$user" \
    ${runtime:+XDG_RUNTIME_DIR=$runtime} "$@"
}

# lpstat -r says so either way; its exit status does not tell.
scheduler_runs() {
  LC_ALL=C lpstat -r 2>/dev/null | grep -q "scheduler is running"
}

# The parts all users share, as root: zn and znptf where every user reaches them, the "Tarvel
# Fax" printer's CUPS backend (run as root, so mode 0700, to become each job's owner) and its queue,
# which hands it PostScript. Without a running cupsd it says so.
install_system() {
  programs=$1
  install -d -m 0755 "$SHARED"
  install -m 0755 "$programs/app/zn" "$programs/ptf/znptf" scripts/zn_desktop.sh "$SHARED/"
  backend_dir=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)/backend
  install -m 0700 -o root -g root "$programs/ptf/tarvelfax" "$backend_dir/tarvelfax"
  scheduler_runs || service cups start >/dev/null 2>&1 || cupsd >/dev/null 2>&1 || true
  tries=10
  until scheduler_runs || [ "$tries" -eq 0 ]; do sleep 1; tries=$((tries - 1)); done
  if scheduler_runs; then
    lpadmin -p TarvelFax -E -v tarvelfax:/ -P ptf/cups/tarvelfax.ppd -D "Tarvel Fax" \
      -o printer-op-policy=authenticated
    echo "setup: printer TarvelFax installed; zn and znptf are in $SHARED"
  else
    echo "setup: no CUPS scheduler is running; the Tarvel Fax printer was not added" >&2
    return 1
  fi
}

# What a user types, once, in their own desktop session, to fax by printing.
USER_COMMAND="sh $SHARED/zn_desktop.sh setup"

case "${1:-}" in
  system)
    [ "$(id -u)" -eq 0 ] || { echo "setup: 'system' installs for all users and needs root" >&2; exit 1; }
    install_system "$(cd "${2:-$BUILD}" && pwd)" ;;
  run)
    install_packages
    desktop_user=""
    if [ "$(id -u)" -ne 0 ]; then
      desktop_user=$(id -un)
    elif [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
      desktop_user=$SUDO_USER
    fi
    # Through sudo, from the user's own checkout: the build stays theirs.
    if [ "$(id -u)" -eq 0 ] && [ -n "$desktop_user" ] && [ "$(stat -c %U .)" = "$desktop_user" ]; then
      BUILDER="as_user $desktop_user"
    fi
    build $RUN_TARGETS
    if [ "$(id -u)" -eq 0 ]; then
      install_system "$(cd "$BUILD" && pwd)"
    else
      as_root sh scripts/setup.sh system "$(cd "$BUILD" && pwd)"
    fi
    if [ -z "$desktop_user" ]; then
      echo "setup: done for all users. Each user who faxes types, once, in their own desktop session:"
      echo "    $USER_COMMAND"
    elif [ "$(id -u)" -ne 0 ]; then
      exec sh "$SHARED/zn_desktop.sh" setup
    else
      # Started through sudo: the user's own parts are theirs, made as them on their display.
      as_user "$desktop_user" sh "$SHARED/zn_desktop.sh" setup
    fi ;;
  test)
    install_packages
    build
    export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
    cd "$BUILD" && exec ctest --output-on-failure -j "$JOBS" --timeout 900 ;;
  *)
    install_packages
    build ;;
esac
