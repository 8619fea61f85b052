#!/usr/bin/env bash
# Extracts payloads of one record whose folder template is thousands of folders deep
# ("<InstallPath>\a\a\a...", and below the shared data folder, where every folder is made and
# checked through its handle: "<CommonData>\VandrelDeep\a\a..."), journalled as the installer
# does, and prints for each depth the time until the record was handled (created, or refused and
# rolled back) and the peak working set of the whole process (payload_check). DEEP_LEVELS sets
# the depths (default 1000 16000), DEEP_BASES the templates (default both).
# Run scripts/test.sh (or run.sh) first.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${STELVANE_BUILD:-$root/build}"
work="${BENCH_DIR:-$build/bench-deep}"
levels="${DEEP_LEVELS:-1000 16000}"
bases="${DEEP_BASES:-<InstallPath> <CommonData>\\VandrelDeep}"
shared="$build/wineprefix/drive_c/ProgramData/VandrelDeep"

export WINEPREFIX="$build/wineprefix"
# The build prefix's server, which the tools start, goes with the benchmark, however it ends.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
cmake --build "$build" --target payload_builder payload_check >/dev/null
rm -rf "$work" && mkdir -p "$work"
printf 'x' > "$work/deep.dat"

for base in $bases; do
for depth in $levels; do
    python3 -c "import sys; print('ordinary\t' + sys.argv[3] + '\\\\a' * int(sys.argv[1]) + '\t' + sys.argv[2])" \
        "$depth" "$work/deep.dat" "$base" > "$work/deep.list"
    "$build/wine-run.sh" "$build/tools/payload_builder.exe" "$work/deep.list" "$work/deep.bz2" >/dev/null
    rm -rf "$work/install" "$shared" && mkdir -p "$work/install"
    start=$(date +%s.%N)
    out=$("$build/wine-run.sh" "$build/tools/payload_check.exe" --quiet "$work/deep.bz2" "$work/install" || true)
    seconds=$(echo "$(date +%s.%N) - $start" | bc)
    outcome=$(echo "$out" | awk '/^extract / {print $2}')
    error=$(echo "$out" | awk '/^error / {sub(/:$/, "", $2); print $2}')
    named=$(echo "$out" | awk '/^error / {print (index($0, " -- ") ? "naming its file" : "naming no file")}')
    peak=$(echo "$out" | awk '/^peak working set/ {print $4}')
    left=$( (find "$work/install" "$shared" -mindepth 1 2>/dev/null || true) | wc -l)
    printf '%-24s %6d levels (%d bytes stored): %s%s in %.1f s, peak working set %s MiB, %d folders left afterwards\n' \
        "${base%%\\*}" "$depth" "$(stat -c %s "$work/deep.bz2")" "$outcome" "${error:+ (error $error, $named)}" "$seconds" "$peak" "$left"
done
done
rm -rf "$shared"
rm -rf "$work"
