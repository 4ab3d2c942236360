#!/bin/sh
# Checks that a built program has the protections its platform offers and
# needs nothing at run time beyond what the platform always has. A PE32
# program must also carry the version resource and the manifest described by
# the options, which pe_resources.py lists.
# Usage: check_hardening.sh x86_64-linux|i386-linux|win32 PROGRAM [OPTION...]
set -u
platform=$1
program=$2
shift 2
failures=0

fail() {
    echo "FAILED: $program: $*"
    failures=$((failures + 1))
}

check_elf_common() {
    headers=$(readelf -lW "$program") || exit 1
    dynamic=$(readelf -dW "$program") || exit 1
    stack=$(echo "$headers" | awk '$1 == "GNU_STACK" { print $7 }')
    [ -n "$stack" ] || fail "no GNU_STACK header, so the stack may be executable"
    case $stack in *E*) fail "the stack is executable ($stack)" ;; esac
    echo "$headers" | grep -q ' INTERP ' && fail "needs a program interpreter: not statically linked"
    echo "$dynamic" | grep -q '(NEEDED)' && fail "needs shared libraries: not statically linked"
    echo "$dynamic" | grep -q 'TEXTREL' && fail "has text relocations"
}

case $platform in
x86_64-linux)
    check_elf_common
    readelf -hW "$program" | grep -q 'Type:.*DYN' || fail "not position independent (ELF type is not DYN)"
    echo "$headers" | grep -q 'GNU_RELRO' || fail "no GNU_RELRO header"
    echo "$dynamic" | grep -Eq 'BIND_NOW|FLAGS_1.*NOW' || fail "relocations are not all resolved at start (no -z now)"
    ;;
i386-linux)
    check_elf_common
    ;;
win32)
    headers=$(i686-w64-mingw32-objdump -p "$program") || exit 1
    echo "$headers" | grep -q 'NX_COMPAT' || fail "DllCharacteristics lack NX_COMPAT"
    echo "$headers" | grep -q 'DYNAMIC_BASE' || fail "DllCharacteristics lack DYNAMIC_BASE"
    imports=$(echo "$headers" | awk '/DLL Name:/ { print $3 }' | sort | tr '\n' ' ')
    [ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "imports from $imports, not only KERNEL32.dll and msvcrt.dll"
    python3 "$(dirname "$0")/pe_resources.py" "$program" "$@" || failures=$((failures + 1))
    ;;
*)
    echo "unknown platform $platform"
    exit 2
    ;;
esac

[ "$failures" -eq 0 ] || exit 1
echo "$program: hardened as a $platform program should be"
