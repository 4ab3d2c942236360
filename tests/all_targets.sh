#!/bin/sh
# Builds and tests the native target and, where their toolchains are
# installed, the i386 and PE32 targets, and closes with a summary that names
# every target and how it was tested: natively, under an emulator, or built
# and checked without running its programs. With CI=true a target that cannot
# be built fails the run instead of being skipped.
#
# Where the kernel runs no 32-bit programs (IA-32 emulation is off), the i386
# suite runs under qemu-i386, if installed, with the assertions that hold on
# real hardware alone skipped by name; wine, whose loader is an i386 program,
# cannot start either, so the PE32 target is built and checked only by what
# reads its files. With TARGETS_SUMMARY set, the summary is also written there.
set -u
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
summary=""
failed=""
no_32_bit="this kernel runs no 32-bit programs (IA-32 emulation is off)"
skip_mark="skipped under emulation: "
# Each target skipped is named with the command that adds what it lacks.
install="sudo bash .ci/install_packages.sh"

report() {
    summary="$summary=== $1
"
}

fail() {
    report "$1: FAILED: $2"
    failed="$failed $1"
}

# NAME DIRECTORY CMAKE_OPTION...
build_target() {
    echo "=== $1: building in $2"
    directory=$2
    shift 2
    cmake -S . -B "$directory" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null && cmake --build "$directory" -j "$jobs"
}

# DIRECTORY CTEST_OPTION... A suite that runs no test fails: ctest alone
# would say "No tests were found" and succeed.
run_suite() {
    directory=$1
    shift
    (cd "$directory" && ctest --output-on-failure --no-tests=error -j "$jobs" "$@")
}

# A target that cannot be built here: skipped, or with CI=true a failure.
skip_target() {
    echo "=== $1: $2"
    if [ "${CI:-}" = true ]; then
        fail "$1" "$2"
    else
        report "$1: skipped: $2"
    fi
}

# What the native suite needs is installed first, or the run stops here
# naming the command that installs it.
sh tests/native_packages.sh || exit 1

build_target x86-64 build
built=$?
# Without the JSON library, CLI11 or xbyak CMake builds no target's test
# suite, for every target takes those headers from this machine: the run
# stops here, naming what it lacks. A host without dpkg gets this far.
lacking=""
for found in NLOHMANN_JSON_INCLUDE_DIR:nlohmann-json3-dev CLI11_INCLUDE_DIR:libcli11-dev XBYAK_INCLUDE_DIR:libxbyak-dev; do
    if grep -qs "^${found%%:*}:PATH=.*NOTFOUND\$" build/CMakeCache.txt; then
        lacking="$lacking ${found#*:}"
    fi
done
if [ -n "$lacking" ]; then
    echo "=== the test suites need headers that CMake did not find; add them with: $install$lacking"
    exit 1
fi
if [ "$built" = 0 ] && run_suite build; then
    report "x86-64: tested natively"
else
    fail x86-64 "its build or its suite failed"
fi

i386_toolchain=-DCMAKE_TOOLCHAIN_FILE=cmake/i386-linux.cmake
i386=$(python3 tests/i386_probe.py)
case $i386 in
native)
    # An emulator left in the cache by an earlier run would still be used.
    if build_target i386 build-i386 "$i386_toolchain" -DCMAKE_CROSSCOMPILING_EMULATOR= && run_suite build-i386; then
        report "i386: tested natively"
    else
        fail i386 "its build or its suite failed"
    fi
    ;;
emulated\ *)
    emulator=${i386#emulated }
    echo "=== i386: $no_32_bit; the suite runs under $emulator"
    if build_target i386 build-i386 "$i386_toolchain" -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator" && run_suite build-i386; then
        skips=$(grep -h "^$skip_mark" build-i386/Testing/Temporary/LastTest.log | sort -u)
        count=$(printf '%s' "$skips" | grep -c .)
        report "i386: tested under the emulator $emulator; assertions skipped, as they hold on real hardware alone: $count"
        [ -z "$skips" ] || summary="$summary$(printf '%s\n' "$skips" | sed "s/^$skip_mark/      /")
"
    else
        fail i386 "its build or its suite under $emulator failed"
    fi
    ;;
refused)
    reason="$no_32_bit, and no qemu-i386 is installed to emulate them; add one with: $install qemu-user-static"
    if [ "${CI:-}" != true ]; then
        echo "=== i386: $reason"
        report "i386: skipped: $reason"
    elif build_target i386 build-i386 "$i386_toolchain"; then
        fail i386 "built, but its programs were not run: $reason"
    else
        fail i386 "its build failed"
    fi
    ;;
missing\ ?*)
    skip_target i386 "toolchain missing (${i386#missing }); add it with: $install g++-multilib"
    ;;
*)
    # The probe ended without its line, its error above: nothing is known
    # of the toolchain.
    skip_target i386 "tests/i386_probe.py did not say how this host runs i386 programs${i386:+ (it printed: $i386)}"
    ;;
esac

if ! command -v i686-w64-mingw32-g++-posix >/dev/null; then
    skip_target win32 "toolchain missing (no i686-w64-mingw32-g++-posix); add it with: $install g++-mingw-w64-i686"
else
    case $i386 in
    emulated\ * | refused)
        echo "=== win32: $no_32_bit, so wine cannot start: only what reads the files runs"
        if build_target win32 build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake &&
            run_suite build-win32 --label-exclude wine; then
            report "win32: built and checked; its programs were not run: this kernel runs no 32-bit programs"
        else
            fail win32 "its build or its checks failed"
        fi
        ;;
    *)
        if ! command -v wine >/dev/null; then
            skip_target win32 "no wine to run PE32 programs; add it with: sudo dpkg --add-architecture i386 && $install wine wine32:i386"
        elif build_target win32 build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake &&
            run_suite build-win32; then
            report "win32: tested under wine"
        else
            fail win32 "its build or its suite failed"
        fi
        ;;
    esac
fi

printf '%s' "$summary"
[ -z "${TARGETS_SUMMARY:-}" ] || printf '%s' "$summary" >"$TARGETS_SUMMARY"
if [ -n "$failed" ]; then
    echo "=== targets failed:$failed"
    exit 1
fi
