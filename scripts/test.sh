#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine (in Xvfb).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${STELVANE_BUILD:-$root/build}"

"$root/scripts/setup.sh" >/dev/null
source "$root/scripts/configure.sh"
trap stop_wine EXIT

# Wine's desktop binds to the display it first sees: build and test inside one Xvfb session
# and stop the prefix's server afterwards, so that a later run starts on a live display.
stop_wine
reruns="$build/wine-crash-reruns.log"
rm -f "$reruns"
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -euo pipefail
    cmake --build "$1"
    ctest --test-dir "$1" -j "$(nproc)" --output-on-failure --timeout 600
' _ "$build" || status=$?
# A test that passed on its second run shows no output in CTest's report: name it here.
if [ -s "$reruns" ]; then
    echo "Run once more after Wine itself died at the program's end (scripts/rerun-after-wine-crash.pl):"
    cat "$reruns"
fi
exit "$status"
