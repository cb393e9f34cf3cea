#!/bin/sh
# Checks the README's set-up as desktop users meet it, on this machine's own CUPS (run as root on a
# Debian 12 machine where `sh scripts/setup.sh` has run; it changes the machine as `run` does):
#   1. an ordinary user with sudo rights, in a desktop session of their own (Xvfb and openbox, their
#      /run/user folder), types the README's `sh scripts/setup.sh run` in their own copy of this
#      tree; afterwards their znptf and zn run on their display, and a job they print with `lp`
#      goes through the job dialog (answered with xdotool) into a row of their zn's outgoing table;
#      the same through `sudo sh scripts/setup.sh run` leaves their parts theirs;
#   2. root runs `run` for nobody's desktop: it says the one command each user types; a second user,
#      without sudo rights, types it in their session and gets the same.
# Usage: sh scripts/desktop_setup_check.sh    (exit 0 when every check passed)
set -eu
cd "$(dirname "$0")/.."
SRC=$(pwd)
[ "$(id -u)" -eq 0 ] || { echo "check: run as root (it makes test users and a sudo rule)" >&2; exit 2; }
command -v sudo > /dev/null 2>&1 || DEBIAN_FRONTEND=noninteractive apt-get install -y -q sudo > /dev/null

WORK=$(mktemp -d)
chmod 0755 "$WORK"
STARTED=""   # processes this check started, ended by id at the end
SUDOERS=/etc/sudoers.d/zn-desktop-check
failures=0
cleanup() {
  for p in $STARTED; do kill "$p" 2> /dev/null || true; done
  rm -f "$SUDOERS"
  rm -rf "$WORK"
}
trap cleanup EXIT

ok() { echo "check: ok: $*"; }
fail() { echo "check: FAILED: $*" >&2; failures=$((failures + 1)); }
# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  t=$1; shift
  while [ "$t" -gt 0 ]; do
    "$@" > /dev/null 2>&1 && return 0
    sleep 1; t=$((t - 1))
  done
  return 1
}

# A user with a home of their own (mode 0700, as Debian 12 makes them) and a runtime folder as
# their login would have.
make_user() {
  id "$1" > /dev/null 2>&1 || useradd --create-home --user-group --shell /bin/sh "$1"
  chmod 0700 "$(getent passwd "$1" | cut -d: -f6)"
  uid=$(id -u "$1")
  install -d -m 0700 -o "$1" -g "$1" "/run/user/$uid"
  # As a new user: no program folder, settings or desktop entries of an earlier check.
  home=$(getent passwd "$1" | cut -d: -f6)
  rm -rf "$home/.local/share/tarvel" "$home/.config/tarvel" "$home/.local/share/applications/tarvel-"* \
    "$home/.config/autostart/tarvel-"*
}

# The user's desktop session: an X server of their own with openbox. Sets DISPLAY_OF_SESSION.
start_session() {
  user=$1
  in_session --bg "$user" Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp > "$WORK/$user.display" 2> /dev/null &
  STARTED="$STARTED $!"
  wait_for 20 test -s "$WORK/$user.display" || { fail "$user's X server did not start"; return 1; }
  DISPLAY_OF_SESSION=:$(head -1 "$WORK/$user.display")
  in_session --bg "$user" openbox > /dev/null 2>&1 &
  STARTED="$STARTED $!"
  wait_for 20 in_session "$user" sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
}

# A command as the user, in their session's environment only. With --bg first it takes the place of
# the background shell that runs it, so that $! names the command itself.
DISPLAY_OF_SESSION=""
in_session() {
  how=""
  [ "$1" = --bg ] && { how=exec; shift; }
  user=$1; shift
  home=$(getent passwd "$user" | cut -d: -f6)
  $how setpriv --reuid="$user" --regid="$user" --init-groups env -i HOME="$home" USER="$user" LOGNAME="$user" \
    SHELL=/bin/sh PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 DISPLAY="$DISPLAY_OF_SESSION" \
    XDG_RUNTIME_DIR="/run/user/$(id -u "$user")" "$@"
}

# The user's own znptf or zn running on their display: its process id, else nothing.
program_on_display() {
  user=$1 program=$2
  for p in $(pgrep -u "$user" -x "$program"); do
    tr '\0' '\n' < "/proc/$p/environ" | grep -qx "DISPLAY=$DISPLAY_OF_SESSION" && { echo "$p"; return 0; }
  done
  return 1
}

# Prints a text as the user and answers its job dialog; then zn's outgoing rows must hold it.
print_and_find_row() {
  user=$1 subject=$2
  home=$(getent passwd "$user" | cut -d: -f6)
  wait_for 30 test -f "$home/.config/tarvel/ZNPD.INI" || { fail "$user's zn wrote no ZNPD.INI"; return 1; }
  printf 'A letter printed by %s.\n' "$user" > "$WORK/$user.txt"
  chmod 0644 "$WORK/$user.txt"
  in_session "$user" lp -d TarvelFax -t "$subject" "$WORK/$user.txt" > /dev/null \
    || { fail "$user's lp job was refused"; return 1; }
  if ! wait_for 90 in_session "$user" xdotool search --onlyvisible --name '^Tarvel NT Print To Fax$'; then
    fail "no job dialog came up on $user's display"; lpstat -l -p TarvelFax >&2 || true; return 1
  fi
  w=$(in_session "$user" xdotool search --onlyvisible --name '^Tarvel NT Print To Fax$' | tail -1)
  in_session "$user" xdotool windowactivate --sync "$w"
  in_session "$user" xdotool type --delay 30 "555-0100"
  in_session "$user" xdotool key Tab
  in_session "$user" xdotool type --delay 30 "$user"
  in_session "$user" xdotool key Tab
  in_session "$user" xdotool type --delay 30 "$subject"
  in_session "$user" xdotool key Return
  wait_for 30 in_session "$user" xdotool search --onlyvisible --name '^FAX CREATED$' || { fail "no FAX CREATED box"; return 1; }
  w=$(in_session "$user" xdotool search --onlyvisible --name '^FAX CREATED$' | tail -1)
  in_session "$user" xdotool windowactivate --sync "$w"
  in_session "$user" xdotool key Return
  want="FAX00000.APF|555-0100|$user|$subject"
  table=$home/.local/share/tarvel/ZNOUT.DBF
  if wait_for 30 row_is "$table" "$want"; then
    ok "$user's printed job is the row \"$want\" of their zn's outgoing table"
  else
    fail "$user's zn lists: $(rows "$table" 2>&1 | tr '\n' ' ') (wanted $want)"
  fi
}

