#!/bin/sh
# Builds and tests the native target and, where their toolchains are
# installed, the i386 and PE32 targets. With CI=true a missing toolchain fails
# the run instead of skipping the target.
set -u
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
tested=""
skipped=""
failed=""

test_target() {
    name=$1
    directory=$2
    shift 2
    echo "=== $name: building in $directory"
    if cmake -S . -B "$directory" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null &&
        cmake --build "$directory" -j "$jobs" &&
        (cd "$directory" && ctest --output-on-failure -j "$jobs"); then
        tested="$tested $name"
    else
        failed="$failed $name"
    fi
}

skip_target() {
    if [ "${CI:-}" = true ]; then
        echo "=== $1: toolchain missing ($2)"
        failed="$failed $1"
    else
        skipped="$skipped $1 ($2);"
    fi
}

test_target x86-64 build

probe=$(mktemp -d)
if printf 'int main() {}\n' | g++ -m32 -static -x c++ - -o "$probe/probe" 2>/dev/null && "$probe/probe"; then
    test_target i386 build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux.cmake
else
    skip_target i386 "g++ -m32 cannot build and run a static program: install g++-multilib"
fi
rm -rf "$probe"

if ! command -v i686-w64-mingw32-g++-posix >/dev/null; then
    skip_target win32 "no i686-w64-mingw32-g++-posix: install g++-mingw-w64-i686"
elif ! command -v wine >/dev/null; then
    skip_target win32 "no wine to run PE32 programs: install wine and wine32:i386"
else
    test_target win32 build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
fi

echo "=== targets tested:${tested:- none}"
[ -z "$skipped" ] || echo "=== targets skipped: $skipped"
if [ -n "$failed" ]; then
    echo "=== targets failed:$failed"
    exit 1
fi
