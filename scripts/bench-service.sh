#!/usr/bin/env bash
# Measures the forecast service with wrk on loopback: page requests (the program's query, over
# the demo cities in turn) on 4 kept-alive connections, until about a million requests are
# served; prints requests per second, the 99th-percentile latency and the server's resident
# memory after a warm-up and after the million. The access log goes to a file, as in service.
#
# With --live [SECONDS], the live source against a stand-in upstream instead: see
# bench-service-live.sh.
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ "${1:-}" = "--live" ]; then
    shift
    exec bash "$repo_root/scripts/bench-service-live.sh" "$@"
fi
requests=${1:-1000000}

bash "$repo_root/scripts/setup.sh"
cd "$repo_root"
cmake --preset service >/dev/null
cmake --build --preset service --target pellumo-forecast >/dev/null

work=$(mktemp -d)
pid=
trap '[ -z "$pid" ] || { kill "$pid"; wait "$pid"; } 2>/dev/null; rm -rf "$work"' EXIT
build-service/service/pellumo-forecast --demo --port 0 >"$work/access.log" 2>&1 &
pid=$!
for _ in $(seq 50); do
    port=$(grep -o -m1 'listening on http://127\.0\.0\.1:[0-9]*' "$work/access.log" | cut -d: -f3) && break
    sleep 0.1
done
[ -n "${port:-}" ] || { echo "the service did not start" >&2; exit 1; }

# 天气预报 and the first twelve demo cities, percent-encoded as the program sends them.
cat >"$work/pages.lua" <<'LUA'
local words = "%CC%EC%C6%F8%D4%A4%B1%A8+"
local cities = {"%B1%B1%BE%A9", "%C9%CF%BA%A3", "%B9%E3%D6%DD", "%C9%EE%DB%DA", "%CC%EC%BD%F2", "%D6%D8%C7%EC",
                "%B3%C9%B6%BC", "%CE%E4%BA%BA", "%CE%F7%B0%B2", "%C4%CF%BE%A9", "%BA%BC%D6%DD", "%CB%D5%D6%DD"}
local i = 0
request = function()
    i = i % #cities + 1
    local c = cities[i]
    return wrk.format("GET", "/s?bs=" .. words .. c .. "&f=8&wd=" .. words .. c)
end
LUA

rss() { awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"; }
run_wrk() { wrk -t2 -c4 -d"$1" --latency -s "$work/pages.lua" "http://127.0.0.1:$port/" >"$work/wrk.txt"; }
count() { awk '/requests in/ { print $1 }' "$work/wrk.txt"; }

# Warm-up. Each connection holds one of the 32 worker threads while it lasts, and a thread's
# first requests grow its stack and malloc arena; twelve rounds of fresh connections bring
# the pool to its steady size, so what follows measures the service and not the pool.
for _ in $(seq 12); do run_wrk 1s; done
rate=$(awk '/^Requests\/sec/ { printf "%d", $2 }' "$work/wrk.txt")
rss_before=$(rss)
seconds=$(( requests / (rate > 0 ? rate : 1) + 1 ))
[ "$seconds" -le 300 ] || { echo "only $rate requests/s; measuring 300 s instead of $seconds" >&2; seconds=300; }
# Four rounds of a quarter each, so that memory growth shows as a trend.
total=0 sizes=()
for round in 1 2 3 4; do
    run_wrk "$(( (seconds + 3) / 4 ))s"
    total=$(( total + $(count) ))
    sizes+=("$(rss)")
    [ "$round" -eq 1 ] && cp "$work/wrk.txt" "$work/first.txt"
done
[ "$(grep -c ' 200 ' "$work/access.log")" -ge "$total" ] || { echo "not every request was answered 200" >&2; exit 1; }
echo "wrk, 2 threads, 4 kept-alive connections, page requests (last round):"
awk '/^Requests\/sec|requests in|Non-2xx|Socket errors/ { print "  " $0 } /^ +99%/ { print "  p99 latency: " $2 }' "$work/wrk.txt"
echo "  $total requests in all; server RSS in kB: ${rss_before} after warm-up, then ${sizes[*]} after each quarter"
