#!/bin/sh
# zn on a desktop. From the source folder, after a build:
#   sh scripts/zn_desktop.sh start [BUILD]    znptf in the background, then zn
#   sh scripts/zn_desktop.sh install [BUILD]  menu entries for zn and znptf, and znptf started with
#                                             each desktop session (XDG autostart)
# Printing to the Tarvel Fax printer reaches zn only through znptf, so zn's start brings it along.
set -eu
cd "$(dirname "$0")/.."
SRC=$(pwd)
BUILD=$(cd "${2:-${ZN_BUILD_DIR:-build}}" && pwd)

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

case "${1:-}" in
  start)
    # A second znptf finds the first one running and ends at once; znptf stays when zn closes.
    setsid "$BUILD/ptf/znptf" > /dev/null 2>&1 < /dev/null &
    exec "$BUILD/app/zn" ;;
  install)
    apps=${XDG_DATA_HOME:-$HOME/.local/share}/applications
    autostart=${XDG_CONFIG_HOME:-$HOME/.config}/autostart
    mkdir -p "$apps" "$autostart"
    entry "$apps/tarvel-zn.desktop" "Tarvel" "Send and receive faxes" \
      "sh \"$SRC/scripts/zn_desktop.sh\" start \"$BUILD\""
    entry "$apps/tarvel-znptf.desktop" "Tarvel Print To Fax" \
      "Takes what is printed to the Tarvel Fax printer and hands it to Tarvel" "\"$BUILD/ptf/znptf\""
    entry "$autostart/tarvel-znptf.desktop" "Tarvel Print To Fax" \
      "Takes what is printed to the Tarvel Fax printer and hands it to Tarvel" "\"$BUILD/ptf/znptf\""
    echo "setup: desktop entries for Tarvel and Tarvel Print To Fax are in $apps; znptf starts with the desktop" ;;
  *)
    echo "usage: $0 start|install [BUILD]" >&2
    exit 2 ;;
esac
