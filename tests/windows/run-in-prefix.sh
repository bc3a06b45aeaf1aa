#!/usr/bin/env bash
# Runs a test command with the environment of the tests' Wine prefix.
#   run-in-prefix.sh WINE_DIR COMMAND [ARGS...]
# A COMMAND ending in .exe runs through Wine; anything else runs as it is,
# with WINEPREFIX, DISPLAY and the rest exported for it.
set -euo pipefail
dir="${1:?wine folder}"
shift
# shellcheck disable=SC1091
source "$dir/env"
if [[ "$1" == *.exe ]]; then
  exec wine "$@"
fi
exec "$@"
