#!/usr/bin/env bash
# Checks pellumo-cal from outside: its output formats, its whole-range listing and its
# refusal of bad arguments. Usage: pellumo_cal_test.sh WINE_RUN PREFIX PELLUMO_CAL_EXE
set -uo pipefail
wine_run=$1 prefix=$2 exe=$3
failures=0 checks=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cal() { "$wine_run" --prefix "$prefix" "$exe" "$@"; }
check() {  # check DESCRIPTION COMMAND...
    checks=$((checks + 1))
    if ! "${@:2}"; then
        echo "FAILED: $1"
        failures=$((failures + 1))
    fi
}

cal 2024 2 >"$work/grid"
check "grid title" grep -q '2024年2月' "$work/grid"
check "grid header" grep -q '^  日    一    二    三    四    五    六$' "$work/grid"
check "grid first week" grep -q '^                            1     2     3$' "$work/grid"
check "grid labels under 4..10" grep -q '^ 立春  廿六  廿七  廿八  廿九  卅日  一月$' "$work/grid"

cal --tsv 2024 2 >"$work/tsv"
check "tsv has 29 days" test "$(wc -l <"$work/tsv")" -eq 29
check "tsv 4 February" grep -qP '^2024-02-04\t0\t25\t立春$' "$work/tsv"
check "tsv 10 February" grep -qP '^2024-02-10\t6\t1\t一月$' "$work/tsv"

cal --tsv --all >"$work/all"
check "all has 73414 days" test "$(wc -l <"$work/all")" -eq 73414
check "all starts 1900-01-01" test "$(head -c 10 "$work/all")" = "1900-01-01"
check "all ends 2100-12-31" test "$(tail -n 1 "$work/all" | cut -c 1-10)" = "2100-12-31"
check "all weekdays advance by one" awk -F'\t' 'NR > 1 && $2 != (prev + 1) % 7 { exit 1 } { prev = $2 }' "$work/all"
check "all lunar days run on" awk -F'\t' 'NR > 1 && $3 != prev + 1 && !($3 == 1 && prev >= 29) { exit 1 } { prev = $3 }' "$work/all"

refused() {  # refused ARGS...: exit code 2, one line on stderr, nothing on stdout
    cal "$@" >"$work/out" 2>"$work/err"
    local code=$?
    [ "$code" -eq 2 ] && [ ! -s "$work/out" ] && [ "$(wc -l <"$work/err")" -eq 1 ]
}
for args in "1899 12" "2101 1" "2024 0" "2024 13" "20x4 1" "2024 -1" "2024" "2024 1 1" "--all" \
    "--tsv --all --repeat 0" "--tsv --all --repeat" "--tsv 99999999 1" "--bogus"; do
    # shellcheck disable=SC2086
    check "refuses '$args'" refused $args
done

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
