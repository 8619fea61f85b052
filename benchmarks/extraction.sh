#!/usr/bin/env bash
# Measures the payload extraction on a payload of about 150 MB (inflated) made of 77 files:
# binaries, text and already-compressed data. Prints inflated MB/s of verify_payload and of
# extract_payload (write plus CRC read-back), the peak working set, and the host's
# `bzip2 -dc` on the same stream as the reference. Run scripts/test.sh (or run.sh) first.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${STELVANE_BUILD:-$root/build}"
work="${BENCH_DIR:-$build/bench}"
runs="${BENCH_RUNS:-2}"

cmake --build "$build" --target payload_builder payload_check >/dev/null
rm -rf "$work" && mkdir -p "$work/data"
list="$work/payload.list"
: > "$list"

add() {  # kind template file
    printf '%s\t%s\t%s\n' "$1" "$2" "$3" >> "$list"
}

# 30 binaries: the largest libraries and programs of the cross toolchain.
n=0
while IFS= read -r file && [ "$n" -lt 30 ]; do
    n=$((n + 1))
    cp "$file" "$work/data/bin$n-$(basename "$file")"
    add ordinary '<InstallPath>\bin' "data/bin$n-$(basename "$file")"
done < <(find /usr/lib/gcc/i686-w64-mingw32 /usr/i686-w64-mingw32/lib /usr/lib/wine /usr/lib/x86_64-linux-gnu -type f -size +800k -size -3M \
             \( -name '*.a' -o -name '*.dll' -o -name '*.exe' -o -name '*.so' \) -printf '%s %p\n' |
         sort -rn | cut -d' ' -f2- | head -n 30)

# 27 text files cut from the Boost headers, about 1.8 MB each.
find /usr/include/boost -name '*.hpp' -print0 | sort -z | xargs -0 cat > "$work/text.all"
for i in $(seq 1 27); do
    dd if="$work/text.all" of="$work/data/text$i.txt" bs=1M iflag=skip_bytes,count_bytes \
        skip=$(( (i - 1) * 1800000 )) count=1800000 status=none
    add ordinary '<InstallPath>\doc' "data/text$i.txt"
done
rm "$work/text.all"

# 20 files that do not compress: random bytes, about 2 MB each.
for i in $(seq 1 20); do
    dd if=/dev/urandom of="$work/data/packed$i.bin" bs=1000000 count=2 status=none
    add shared '<Temporary>\packed' "data/packed$i.bin"
done

WINEPREFIX="$build/wineprefix" "$build/wine-run.sh" "$build/tools/payload_builder.exe" "$list" "$work/payload.bz2" >/dev/null
inflated=$(du -cb "$work"/data/* | tail -n 1 | cut -f1)
stored=$(stat -c %s "$work/payload.bz2")
files=$(wc -l < "$list")

best() { sort -n | head -n 1; }
host_times=() verify_times=() extract_times=() peak=""
for run in $(seq 1 "$runs"); do
    start=$(date +%s.%N)
    bzip2 -dc "$work/payload.bz2" > /dev/null
    host_times+=("$(echo "$(date +%s.%N) - $start" | bc)")
    rm -rf "$work/install"
    out=$("$build/wine-run.sh" "$build/tools/payload_check.exe" --quiet "$work/payload.bz2" "$work/install")
    verify_times+=("$(echo "$out" | awk '/^verify ok/ {print $3}')")
    extract_times+=("$(echo "$out" | awk '/^extract ok/ {print $3}')")
    peak=$(echo "$out" | awk '/^peak working set/ {print $4}')
    echo "$out" | grep -q '^extract ok' || { echo "$out" | tail -n 5; exit 1; }
done
host=$(printf '%s\n' "${host_times[@]}" | best)
verify=$(printf '%s\n' "${verify_times[@]}" | best)
extract=$(printf '%s\n' "${extract_times[@]}" | best)
mb=$(echo "scale=1; $inflated / 1000000" | bc)

printf 'payload: %d files, %s MB inflated, %s MB stored (best of %d runs)\n' "$files" "$mb" "$(echo "scale=1; $stored / 1000000" | bc)" "$runs"
printf 'host bzip2 -dc:   %6.2f s  %6.1f MB/s\n' "$host" "$(echo "$mb / $host" | bc -l)"
printf 'verify_payload:   %6.2f s  %6.1f MB/s  %.2fx the host time (target 1.10x)\n' "$verify" "$(echo "$mb / $verify" | bc -l)" "$(echo "$verify / $host" | bc -l)"
printf 'extract_payload:  %6.2f s  %6.1f MB/s  %.2fx the host time (target 1.25x)\n' "$extract" "$(echo "$mb / $extract" | bc -l)" "$(echo "$extract / $host" | bc -l)"
rm -rf "$work/install"
small=$("$build/wine-run.sh" "$build/tools/payload_check.exe" --quiet "$build/resources/payload.bz2" "$work/install" |
        awk '/^peak working set/ {print $4}')
printf 'peak working set: %s MiB (target under 16 MiB); %s MiB for the %s-byte product payload\n' \
    "$peak" "$small" "$(stat -c %s "$build/resources/payload.bz2")"
WINEPREFIX="$build/wineprefix" wineserver -k >/dev/null 2>&1 || true
