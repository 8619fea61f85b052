#!/usr/bin/env bash
# Installs what building and testing the installer needs on Debian 12 and fetches the
# third-party sources that Debian ships only as source packages (libbzip2, Boost.Iostreams'
# bzip2 filter) into a cache outside the repository. Safe to run again: it skips what is there.
set -euo pipefail

cache="${STELVANE_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/stelvane-deps}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

packages=(
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
    cmake ninja-build file bzip2 bc dpkg-dev
    libboost1.81-dev libfmt-dev googletest
    libz-mingw-w64-dev wine wine32:i386 xvfb xauth imagemagick
)

missing() {
    local p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || return 0
    done
    return 1
}

enable_sources() {
    # apt-get source needs deb-src entries beside the binary ones.
    local src=/etc/apt/sources.list.d/stelvane-src.sources
    if ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        if [ -f /etc/apt/sources.list.d/debian.sources ]; then
            sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $sudo tee "$src" >/dev/null
        else
            printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm bookworm-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
                | $sudo tee "$src" >/dev/null
        fi
        return 0
    fi
    return 1
}

updated=0
if enable_sources; then updated=1; fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    updated=1
fi
if missing; then
    updated=1
fi
if [ "$updated" -eq 1 ]; then
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${packages[@]}"
fi

mkdir -p "$cache"
cd "$cache"
if [ ! -f bzip2/bzlib.c ]; then
    rm -rf bzip2 bzip2-*/
    apt-get source -q bzip2 >/dev/null
    mv "$(find . -maxdepth 1 -type d -name 'bzip2-1.0.8*' | head -n 1)" bzip2
fi
if [ ! -f boost-iostreams/bzip2.cpp ]; then
    rm -rf boost-src && mkdir -p boost-src boost-iostreams
    (cd boost-src && apt-get source --download-only -q boost1.81 >/dev/null)
    tar -xf "$(ls boost-src/boost1.81_*.orig.tar.* | head -n 1)" -C boost-src --wildcards '*/libs/iostreams/src/bzip2.cpp'
    cp "$(find boost-src -path '*libs/iostreams/src/bzip2.cpp' | head -n 1)" boost-iostreams/bzip2.cpp
    rm -rf boost-src
fi
echo "$cache"
