#!/bin/sh
# Runs a command on a desktop of its own, as a user's session has it: an X server (Xvfb, one
# 1280x1024 screen) with the openbox window manager, Qt on X11 (QT_QPA_PLATFORM=xcb).
#     sh tests/desktop/openbox_session.sh COMMAND [ARGUMENT...]
# Exit status: the command's; 1 when Xvfb, openbox, xdotool or xprop is missing, by name
# (scripts/setup.sh installs them), so that no desktop test is left out without a word.
# A test program asked only for its list of tests (--gtest_list_tests) runs without a desktop.
set -u
for a in "$@"; do
  [ "$a" = "--gtest_list_tests" ] && exec env QT_QPA_PLATFORM=offscreen "$@"
done
for p in Xvfb openbox xdotool xprop; do
  command -v "$p" > /dev/null 2>&1 || { echo "$p is missing: scripts/setup.sh installs it" >&2; exit 1; }
done

RUN=$(mktemp -d)
PIDS=""
cleanup() {
  for p in $PIDS; do kill "$p" 2> /dev/null; done
  wait 2> /dev/null
  rm -rf "$RUN"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

exec 3> "$RUN/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp > "$RUN/xvfb.log" 2>&1 &
PIDS="$PIDS $!"
n=0
while [ ! -s "$RUN/display" ]; do
  n=$((n + 1)); [ $n -gt 100 ] && { echo "Xvfb did not start"; cat "$RUN/xvfb.log"; exit 1; }
  sleep 0.1
done
exec 3>&-
export DISPLAY=":$(head -1 "$RUN/display")"
openbox --sm-disable > "$RUN/openbox.log" 2>&1 &
PIDS="$PIDS $!"
# openbox is up once it names itself on the root window.
n=0
while ! xprop -root _NET_SUPPORTING_WM_CHECK 2> /dev/null | grep -q "window id"; do
  n=$((n + 1)); [ $n -gt 100 ] && { echo "openbox did not start"; cat "$RUN/openbox.log"; exit 1; }
  sleep 0.1
done
# The session's own runtime folder, as a login gives one: programs of parallel sessions keep apart.
mkdir -m 700 "$RUN/runtime"
XDG_RUNTIME_DIR="$RUN/runtime" QT_QPA_PLATFORM=xcb "$@"
