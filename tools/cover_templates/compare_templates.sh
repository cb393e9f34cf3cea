#!/bin/sh
# compare_templates.sh MAKER SCRATCH_FOLDER SHIPPED_FOLDER: makes the templates again and compares.
set -e
MAKER=$1; MADE=$2; SHIPPED=$3
rm -rf "$MADE"
QT_QPA_PLATFORM=offscreen "$MAKER" "$MADE" 2> /dev/null
[ "$(ls "$MADE")" = "$(ls "$SHIPPED")" ] || { echo "files differ:"; ls "$MADE" "$SHIPPED"; exit 1; }
for f in "$SHIPPED"/*; do
  n=$(basename "$f")
  case "$n" in
    *.bmp) cmp -n 62 "$f" "$MADE/$n"
           [ "$(wc -c < "$f")" = "$(wc -c < "$MADE/$n")" ] || { echo "$n: size differs"; exit 1; } ;;
    *) cmp "$f" "$MADE/$n" ;;
  esac
done
