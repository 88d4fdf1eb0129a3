#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the 64-bit Windows
# suite always, the 32-bit one wherever this host can start 32-bit Wine, natively or
# emulated (scripts/wine-run; PELLUMO_WINE32=emulated checks that way), the native suite
# of the forecast service and a short fuzzing run of every parser of outside input
# (PELLUMO_FUZZ_SECONDS each, 30 by default). PELLUMO_ARCH=32 or PELLUMO_ARCH=64 keeps the
# Windows run to one architecture. Extra arguments go to every ctest run.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

setup_once
suites=()
declare -A way=()
left_out=
case ${PELLUMO_ARCH:-} in
    64) suites=(64); left_out="32-bit suite left out: PELLUMO_ARCH=64" ;;
    32)
        suites=(32)
        left_out="64-bit suite left out: PELLUMO_ARCH=32"
        way[32]=$("$wine_run" --can-run 32) || { echo "test.sh: cannot run the 32-bit suite: ${way[32]}" >&2; exit 1; }
        ;;
    "")
        suites=(64)
        if way[32]=$("$wine_run" --can-run 32); then
            suites+=(32)
        else
            left_out="32-bit suite left out: ${way[32]}"
        fi
        ;;
    *) echo "test.sh: PELLUMO_ARCH must be 32 or 64, not '$PELLUMO_ARCH'" >&2; exit 2 ;;
esac
way[64]=native

# The host's own handlers for 32-bit x86 programs, one entry name a line: binfmt_misc of
# the machine's first user namespace, seen from a private mount namespace so that nothing
# changes. Needs root; empty without.
host_i386_handlers() {
    unshare --mount --propagation private sh -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
        grep -lE "^magic 7f454c4601.{26}0300" /proc/sys/fs/binfmt_misc/*' 2>/dev/null | sort || true
}
handlers_before=$(host_i386_handlers)

current=
cleanup() {
    [ -z "$current" ] || stop_wine "$current"
    stop_private_xvfb
}
trap cleanup EXIT
[ -n "${DISPLAY:-}" ] || start_private_xvfb 1280x1024

# The host suite first: the program's forecast end-to-end test talks to the service it builds.
failed=()
bash "$repo_root/scripts/test-host.sh" "$@" || failed+=("service")
# Each parser of outside input fuzzed briefly, so a regression in one shows here.
bash "$repo_root/scripts/fuzz.sh" "${PELLUMO_FUZZ_SECONDS:-30}" || failed+=("fuzz")

# Both builds first, whichever suites run: the release test packs both (built during a suite,
# one would change under the other tests), and a fault that only the product's build shows
# is caught even where its suite cannot run.
for bits in 64 32; do prepare_build "$bits"; done
for bits in "${suites[@]}"; do
    current=$bits
    if start_wine "$bits" && ctest --preset "$(preset_for "$bits")" "$@"; then
        :
    else
        failed+=("$bits-bit")
    fi
    stop_wine "$bits"
    current=
done

# An emulated run registers its handler only inside namespaces that end with it.
handlers_after=$(host_i386_handlers)
if [ "$handlers_after" != "$handlers_before" ]; then
    echo "test.sh: the machine gained a handler for 32-bit programs during the run: $handlers_after" >&2
    failed+=("binfmt")
fi

ran=
for bits in "${suites[@]}"; do ran+="${ran:+, }$bits-bit ${way[$bits]}"; done
echo "test.sh: Windows suites run: $ran${left_out:+; $left_out}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "test.sh: FAILED: ${failed[*]}" >&2
    exit 1
fi
