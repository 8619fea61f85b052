# Sourced by the benchmarks: make_large_corpus FOLDER LIST copies the large corpus of about
# 150 MB in 77 files into FOLDER/data and appends its lines (kind, folder template, file
# relative to the list's folder) to LIST. The files are taken by a fixed list from what
# scripts/setup.sh installs, so the corpus is the same on every machine: Wine's and the cross
# toolchain's binaries, the Boost headers as text, and a sixth already compressed.
make_large_corpus() {
    local work=$1 list=$2
    local wine_dlls=/usr/lib/i386-linux-gnu/wine/i386-windows
    local gcc_lib=/usr/lib/gcc/i686-w64-mingw32/12-posix
    mkdir -p "$work/data"
    add() {  # kind template file
        printf '%s\t%s\t%s\n' "$1" "$2" "$3" >> "$list"
    }

    # 26 binaries, about 82 MB.
    local file
    for file in \
        $wine_dlls/{msvcp60,msvcp70,msvcp71,msvcp80,msvcp90,msvcp100,msvcp110,msvcp120,msvcp140}.dll \
        $wine_dlls/{msvcr70,msvcr80,msvcr90,msvcr100,msvcr110,msvcr120}.dll \
        $wine_dlls/{ucrtbase,msvcrt,crypt32,ntdll,urlmon,d3d11,dwrite,ddraw,ieframe}.dll \
        $gcc_lib/libstdc++.a /usr/i686-w64-mingw32/lib/libmincore.a; do
        cp "$file" "$work/data/"
        add ordinary '<InstallPath>\bin' "data/$(basename "$file")"
    done

    # 31 text files of 1.3 MB cut from the Boost headers in name order, about 40 MB.
    find /usr/include/boost -name '*.hpp' -print0 | LC_ALL=C sort -z | xargs -0 cat > "$work/text.all"
    local i
    for i in $(seq 1 31); do
        dd if="$work/text.all" of="$work/data/text$i.txt" bs=1M iflag=skip_bytes,count_bytes \
            skip=$(( (i - 1) * 1300000 )) count=1300000 status=none
        add ordinary '<InstallPath>\doc' "data/text$i.txt"
    done
    rm "$work/text.all"

    # 20 files already compressed (gzip -9n is deterministic), about 25 MB.
    local n
    for n in $(seq 24 43); do
        gzip -9nc "$wine_dlls/d3dx9_$n.dll" > "$work/data/d3dx9_$n.dll.gz"
        add shared '<Temporary>\packed' "data/d3dx9_$n.dll.gz"
    done
}
