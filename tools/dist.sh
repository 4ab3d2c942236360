#!/bin/sh
# Builds every program for every target, programs only (no GoogleTest, no
# test suite), and gathers them in OUTPUT as NAME-VERSION-TARGET beside a
# README.txt and a SHA256SUMS that `sha256sum -c` reads.
# Usage: dist.sh OUTPUT BUILD_ROOT
set -eu
cd "$(dirname "$0")/.."
output=$(realpath -m "$1")
root=$2
jobs=${JOBS:-2}

build() {
    target=$1
    shift
    echo "=== dist: $target in $root/$target"
    cmake -S . -B "$root/$target" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "$@" >/dev/null
    cmake --build "$root/$target" -j "$jobs"
    cmake --install "$root/$target" --component dist --prefix "$output" >/dev/null
}

rm -rf "$output"
build linux-x86_64
build linux-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux.cmake
build windows-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
cd "$output"
find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort | xargs sha256sum -- >SHA256SUMS
echo "=== dist: $output"
cat SHA256SUMS
