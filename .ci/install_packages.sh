#!/usr/bin/env bash
# Installs the Debian packages named as arguments (NAME or NAME:ARCH) that are
# not installed yet, on a machine whose mirror may lag.
#
# - An index refresh that fails (a mirror in the middle of a sync, say) is a
#   warning: the indexes it did fetch, or the old ones, still serve.
# - An install that fails is retried once, after another refresh.
# - Where the failure is a multi-arch version skew, where a library's amd64
#   build is newer than any i386 build of it that the indexes show (a security
#   update published for one architecture first), both architectures are
#   installed at the newest version they share, which may be a downgrade.
# - If the packages still cannot be installed, it fails with a message that
#   names them and gives apt's reason.
#
# Uses apt-get, apt-cache, dpkg and dpkg-query from PATH, so that the tests
# can put stand-ins there.
set -uo pipefail
export DEBIAN_FRONTEND=noninteractive

log=$(mktemp)
trap 'rm -f "$log"' EXIT

missing=()
for package in "$@"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"

refresh() {
    if ! apt-get update -q >"$log" 2>&1; then
        echo "warning: apt-get update reported an error; going on with the indexes it has:"
        grep -E '^(E|W|Err):' "$log" | sed 's/^/  /'
    fi
}

# The versions of a package that the indexes offer for one architecture.
versions_of() {
    apt-cache madison "$1:$2" 2>/dev/null | awk -F'|' -v arch="$2" \
        '$3 ~ (" " arch " Packages") { gsub(/ /, "", $2); print $2 }'
}

# The newest of the versions on standard input.
newest() {
    local best="" version
    while read -r version; do
        if [ -z "$best" ] || dpkg --compare-versions "$version" gt "$best"; then best=$version; fi
    done
    [ -n "$best" ] && echo "$best"
}

# The version of a package installed for one architecture, if any: a machine
# whose image is newer than its mirror can hold one that no index lists.
installed_version() {
    dpkg-query -W -f='${Version}\n' "$1:$2" 2>/dev/null
}

# NAME=VERSION for both architectures of every library in apt's complaint
# whose newest amd64 version (installed or offered) and newest i386 version
# differ while a version common to both indexes exists; nothing for the
# others.
shared_versions() {
    local name native foreign common
    for name in $(grep -oE '(Depends|Breaks): [a-z0-9][a-z0-9+.-]*(:[a-z0-9]+)?' "$log" | sed 's/^[A-Za-z]*: //; s/:.*//' | sort -u); do
        native=$( { versions_of "$name" amd64; installed_version "$name" amd64; } | newest)
        foreign=$(versions_of "$name" i386 | newest)
        [ -n "$native" ] && [ -n "$foreign" ] && [ "$native" != "$foreign" ] || continue
        common=$(comm -12 <(versions_of "$name" amd64 | sort -u) <(versions_of "$name" i386 | sort -u) | newest)
        [ -n "$common" ] && echo "$name:amd64=$common $name:i386=$common"
    done
}

install() {
    apt-get install -y -q --allow-downgrades "$@" >"$log" 2>&1
}

refresh
if install "${missing[@]}"; then exit 0; fi

# The skew can hide behind the libraries that apt names first: pin what it
# names, and try again, until it names nothing new.
pins=()
for round in 1 2 3 4 5 6; do
    found=$(shared_versions)
    new=()
    for pin in $found; do
        [[ " ${pins[*]} " == *" $pin "* ]] || new+=("$pin")
    done
    [ ${#new[@]} -eq 0 ] && break
    pins+=("${new[@]}")
    echo "multi-arch version skew: installing the versions both architectures share: ${new[*]}"
    if install "${missing[@]}" "${pins[@]}"; then exit 0; fi
done

echo "warning: installing failed; refreshing the indexes and trying once more"
refresh
if install "${missing[@]}" "${pins[@]}"; then exit 0; fi

echo "error: cannot install ${missing[*]}; apt says:"
grep -vE '^(Reading|Building|Get:|Hit:|Ign:|Fetched)' "$log" | sed 's/^/  /'
exit 1
