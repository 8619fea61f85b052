#!/usr/bin/env bash
# Runs a Windows program of the build in a Wine prefix made for this run alone: the prefix
# folder is removed first (wine-run.sh then makes and boots a new one) and the prefix's server
# is stopped at the end, whatever the program's outcome; the program's exit code is returned.
# Usage: fresh_prefix.sh PREFIX WINE_RUN PROGRAM [ARGUMENT...]
set -u
prefix="$1"
wine_run="$2"
shift 2

stop() {
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
}
stop
rm -rf "$prefix" "$prefix.lock"
trap stop EXIT
STELVANE_WINEPREFIX="$prefix" "$wine_run" "$@"
