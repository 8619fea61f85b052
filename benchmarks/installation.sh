#!/usr/bin/env bash
# Measures whole installations: the real installer, driven through its wizard as the
# end-to-end tests drive it (installer_e2e.exe --benchmark), installs into a fresh folder of a
# Wine prefix made for this benchmark, once with the product's payload (StelvaneSetup.exe) and
# once built again around a large payload (StelvaneSetupLarge.exe): the product's files and the
# extraction benchmark's corpus of about 150 MB in 77 files (large_corpus.sh).
#
# After a warm-up it runs interleaved pairs (the host's `bzip2 -dc` of the installer's stored
# stream, then one installation) and prints the median, min and max of the time from the
# Install click until the install page says that the installation has ended, and of its ratio
# to the host time; then the installer's peak working set and the installation's own share
# (the peak minus the idle wizard's working set just before the click).
# Run scripts/test.sh (or run.sh) first. BENCH_PAIRS sets the number of pairs (at least 5).
# BENCH_BASELINE names the build folder of another checkout: its installers then run too, in
# each pair right after this build's, and their times are printed below, measured under the
# same load as the change they are compared with.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${STELVANE_BUILD:-$root/build}"
# The wizard needs a display; Wine's desktop keeps to the one it first sees.
if [ -z "${BENCH_DISPLAY_READY:-}" ]; then
    BENCH_DISPLAY_READY=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
# The large installer's build takes its payload from here.
work="$build/bench-installation"
prefix="$build/bench-wineprefix"
pairs="${BENCH_PAIRS:-7}"
baseline="${BENCH_BASELINE:-}"
[ "$pairs" -ge 5 ] || pairs=5
source "$root/benchmarks/large_corpus.sh"
source "$root/benchmarks/timing.sh"

export WINEPREFIX="$build/wineprefix"
cmake --build "$build" --target payload_builder stelvane_setup installer_e2e >/dev/null
rm -rf "$work/data" && mkdir -p "$work"
list="$work/large-payload.list"
cp "$build/resources/payload.list" "$list"
make_large_corpus "$work" "$list"
"$build/wine-run.sh" "$build/tools/payload_builder.exe" "$list" "$work/large-payload.new" >/dev/null
# An unchanged payload keeps its time, and the large installer is not linked again.
if cmp -s "$work/large-payload.new" "$work/large-payload.bz2"; then
    rm "$work/large-payload.new"
else
    mv "$work/large-payload.new" "$work/large-payload.bz2"
fi
rm -rf "$work/data"
cmake --build "$build" --target stelvane_setup_large >/dev/null
large_setup="$build/benchmarks/StelvaneSetupLarge.exe"
if [ -n "$baseline" ]; then
    cmake --build "$baseline" --target stelvane_setup >/dev/null
    mkdir -p "$baseline/bench-installation"
    cmp -s "$work/large-payload.bz2" "$baseline/bench-installation/large-payload.bz2" ||
        cp "$work/large-payload.bz2" "$baseline/bench-installation/large-payload.bz2"
    cmake --build "$baseline" --target stelvane_setup_large >/dev/null
fi

# The benchmark's prefix, and the build prefix's server that the payload builder started.
stop() {
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="$build/wineprefix" wineserver -k >/dev/null 2>&1 || true
}
stop
rm -rf "$prefix" "$prefix.lock"
trap stop EXIT

# One installation; prints "seconds idle peak".
installation() {
    STELVANE_WINEPREFIX="$prefix" "$build/wine-run.sh" "$build/tests/installer_e2e.exe" --benchmark "$1" 'C:\Bench\Stelvane 8'
}

measure() {  # name setup stored-stream [baseline-setup]
    local name=$1 setup=$2 stream=$3 base_setup=${4:-} inflated
    host "$stream" >/dev/null
    installation "$setup" >/dev/null
    [ -z "$base_setup" ] || installation "$base_setup" >/dev/null
    : > "$work/runs"
    for _ in $(seq 1 "$pairs"); do
        local h run base=""
        h=$(host "$stream")
        run=$(installation "$setup")
        [ -z "$base_setup" ] || base=$(installation "$base_setup")
        echo "$h $run $base" >> "$work/runs"
    done
    inflated=$(bzip2 -dc "$stream" | wc -c)
    printf '%s: %.1f MB inflated, %.1f MB stored, %d interleaved pairs after a warm-up\n' \
        "$name" "$(echo "$inflated / 1000000" | bc -l)" "$(echo "$(stat -c %s "$stream") / 1000000" | bc -l)" "$pairs"
    printf '  host bzip2 -dc      %s s\n' "$(awk '{print $1}' "$work/runs" | stats)"
    printf '  installation        %s s, ratio %s (target 2.25x)\n' \
        "$(awk '{print $2}' "$work/runs" | stats)" "$(awk '{print $2 / $1}' "$work/runs" | stats)"
    printf '  idle wizard         %s MiB\n' "$(awk '{print $3 / 1048576}' "$work/runs" | stats)"
    printf '  peak working set    %s MiB; own share %s MiB (target 4 MiB)\n' \
        "$(awk '{print $4 / 1048576}' "$work/runs" | stats)" "$(awk '{print ($4 - $3) / 1048576}' "$work/runs" | stats)"
    if [ -n "$base_setup" ]; then
        printf '  baseline            %s s, ratio %s\n' \
            "$(awk '{print $5}' "$work/runs" | stats)" "$(awk '{print $5 / $1}' "$work/runs" | stats)"
        printf '  against baseline    %s\n' "$(awk '{print $2 / $5}' "$work/runs" | stats)"
    fi
}

measure "product payload" "$build/StelvaneSetup.exe" "$build/resources/payload.bz2" \
    "${baseline:+$baseline/StelvaneSetup.exe}"
measure "large payload ($(grep -c . "$list") files)" "$large_setup" "$work/large-payload.bz2" \
    "${baseline:+$baseline/benchmarks/StelvaneSetupLarge.exe}"
