#!/bin/sh
# A user's walk through sending, on a desktop with a window manager: zn runs under Xvfb with openbox
# on a fresh program folder holding two printed faxes, its modem is the fax line test bed (spandsp's
# fax terminal answers one number and lets another ring), and xdotool works the windows with the
# keyboard and the mouse as a user would:
#   1. the first fax is sent and arrives at the far end;
#   2. the second number rings; the Fax Status window shows above the send dialog, and a click on
#      its Cancel ends the call within a second, leaving the port free and the row marked cancelled.
# Usage (from the source folder, after a build):
#     sh scripts/send_cancel_walk.sh [BUILD_FOLDER] [SCREENSHOT_FOLDER]
# ZN_WALK_WM=none walks the bare X server, without a window manager.
# Exit status 0: passed; 77: Xvfb, openbox or xdotool is missing (skipped); anything else: failed.
set -u
B=$(cd "${1:-build}" && pwd)
SHOTS=${2:-}
for p in Xvfb openbox xdotool /usr/bin/python3; do
  command -v "$p" > /dev/null 2>&1 || { echo "skipped: $p is not installed (scripts/setup.sh installs it)"; exit 77; }
done

RUN=$(mktemp -d)
PIDS=""
cleanup() {
  for p in $PIDS; do kill "$p" 2> /dev/null; done
  wait 2> /dev/null
  rm -rf "$RUN"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; shot failure; xdotool search --onlyvisible --name "." getwindowname %@ 2> /dev/null; [ -f "$RUN/zn.log" ] && tail -20 "$RUN/zn.log"; exit 1; }
# Waits up to $2 seconds for $1 to succeed.
until_ok() { n=0; while ! eval "$1" > /dev/null 2>&1; do n=$((n + 1)); [ $n -gt $(($2 * 10)) ] && return 1; sleep 0.1; done; }
shot() { [ -n "$SHOTS" ] && import -display "$DISPLAY" -window root "$SHOTS/$1.png"; }

# The desktop: our own display, a window manager.
exec 3> "$RUN/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp > "$RUN/xvfb.log" 2>&1 &
PIDS="$PIDS $!"
until_ok "[ -s $RUN/display ]" 10 || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$RUN/display")"
if [ "${ZN_WALK_WM:-openbox}" != none ]; then
  openbox --sm-disable > "$RUN/openbox.log" 2>&1 &
  OPENBOX=$!
  PIDS="$PIDS $OPENBOX"
  sleep 1
  kill -0 "$OPENBOX" 2> /dev/null || fail "openbox did not start"
fi

# The lines: the fax terminal answers the first call; the second number rings on a modem pair where
# nobody answers. COM1 is a link to the line of the moment; the port's lock file is named after the
# link: a name of this run's own.
LINK="walk$$"
"$B/tests/faxline/faxline" answer --speed 4 --rx-file "$RUN/rx.tif" "$RUN/terminal" \
  > "$RUN/faxline1.out" 2> "$RUN/faxline1.err" &
PIDS="$PIDS $!"
"$B/tests/faxline/faxline" pair "$RUN/ringing" "$RUN/unanswered" > "$RUN/faxline2.out" 2> "$RUN/faxline2.err" &
PIDS="$PIDS $!"
until_ok "grep -q READY $RUN/faxline1.out && grep -q READY $RUN/faxline2.out" 10 || fail "the test bed did not start"
ln -s "$RUN/terminal" "$RUN/$LINK"

# A fresh program folder with the modem on COM1 and two faxes printed to it.
# zn runs once per user session: this walk is a session of its own beside any other zn.
export ZN_HOME="$RUN/home" ZN_WINDIR="$RUN/win" ZN_COM1="$RUN/$LINK" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$RUN/runtime"
mkdir -p "$ZN_HOME/SEND" "$ZN_HOME/Receive" "$ZN_WINDIR"
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '[Modem]\r\nComPort=0\r\nFaxClass=1\r\nMaximumBPS=14400\r\n[Dialing]\r\nDialAttempts=1\r\n' > "$ZN_HOME/ZN.INI"
n=1
for number in 5550199 5550177; do # the list shows the newer job first
  seq 1 60 | sed "s/^/Printed page text, line /" > "$RUN/doc$n.txt"
  "$B/tools/znfax/znfax" convert "$RUN/doc$n.txt" "$ZN_HOME/SEND/FAX0000$n.APF" > /dev/null || fail "znfax convert"
  printf '%s\r\nFar End %s\r\nWalk fax %s\r\n' "$number" "$n" "$n" > "$ZN_HOME/SEND/FAX0000$n.JFD"
  n=$((n + 1))