# The rows of an outgoing table, read with dbfread: file, number, recipient, subject.
rows() {
  /usr/bin/python3 -c 'import sys, dbfread
for r in dbfread.DBF(sys.argv[1]): print("|".join(r[f] for f in ("FAXDOC", "PHONE", "RECIPIENT", "SUBJECT")))' "$1"
}
row_is() { [ "$(rows "$1")" = "$2" ]; }

check_session_programs() {
  user=$1
  for program in znptf zn; do
    if p=$(program_on_display "$user" "$program"); then
      STARTED="$STARTED $p"
      ok "$user's $program runs on $DISPLAY_OF_SESSION (process $p)"
    else
      fail "$user's $program does not run on $DISPLAY_OF_SESSION"
    fi
  done
  home=$(getent passwd "$user" | cut -d: -f6)
  for entry in .local/share/applications/tarvel-zn.desktop .config/autostart/tarvel-znptf.desktop; do
    [ -f "$home/$entry" ] && [ "$(stat -c %U "$home/$entry")" = "$user" ] && ok "$user has $entry" \
      || fail "$user lacks $entry"
  done
}

# 1. A desktop user with sudo rights types the README's command in their own copy of the tree.
make_user zndesk
echo "zndesk ALL=(ALL) NOPASSWD: ALL" > "$SUDOERS"
chmod 0440 "$SUDOERS"
home=$(getent passwd zndesk | cut -d: -f6)
rm -rf "$home/zn"
install -d -o zndesk -g zndesk "$home/zn"
git -C "$SRC" archive --format=tar HEAD | runuser -u zndesk -- tar -x -C "$home/zn"
start_session zndesk
echo "check: zndesk types: sh scripts/setup.sh run (the build takes a while)"
if in_session zndesk sh -c 'cd "$HOME/zn" && sh scripts/setup.sh run' > "$WORK/zndesk.log" 2>&1; then
  ok "setup.sh run ended well for zndesk"
else
  fail "setup.sh run failed for zndesk:"; tail -20 "$WORK/zndesk.log" >&2
fi
[ "$(stat -c %U "$home/zn/build/app/zn")" = zndesk ] && ok "zndesk's build is zndesk's" || fail "zndesk's build is not theirs"
[ ! -e "$home/zn/build/ptf/ptf_print_job_test" ] && ok "run built no test programs" || fail "run built the tests"
[ "$(stat -c '%a %U' "$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)/backend/tarvelfax")" = "700 root" ] && ok "the backend is root's, mode 0700" \
  || fail "the backend is not installed as root's, mode 0700"
check_session_programs zndesk
print_and_find_row zndesk "Offer printed by zndesk"

# 1b. The same user starting it through sudo: what is theirs is still made as them.
rm -f "$home/.local/share/applications/tarvel-"* "$home/.config/autostart/tarvel-"*
if in_session zndesk sh -c 'cd "$HOME/zn" && sudo sh scripts/setup.sh run' > "$WORK/zndesk-sudo.log" 2>&1; then
  ok "sudo sh scripts/setup.sh run ended well for zndesk"
else
  fail "sudo sh scripts/setup.sh run failed for zndesk:"; tail -20 "$WORK/zndesk-sudo.log" >&2
fi
[ -z "$(find "$home/zn/build" "$home/.local" "$home/.config" ! -user zndesk | head -1)" ] \
  && ok "through sudo, zndesk's build, menu and autostart stay theirs" \
  || fail "through sudo, root left files in zndesk's home: $(find "$home/zn/build" "$home/.local" "$home/.config" ! -user zndesk | head -3)"
check_session_programs zndesk

# 2. Root alone: it says what each user types, and that one command sets a user up.
env -u SUDO_USER sh scripts/setup.sh run > "$WORK/root.log" 2>&1 || { fail "setup.sh run as root failed"; tail -20 "$WORK/root.log" >&2; }
command=$(sed -n 's/^    \(sh .*zn_desktop.sh setup\)$/\1/p' "$WORK/root.log")
[ -n "$command" ] && ok "run by root it says: $command" || { fail "run by root names no command for the users"; cat "$WORK/root.log" >&2; }
make_user zndesk2
start_session zndesk2
if [ -n "$command" ] && in_session zndesk2 sh -c "$command" > "$WORK/zndesk2.log" 2>&1; then
  ok "zndesk2 typed: $command"
else
  fail "zndesk2's command failed"; cat "$WORK/zndesk2.log" >&2 || true
fi
check_session_programs zndesk2
print_and_find_row zndesk2 "Note printed by zndesk2"

[ "$failures" -eq 0 ] && echo "check: all passed" || echo "check: $failures failed" >&2
[ "$failures" -eq 0 ]
