#!/usr/bin/env bash
# Installs what is missing, builds the installer and starts it under Wine: on the user's
# display, or under Xvfb with a screenshot saved to build/screenshot.png when there is none.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${STELVANE_BUILD:-$root/build}"

"$root/scripts/setup.sh" >/dev/null
source "$root/scripts/configure.sh"
cmake --build "$build" --target stelvane_setup
trap stop_wine EXIT
stop_wine

setup="$build/StelvaneSetup.exe"
if [ -n "${DISPLAY:-}" ]; then
    "$build/wine-run.sh" "$setup"
    exit
fi

shot="$build/screenshot.png"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$1" "$2" &
    program=$!
    sleep "${STELVANE_SCREENSHOT_DELAY:-8}"
    import -window root "$3"
    kill "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
' _ "$build/wine-run.sh" "$setup" "$shot"
echo "No display: the installer ran under Xvfb; screenshot in $shot"
