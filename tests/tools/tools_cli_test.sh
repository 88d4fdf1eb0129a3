#!/usr/bin/env bash
# shellcheck disable=SC2086  # rows of arguments are split into words on purpose
# The command-line tools from outside. Usage: tools_cli_test.sh cal|fetch WINE_RUN PREFIX EXE
# cal: formats, whole range, refusals; fetch: argument limits, taken (1: closed loopback port) or refused (2).
set -uo pipefail
tool=$1 wine_run=$2 prefix=$3 exe=$4
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cal() { "$wine_run" --prefix "$prefix" "$exe" "$@"; }
check() { "${@:2}" || { echo "FAILED: $1"; failures=$((failures + 1)); }; }  # check DESCRIPTION COMMAND...
exits() { cal "${@:2}" >"$work/out" 2>"$work/err"; [ $? -eq "$1" ]; }  # exits CODE ARGS...
# Refused: exit code 2, one line on stderr, nothing on stdout.
refused() { exits 2 "$@" && [ ! -s "$work/out" ] && [ "$(wc -l <"$work/err")" -eq 1 ]; }

if [ "$tool" = fetch ]; then
    url=http://127.0.0.1:1/x
    while read -r code args; do
        check "'$args' exits $code" exits "$code" $args
    done <<ROWS
1 --limit 1001 $url
1 --limit 16777216 --marker m $url
2 --limit 1000 $url
2 --limit 16777217 $url
1 --save p $url
2 --save p --limit 2000 $url
2 $url $url
2 --limit
ROWS
    exit $((failures > 0))
fi

cal 2024 2 >"$work/grid"
check "grid: title, header, first week, labels under 4..10, festivals" test \
    "$(sed -n '1s/^ *//p;2p;3p;6p' "$work/grid" | tr '\n' /)$(tail -n 4 "$work/grid" | tr '\n' /)" = \
    "2024年2月/  日    一    二    三    四    五    六/                            1     2     3/ 立春  廿六  廿七  廿八  廿九  卅日  一月/2月2日 小年/2月9日 除夕/2月10日 春节/2月24日 元宵/"

cal --tsv 002024 2 >"$work/tsv"  # a year in six digits, the most taken
check "tsv: 29 days, 10 February" test "$(wc -l <"$work/tsv") $(grep -cP '^2024-02-10\t6\t1\t一月\t春节\t甲辰\t龙\t甲辰$' \
    "$work/tsv")" = "29 1"
check "all: the 73414 days from 1900-01-01 to 2100-12-31" test "$(cal --tsv --all | wc -l)" -eq 73414

check "day 2027-02-06" test "$(cal --day 2027-2-6)" = "2027年2月6日 星期六  农历丁未年 (羊) 正月初一  壬寅月 丙辰日  春节"
check "days at the range's ends and a leap day" test \
    "$(for day in 1900-01-01 2028-02-29 2100-12-31; do cal --day $day | head -c 7; done)" = "1900年2028年2100年"

for args in "1899 12" "2101 1" "2024 0" "2024 13" "20x4 1" "2024 -1" "2024" "2024 1 1" "--all" \
    "--tsv --all --repeat 0" "--tsv --all --repeat" "--tsv 0002024 1" "--bogus" "--day" "--day 2027-02-06 1" \
    "--tsv --day 2027-02-06" "--day 2027-02-29" "--day 2028-02-30" "--day 1899-12-31" "--day 2101-01-01" \
    "--day 2027-13-01" "--day 2027-02" "--day 2027-02-06-" "--day 2027--06" "--day 2027-02-006"; do
    check "refuses '$args'" refused $args
done
[ "$failures" -eq 0 ]
