#!/usr/bin/env bash
# The whole fault matrix: every file that an installation over a previous one writes, made to
# fail in every way that fits it, every later step, and every damaged payload (more than 500),
# each run through the built installer under Wine in a prefix of its own whose drive F: is a
# small disk (a tmpfs, which needs root). scripts/test.sh runs a fixed subset of it. The table
# of the runs goes to build/fault-report-every.txt; GoogleTest's flags are passed on.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${STELVANE_BUILD:-$root/build}"

"$root/scripts/setup.sh" >/dev/null
source "$root/scripts/configure.sh"
trap stop_wine EXIT
cmake --build "$build" --target installer_faults
start=$SECONDS
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/tests/e2e/fault_prefix.sh" "$build/faults-wineprefix" \
    "$build/wine-run.sh" "$build/tests/installer_faults.exe" --every "--report=$build/fault-report-every.txt" "$@" \
    || status=$?
echo "The whole fault matrix took $((SECONDS - start)) s; its table: $build/fault-report-every.txt"
exit "$status"
