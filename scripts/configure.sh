# Sourced by the run and test scripts: configures the build folder and offers stop_wine.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null

stop_wine() {
    WINEPREFIX="$build/wineprefix" wineserver -k >/dev/null 2>&1 || true
}
