#!/bin/sh
# Runs app_desktop_windows_test on an X11 desktop of its own: a fresh Xvfb display, the window
# manager asked for (openbox, or none: then the windows are the root window's children), and
# xmessage showing "Some Other Program" as another program's window.
#   desktop_windows_run.sh TEST_PROGRAM openbox|none
# Every tool comes with scripts/setup.sh; a missing one fails the test and says which.
set -u
PROGRAM=$1
WM=$2

for tool in Xvfb xmessage xprop; do
  command -v "$tool" > /dev/null 2>&1 || { echo "$tool is missing: scripts/setup.sh installs it" >&2; exit 1; }
done
[ "$WM" = none ] || command -v "$WM" > /dev/null 2>&1 \
  || { echo "$WM is missing: scripts/setup.sh installs it" >&2; exit 1; }

RUN=$(mktemp -d "${TMPDIR:-/tmp}/zn-desktop.XXXXXX")
PIDS=""
finish() {
  for p in $PIDS; do kill "$p" 2> /dev/null; done
  for p in $PIDS; do wait "$p" 2> /dev/null; done
  rm -rf "$RUN"
}
trap finish EXIT
trap 'exit 1' INT TERM
fail() { echo "desktop_windows_run: $*" >&2; cat "$RUN"/*.log >&2 2> /dev/null; exit 1; }
until_ok() { n=0; while ! eval "$1" > /dev/null 2>&1; do n=$((n + 1)); [ $n -gt $(($2 * 10)) ] && return 1; sleep 0.1; done; }

exec 3> "$RUN/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$RUN/xvfb.log" 2>&1 &
PIDS="$PIDS $!"
exec 3>&-
until_ok "[ -s $RUN/display ]" 10 || fail "Xvfb did not start"
DISPLAY=":$(head -1 "$RUN/display")"
export DISPLAY

if [ "$WM" != none ]; then
  "$WM" --sm-disable > "$RUN/wm.log" 2>&1 &
  PIDS="$PIDS $!"
  # A window manager that runs has put its check window on the root window.
  until_ok "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'" 10 || fail "$WM did not start"
fi

xmessage -title 'Some Other Program' hello > "$RUN/xmessage.log" 2>&1 &
PIDS="$PIDS $!"

QT_QPA_PLATFORM=xcb "$PROGRAM"
