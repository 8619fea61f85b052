# Sourced by the run and test scripts: configures the build folder and offers stop_wine.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null

# The build's prefix, and those that the end-to-end and fault tests, the screenshots and the
# installation benchmark make for a run (stopped here too when such a run was cut short).
stop_wine() {
    local prefix
    for prefix in "$build/wineprefix" "$build/e2e-wineprefix" "$build/e2e-concurrency-wineprefix" \
        "$build/screenshots-wineprefix" "$build/bench-wineprefix" "$build/faults-wineprefix"; do
        if [ -d "$prefix" ]; then
            WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
        fi
    done
}
