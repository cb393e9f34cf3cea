#!/bin/sh
# Runs a test's command once the programs it needs are there; a missing one fails the test by name
# (scripts/setup.sh installs them all), so that no test is left out without a word.
#   require_programs.sh PROGRAM... -- COMMAND [ARGUMENT...]
set -u
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  command -v "$1" > /dev/null 2>&1 || { echo "$1 is missing: scripts/setup.sh installs it" >&2; exit 1; }
  shift
done
[ $# -gt 1 ] || { echo "require_programs.sh: no command after --" >&2; exit 2; }
shift
exec "$@"
