#!/bin/sh
# Installs the Debian packages that the native suite needs and a fresh
# machine lacks: the JSON library, without which only the benchmark builds,
# CLI11, without which the companions are left out too, xbyak, without which
# the matrix and the suite are left out, and matplotlib, which the drawing
# tools' cases need. It installs with the installer that CI uses, as root or through a sudo that asks no password,
# and says what it installs before it does; where it can do neither, it
# stops and names the one command that would. Where everything is there it
# does nothing and says nothing. A host without dpkg is left to CMake, which
# says what it lacks, and tests/all_targets.sh, which fails on it.
#
# Usage: native_packages.sh [WHO PACKAGE...]
# The Makefile's targets that need some of the packages name themselves and
# those ("make bench" nlohmann-json3-dev); without arguments it is the
# native suite and all of them.
#
# Finds dpkg-query, id and sudo on PATH, so that tests can put stand-ins
# there.
set -u
cd "$(dirname "$0")/.."

who="the native suite"
needed="nlohmann-json3-dev libcli11-dev libxbyak-dev python3-matplotlib"
if [ $# -gt 1 ]; then
    who=$1
    shift
    needed=$*
fi

command -v dpkg-query >/dev/null 2>&1 || exit 0
missing=""
# The list of names is split into words on purpose.
# shellcheck disable=SC2086
for package in $needed; do
    # A package counts where it is unpacked and configured: "install ok
    # installed", or held there. dpkg -s answers for one removed but not
    # purged too ("deinstall ok config-files"), whose files are gone.
    case $(dpkg-query -W -f='${Status}' "$package" 2>/dev/null) in
    *" ok installed") ;;
    *) missing="$missing $package" ;;
    esac
done
[ -n "$missing" ] || exit 0

if [ "$(id -u)" = 0 ]; then
    as_root=""
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    as_root="sudo"
else
    echo "=== $who needs$missing, and installing needs root:"
    echo "    sudo bash .ci/install_packages.sh$missing"
    exit 1
fi
echo "=== installing what $who needs:$missing"
# The list of names is split into words on purpose.
# shellcheck disable=SC2086
$as_root bash .ci/install_packages.sh $missing
