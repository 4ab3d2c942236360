#!/bin/sh
# Builds the distribution twice, from two copies of this working tree under
# different paths and with different time zones, and compares every file byte
# for byte. Fails, naming the file, on any difference, and when SHA256SUMS
# does not verify.
set -eu
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The tracked and the new files, as they are now: what `make dist` would build.
git rev-parse --is-inside-work-tree >/dev/null
copy_tree() {
    mkdir -p "$1"
    git ls-files -z --cached --others --exclude-standard |
        tar --null --files-from=- --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$1"
}

first=$scratch/a
second=$scratch/second-checkout/under/a/longer/path
copy_tree "$first"
copy_tree "$second"
TZ=UTC sh "$first/tools/dist.sh" "$first/dist" "$first/build-dist"
TZ=Pacific/Kiritimati sh "$second/tools/dist.sh" "$second/dist" "$second/out"

if ! diff -rq "$first/dist" "$second/dist"; then
    echo "=== dist-check: FAILED: the two builds differ"
    exit 1
fi
(cd "$first/dist" && sha256sum --strict -c SHA256SUMS)
echo "=== dist-check: both builds gave the same $(ls "$first/dist" | wc -l) files"
