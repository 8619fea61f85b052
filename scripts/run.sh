#!/usr/bin/env bash
# Installs what is missing, builds the installer and starts it under Wine: on the user's
# display, or under Xvfb with a screenshot saved to build/screenshot.png when there is none.
# With --screenshots it walks the wizard instead, under Xvfb in a Wine prefix of its own, and
# saves every page and the About box in English, German and Arabic to build/screenshots/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${STELVANE_BUILD:-$root/build}"

"$root/scripts/setup.sh" >/dev/null
source "$root/scripts/configure.sh"
# The build starts the build prefix's server (the payload builder runs under Wine), which would
# otherwise stay.
trap stop_wine EXIT

if [ "${1:-}" = "--screenshots" ]; then
    cmake --build "$build" --target stelvane_setup installer_e2e
    shots="$build/screenshots"
    rm -rf "$shots"
    mkdir -p "$shots"
    # The driver asks for each picture with the file "request" (name and screen area) and
    # goes on once the picture is saved and the request removed.
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        "$1" "$2" "$3" "$4" --screenshots "$5" &
        driver=$!
        while kill -0 "$driver" 2>/dev/null; do
            if [ -f "$5/request" ]; then
                read -r name area < "$5/request"
                import -window root -crop "$area" +repage "$5/$name.png"
                rm -f "$5/request"
            fi
            sleep 0.1
        done
        wait "$driver"
    ' _ "$root/tests/e2e/fresh_prefix.sh" "$build/screenshots-wineprefix" "$build/wine-run.sh" \
        "$build/tests/installer_e2e.exe" "$shots"
    echo "Screenshots in $shots:"
    ls "$shots"
    exit
fi

cmake --build "$build" --target stelvane_setup
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
