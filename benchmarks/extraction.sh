#!/usr/bin/env bash
# Measures the payload extraction against the host's `bzip2 -dc` on the same stored stream,
# on the product's payload and on a large one of about 150 MB in 77 files (large_corpus.sh).
#
# After a warm-up it runs interleaved pairs (host, then payload_check) and prints, for the
# dry run (verify_payload) and for the extraction (write plus CRC read-back), the median
# ratio to the host time with its min and max; then the peak working set of the whole process
# and the extractor's own share (peak minus the working set just before verification).
# Run scripts/test.sh (or run.sh) first. BENCH_PAIRS sets the number of pairs (at least 5).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${STELVANE_BUILD:-$root/build}"
work="${BENCH_DIR:-$build/bench}"
pairs="${BENCH_PAIRS:-7}"
[ "$pairs" -ge 5 ] || pairs=5
source "$root/benchmarks/large_corpus.sh"
source "$root/benchmarks/timing.sh"

export WINEPREFIX="$build/wineprefix"
# The build prefix's server, which the tools start, goes with the benchmark, however it ends.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
cmake --build "$build" --target payload_builder payload_check stelvane_setup >/dev/null
rm -rf "$work" && mkdir -p "$work"
list="$work/payload.list"
: > "$list"
make_large_corpus "$work" "$list"

"$build/wine-run.sh" "$build/tools/payload_builder.exe" "$list" "$work/payload.bz2" >/dev/null

# One run of payload_check over a fresh folder; prints "verify extract idle peak".
check() {
    rm -rf "$work/install"
    local out
    out=$("$build/wine-run.sh" "$build/tools/payload_check.exe" --quiet "$1" "$work/install")
    echo "$out" | grep -q '^extract ok' || { echo "$out" | tail -n 8 >&2; exit 1; }
    echo "$out" | awk '/^verify / {v = $2} /^extract ok/ {e = $3} /^working set before/ {i = $5} /^peak working set/ {p = $4}
                       END {print v, e, i, p}'
}

measure() {  # name payload
    local name=$1 payload=$2 inflated stored
    host "$payload" >/dev/null
    check "$payload" >/dev/null
    : > "$work/ratios"
    for _ in $(seq 1 "$pairs"); do
        local h
        h=$(host "$payload")
        read -r v e i p < <(check "$payload")
        echo "$h $v $e $i $p" >> "$work/ratios"
    done
    stored=$(stat -c %s "$payload")
    inflated=$(bzip2 -dc "$payload" | wc -c)
    printf '%s: %.1f MB inflated, %.1f MB stored, %d interleaved pairs after a warm-up\n' \
        "$name" "$(echo "$inflated / 1000000" | bc -l)" "$(echo "$stored / 1000000" | bc -l)" "$pairs"
    printf '  host bzip2 -dc      %s s\n' "$(awk '{print $1}' "$work/ratios" | stats)"
    printf '  verify_payload      %s s, ratio %s (target 1.05x)\n' \
        "$(awk '{print $2}' "$work/ratios" | stats)" "$(awk '{print $2 / $1}' "$work/ratios" | stats)"
    printf '  extract_payload     %s s, ratio %s (target 1.15x)\n' \
        "$(awk '{print $3}' "$work/ratios" | stats)" "$(awk '{print $3 / $1}' "$work/ratios" | stats)"
    printf '  peak working set    %s MiB; own share %s MiB (target 4 MiB)\n' \
        "$(awk '{print $5}' "$work/ratios" | stats)" "$(awk '{print $5 - $4}' "$work/ratios" | stats)"
}

measure "large payload ($(wc -l < "$list") files)" "$work/payload.bz2"
measure "product payload" "$build/resources/payload.bz2"
rm -rf "$work/install"
