# Sourced by the benchmarks: the host's own decoding as the yardstick, and the summary of a run.

# Seconds that the host's `bzip2 -dc` takes over a stored stream.
host() {
    local start
    start=$(date +%s.%N)
    bzip2 -dc "$1" > /dev/null
    echo "$(date +%s.%N) - $start" | bc
}

# median, min and max of the numbers on standard input
stats() { sort -g | awk '{v[NR] = $1} END {m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.3f (min %.3f, max %.3f)", m, v[1], v[NR]}'; }
