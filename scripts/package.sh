#!/usr/bin/env bash
# Builds both architectures in release mode and writes the release archives:
#   DIST/pellumo-VERSION-win32.zip and DIST/pellumo-VERSION-win64.zip, each holding
#   pellumo.exe, pellumo-cal.exe, pellumo-fetch.exe, README.txt, the licence when the
#   repository has one and SHA256SUMS.txt; and DIST/pellumo-VERSION.sha256 for the two.
# Built twice from the same commit, the archives are the same bytes: the programs carry no
# link time, and every entry's time is the commit's (SOURCE_DATE_EPOCH, when set, instead).
#
# Usage: package.sh [--dist DIR]      (DIR defaults to dist/ in the repository)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

dist=$repo_root/dist
case ${1:-} in
    --dist) [ $# -eq 2 ] || { echo "usage: package.sh [--dist DIR]" >&2; exit 2; }; dist=$2 ;;
    "") ;;
    *) echo "usage: package.sh [--dist DIR]" >&2; exit 2 ;;
esac

mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
cd "$repo_root"  # where cmake finds the presets
programs=(pellumo pellumo-cal pellumo-fetch)
for bits in 32 64; do
    prepare_build "$bits" --target "${programs[@]}" >/dev/null
    grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' "$(build_dir_for "$bits")/CMakeCache.txt" ||
        { echo "package.sh: $(build_dir_for "$bits") is not a Release build" >&2; exit 1; }
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$(build_dir_for 64)/CMakeCache.txt")
[ -n "$version" ] || { echo "package.sh: no project version in the build" >&2; exit 1; }
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$repo_root" log -1 --format=%ct 2>/dev/null || echo 0)}
licence=$(cd "$repo_root" && ls LICENSE LICENSE.txt LICENSE.md COPYING 2>/dev/null | head -n 1 || true)

archives=()
for bits in 32 64; do
    name=pellumo-$version-win$bits
    build=$(build_dir_for "$bits")
    items=(
        "pellumo.exe=$build/app/pellumo.exe"
        "pellumo-cal.exe=$build/tools/pellumo-cal.exe"
        "pellumo-fetch.exe=$build/tools/pellumo-fetch.exe"
        "README.txt=$repo_root/scripts/release/README.txt"
    )
    [ -z "$licence" ] || items+=("LICENSE.txt=$repo_root/$licence")
    python3 "$repo_root/scripts/release/make_zip.py" "$dist/$name.zip.part" "$name" "$epoch" "$version" "${items[@]}"
    mv -f "$dist/$name.zip.part" "$dist/$name.zip"
    archives+=("$name.zip")
done
(cd "$dist" && sha256sum "${archives[@]}" >"pellumo-$version.sha256")
[ -n "$licence" ] || echo "package.sh: the repository has no licence file; the archives carry none" >&2
for a in "${archives[@]}"; do echo "$dist/$a"; done
