#!/usr/bin/env bash
# Measures the CPU time of one pass of `pellumo-cal --tsv --all` (every day 1900..2100),
# with Wine's start-up taken out: one pass and eleven passes, the difference over ten.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bits=$(preferred_bits)
build_dir=$(build_dir_for "$bits")
prepare_build "$bits" --target pellumo-cal >/dev/null
trap 'stop_wine "$bits"' EXIT
run() { "$wine_run" --prefix "$build_dir/wine" "$build_dir/tools/pellumo-cal.exe" --tsv --all --repeat "$1" >/dev/null; }
cpu_seconds() {  # user + system seconds of one run, children included
    local TIMEFORMAT='%U %S' t
    t=$( { time run "$1"; } 2>&1 )
    awk '{ print $1 + $2 }' <<<"$t"
}
run 1  # warm the prefix
one=$(cpu_seconds 1)
eleven=$(cpu_seconds 11)
awk -v a="$one" -v b="$eleven" 'BEGIN { printf "one pass of 73414 days: %.3f s CPU (single run with Wine start-up: %.3f s)\n", (b - a) / 10, a }'