done

"$B/app/zn" > "$RUN/zn.log" 2>&1 &
ZN=$!
PIDS="$PIDS $ZN"
window() { xdotool search --onlyvisible --name "$1" 2> /dev/null | tail -1; }
focus() { until_ok "[ -n \"\$(window '$1')\" ]" "${2:-10}" || fail "no window '$1'"; w=$(window "$1"); xdotool windowactivate --sync "$w" 2> /dev/null || xdotool windowfocus --sync "$w"; sleep 0.3; }
key() { xdotool key --delay 100 "$@"; }

# 1. The first row: Send, then Send Fax Now; the fax goes through.
focus '^Tarvel$' 20
key ctrl+Home ctrl+s
focus '^Send Fax$'
key alt+s
# Pictures of the call as it goes, every two seconds, until zn says the fax went.
i=0
while [ -z "$(window '^Information$')" ]; do
  i=$((i + 1)); [ $i -gt 60 ] && fail "the first fax was not sent"
  sleep 2; shot "sending_$i"
done
focus '^Information$'
key Return
focus '^Send Fax$'
key Escape
until_ok "[ -z \"\$(window '^Send Fax$')\" ]" 5 || fail "the send dialog did not close"
pages=$(tiffinfo "$RUN/rx.tif" 2> /dev/null | grep -c 'TIFF Directory')
[ "$pages" -ge 1 ] || fail "the far end received nothing"

# 2. The second row rings: the status window is above the dialog and its Cancel ends the call.
ln -sfn "$RUN/ringing" "$RUN/$LINK"
focus '^Tarvel$'
# A click into the list gives it the keyboard; Down then goes to the second row.
xdotool mousemove --window "$(window '^Tarvel$')" 150 100 click 1
sleep 0.3
key Down ctrl+s
focus '^Send Fax$'
key alt+s
until_ok "[ -n \"\$(window '^Fax Status$')\" ]" 20 || fail "no Fax Status window"
sleep 3 # dialing, ringing
shot send_dialog_with_status_window
[ -z "$(window '^Fax Failure$')" ] || fail "the second call ended before it was cancelled"
status=$(window '^Fax Status$')
eval "$(xdotool getwindowgeometry --shell "$status")"
# Cancel sits at the bottom middle of the status window; the click lands on whatever is on top there.
start=$(date +%s%N)
xdotool mousemove --window "$status" "$((WIDTH / 2))" "$((HEIGHT - 17))" click 1
until_ok "[ -n \"\$(window '^Fax Failure$')\" ]" 10 || fail "Cancel in the status window did not end the call"
took=$(( ($(date +%s%N) - start) / 1000000 ))
shot cancelled
echo "the call ended ${took} ms after the click"
[ "$took" -lt 1000 ] || fail "the call took ${took} ms to end"
[ ! -e "/var/lock/LCK..$LINK" ] || fail "the port is still locked after the call ended"
focus '^Fax Failure$'
key Return
focus '^Send Fax$'
key Escape
until_ok "[ -z \"\$(window '^Send Fax$')\" ]" 5 || fail "the send dialog did not close"
sleep 1

# The rows as the table holds them.
/usr/bin/python3 - "$ZN_HOME" <<'PY' || fail "the rows do not record the walk"
import sys, os, dbfread
home = sys.argv[1]
name = next(f for f in os.listdir(home) if f.upper() == "ZNOUT.DBF")
rows = {r["PHONE"].strip(): (r["LASTRESULT"] or "").strip() for r in dbfread.DBF(os.path.join(home, name))}
print(rows)
assert rows["5550177"] == "Sent", rows
assert rows["5550199"] == "Fax cancelled by the user or disconnected by the remote fax", rows
PY
key ctrl+x 2> /dev/null
echo "passed"
