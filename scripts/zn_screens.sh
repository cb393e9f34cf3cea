#!/bin/sh
# Pictures of zn's windows as a user meets them: zn runs under Xvfb on a fresh program folder with
# outgoing rows, received rows, a waiting print job and two cover templates, and xdotool opens its
# windows from the keyboard. Usage (from the source folder, after a build):
#     sh scripts/zn_screens.sh [BUILD_FOLDER] OUTPUT_FOLDER
# Each picture is the whole screen (the windows have no frames: there is no window manager, unless
# ZN_SCREENS_WM names one to run, for example ZN_SCREENS_WM=openbox).
set -e
if [ $# -ge 2 ]; then B=$(cd "$1" && pwd); OUT=$2; else B=$(pwd)/build; OUT=$1; fi
[ -n "$OUT" ] || { echo "usage: $0 [BUILD] OUTPUT_FOLDER" >&2; exit 2; }
mkdir -p "$OUT"; OUT=$(cd "$OUT" && pwd)
RUN=$(mktemp -d)
export ZN_HOME="$RUN/home" ZN_WINDIR="$RUN/win"
mkdir -p "$ZN_HOME/SEND" "$ZN_HOME/Receive" "$ZN_WINDIR"
for n in 1 2; do
  seq 1 40 | sed "s/^/Line of document $n, row /" > "$RUN/doc$n.txt"
  "$B/tools/znfax/znfax" convert "$RUN/doc$n.txt" "$ZN_HOME/SEND/DOC0000$n.APF" > /dev/null
  "$B/tools/znfax/znfax" convert "$RUN/doc$n.txt" "$ZN_HOME/Receive/RCV0000$n.APF" > /dev/null
done
# The form tool leaves rows naming those files; the quick fax tool leaves the cover templates.
mkdir -p "$OUT/forms" "$OUT/quick_fax"
QT_QPA_PLATFORM=offscreen "$B/app/tests/app_form_shots" "$OUT/forms" > /dev/null 2>&1
QT_QPA_PLATFORM=offscreen "$B/app/tests/app_quick_fax_shots" "$OUT/quick_fax" > /dev/null 2>&1
"$B/tools/znfax/znfax" convert "$RUN/doc1.txt" "$ZN_HOME/SEND/FAX00001.APF" > /dev/null
printf '555-0177\r\nCarol Printer\r\nLetter printed to fax\r\n' > "$ZN_HOME/SEND/FAX00001.JFD"

cat > "$RUN/drive.sh" <<'DRIVE'
#!/bin/sh
B=$1; OUT=$2
shot() { sleep ${2:-1.2}; import -window root "$OUT/$1.png"; }
# Gives the keyboard to the newest shown window whose title matches.
focus() { sleep 1; w=$(xdotool search --onlyvisible --name "$1" | tail -1); [ -n "$w" ] && xdotool windowfocus --sync "$w"; }
key() { xdotool key --delay 150 "$@"; }
if [ -n "$ZN_SCREENS_WM" ]; then $ZN_SCREENS_WM > /dev/null 2>&1 & sleep 1; fi
"$B/app/zn" > "$OUT/zn.log" 2>&1 &
ZN=$!
sleep 4
focus '^Tarvel$'; shot main_outgoing
key alt+i; shot main_received; key alt+g
for m in f t h; do key alt+$m; shot menu_$m; key Escape Escape; done
key alt+h a; focus 'About'; shot about; key Return
focus '^Tarvel$'; key alt+t p; focus 'Preferences'; shot preferences
for i in 1 2 3 4 5 6 7 8; do key Return; shot preferences_$i 0.8; done
key alt+f; sleep 1; shot preferences_save_question; key n; sleep 1; key Escape
focus '^Tarvel$'; key alt+t b; focus 'Phone Book'; shot phone_book
key alt+n; focus 'Phone Book Editor'; xdotool type 'Ann Example'; key Tab; xdotool type '555-0123'
shot phone_book_editor; key Return
focus 'Phone Book Browser'; key alt+d; sleep 1; shot phone_book_delete_question; key Escape
focus 'Phone Book Browser'; key Escape
focus '^Tarvel$'; key alt+t l; focus 'Cleanup'; shot log_cleanup; key Escape
focus '^Tarvel$'; key alt+t c; focus 'Configuration'; shot configuration_report 3; key Escape
focus '^Tarvel$'; key alt+t q; focus 'Quick'; shot quick_analysis; key Escape
focus '^Tarvel$'; key alt+h Return; focus 'Quick-Start'; shot quick_start; key Escape
focus '^Tarvel$'; key ctrl+d; sleep 1; shot delete_question; key Escape
focus '^Tarvel$'; key ctrl+c; sleep 1; shot clone_question; key Escape
focus '^Tarvel$'; key ctrl+a; sleep 1; shot archive_question; key Escape
focus '^Tarvel$'; key ctrl+e; focus 'Fax Information Editor'; shot fax_editor; key Escape
focus '^Tarvel$'; key ctrl+o; focus 'Fax Cover Sheet Editor'; shot cover_editor 2; key Escape
focus '^Tarvel$'; key alt+t t; focus 'Designer'; shot designer 2
key alt+f o; focus 'Select'; shot designer_open 2; key Return
focus 'Designer'; shot designer_template 2
key alt+f a; focus 'Save fax cover template'; shot designer_save_as 2; key Escape
focus 'Designer'; key alt+x; sleep 1
focus '^Tarvel$'; key ctrl+v; focus 'Fax Viewer'; shot viewer 3
key alt+z; shot viewer_zoom_menu; key Escape Escape Escape
focus '^Tarvel$'; key alt+i; key alt+f p; sleep 2; shot print_without_printers; key Return
focus '^Tarvel$'; key ctrl+s; sleep 1; shot send_on_received_tab; key Return
focus '^Tarvel$'; key ctrl+x; sleep 2
kill $ZN 2> /dev/null || true
DRIVE
xvfb-run -a -s "-screen 0 1280x1024x24" sh "$RUN/drive.sh" "$B" "$OUT"
rm -rf "$RUN"
ls "$OUT"
