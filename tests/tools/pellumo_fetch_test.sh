#!/usr/bin/env bash
# pellumo-fetch's arguments, each limit from both sides: taken (the download from a closed
# loopback port then fails, exit 1) or refused (exit 2). Usage: WINE_RUN PREFIX PELLUMO_FETCH_EXE
set -uo pipefail
wine_run=$1 prefix=$2 exe=$3
url=http://127.0.0.1:1/x
failures=0
while read -r code args; do
    # shellcheck disable=SC2086  # the arguments are words
    "$wine_run" --prefix "$prefix" "$exe" $args >/dev/null 2>&1
    got=$?
    [ "$got" -eq "$code" ] || { echo "FAILED: '$args' exits $got, not $code"; failures=$((failures + 1)); }
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
[ "$failures" -eq 0 ]
