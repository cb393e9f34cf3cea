#!/bin/sh
# zn on a user's desktop. PROGRAMS is a build folder (app/zn, ptf/znptf) or a folder holding zn and
# znptf side by side, as scripts/setup.sh installs them; without it, this script's own folder when
# the programs lie beside it, else the build folder of the source tree.
#   sh zn_desktop.sh setup [PROGRAMS]    install, then znptf and zn started on this display; returns
#   sh zn_desktop.sh start [PROGRAMS]    znptf in the background, then zn
#   sh zn_desktop.sh install [PROGRAMS]  menu entries for zn and znptf, and znptf started with each
#                                        desktop session (XDG autostart)
# Everything here is the user's own: run it as the user who faxes, in their desktop session.
# Printing to the Tarvel Fax printer reaches zn only through znptf, so zn's start brings it along.
set -eu
SELF=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
HERE=$(dirname "$SELF")
if [ -n "${2:-}" ]; then
  PROGRAMS=$(cd "$2" && pwd)
elif [ -x "$HERE/znptf" ]; then
  PROGRAMS=$HERE
else
  PROGRAMS=$(cd "$HERE/.." && cd "${ZN_BUILD_DIR:-build}" && pwd)
fi
if [ -x "$PROGRAMS/app/zn" ]; then
  ZN=$PROGRAMS/app/zn ZNPTF=$PROGRAMS/ptf/znptf
else
  ZN=$PROGRAMS/zn ZNPTF=$PROGRAMS/znptf
fi

# A desktop entry: file, name, comment, command line (each argument already quoted).
entry() {
  cat > "$1.new" <<ENTRY
[Desktop Entry]
Type=Application
Name=$2
Comment=$3
Exec=$4
Terminal=false
Categories=Office;
ENTRY
  mv "$1.new" "$1"
}

install_entries() {
  apps=${XDG_DATA_HOME:-$HOME/.local/share}/applications
  autostart=${XDG_CONFIG_HOME:-$HOME/.config}/autostart
  mkdir -p "$apps" "$autostart"
  entry "$apps/tarvel-zn.desktop" "Tarvel" "Send and receive faxes" \
    "sh \"$SELF\" start \"$PROGRAMS\""
  entry "$apps/tarvel-znptf.desktop" "Tarvel Print To Fax" \
    "Takes what is printed to the Tarvel Fax printer and hands it to Tarvel" "\"$ZNPTF\""
  entry "$autostart/tarvel-znptf.desktop" "Tarvel Print To Fax" \
    "Takes what is printed to the Tarvel Fax printer and hands it to Tarvel" "\"$ZNPTF\""
  echo "setup: desktop entries for Tarvel and Tarvel Print To Fax are in $apps; znptf starts with the desktop"
}

# A program of the user's session, on its own: it outlives this script and the terminal.
detached() {
  setsid "$@" > /dev/null 2>&1 < /dev/null &
}

case "${1:-}" in
  setup)
    install_entries
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
      echo "setup: no desktop display here; znptf starts with your next desktop session, zn from the menu" >&2
      exit 0
    fi
    # A second znptf finds the first one running and ends at once; so does a second zn.
    detached "$ZNPTF"
    detached "$ZN"
    echo "setup: znptf and zn are started for $(id -un) on this desktop" ;;
  start)
    detached "$ZNPTF"
    exec "$ZN" ;;
  install)
    install_entries ;;
  *)
    echo "usage: $0 setup|start|install [PROGRAMS]" >&2
    exit 2 ;;
esac
