#!/usr/bin/env bash
# How `wine-run --can-run 32` picks, its probes faked: native wherever the kernel runs 32-bit programs,
# the emulator only where it does not, else one line with both reasons; PELLUMO_WINE32 allows one way.
# Usage: wine_run_choice_test.sh WINE_RUN
set -uo pipefail
no_exec='echo Exec format error; echo second line; exit 1' no_ns='echo no binfmt_misc of its own; exit 1' failed=0
while IFS='|' read -r native emulated way want; do
    got=$(PELLUMO_PROBE_NATIVE32=$native PELLUMO_PROBE_EMULATED32=$emulated PELLUMO_WINE32=$way "$1" --can-run 32)
    got="$? $got"
    [ "$got" = "$want" ] || { echo "FAILED: '$native' '$emulated' '$way': got '$got', want '$want'"; failed=1; }
done <<ROWS
true|true||0 native
$no_exec|true||0 emulated
$no_exec|$no_ns||1 32-bit Wine cannot start here, natively: Exec format error; nor emulated: no binfmt_misc of its own
true|true|emulated|0 emulated
$no_exec|true|native|1 32-bit Wine cannot start natively here (PELLUMO_WINE32=native): Exec format error
ROWS
exit $failed
