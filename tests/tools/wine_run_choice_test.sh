#!/usr/bin/env bash
# The way `wine-run --can-run 32` picks, with its probes replaced: native wherever the kernel
# runs 32-bit programs, the emulator only where it does not, else one line with both reasons;
# PELLUMO_WINE32 allows one way only. Usage: wine_run_choice_test.sh WINE_RUN
set -uo pipefail
wine_run=$1
failures=0

# choice NATIVE_PROBE EMULATED_PROBE PELLUMO_WINE32 STATUS OUTPUT
choice() {
    local out status=0
    out=$(PELLUMO_PROBE_NATIVE32=$1 PELLUMO_PROBE_EMULATED32=$2 PELLUMO_WINE32=$3 "$wine_run" --can-run 32) || status=$?
    if [ "$status $out" != "$4 $5" ]; then
        echo "FAILED: native probe '$1', emulated probe '$2', PELLUMO_WINE32='$3': got $status '$out', want $4 '$5'"
        failures=$((failures + 1))
    fi
}
no_exec='echo Exec format error; echo second line; exit 1'
no_ns='echo no binfmt_misc of its own; exit 1'

choice true true "" 0 native
choice "$no_exec" true "" 0 emulated
choice "$no_exec" "$no_ns" "" 1 "32-bit Wine cannot start here, natively: Exec format error; nor emulated: no binfmt_misc of its own"
choice true true emulated 0 emulated
choice "$no_exec" true native 1 "32-bit Wine cannot start natively here (PELLUMO_WINE32=native): Exec format error"

[ "$failures" -eq 0 ] || exit 1
echo "the way for 32-bit Wine is chosen as it should be"
