#!/usr/bin/env bash
# Measures the live source against the stand-in upstream on loopback (tests/service/
# upstream_standin.py), beside the demo mode in the same run: wrk with the program's query
# over twelve cities on 4 kept-alive connections, in three alternating rounds of SECONDS each
# (default 10). Prints the requests per second of both modes, their processor time per request
# (steadier than the rates on a busy machine), the live pages' access-log marks (cache, fresh,
# none) and the stand-in's call count, which must be one geocoder and one forecast call per city.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
seconds=${1:-10}

setup_once
build_forecast_service
cd "$repo_root"

work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do stop_process "$p"; done; rm -rf "$work"' EXIT

# Starts a service with the given options, its output in $work/NAME.log; sets port and pid.
start_service() {
    launch_forecast_service "$work/$1.log" --port 0 "${@:2}" || { echo "the $1 service did not start" >&2; exit 1; }
    pid=$forecast_pid port=${forecast_host##*:}
    pids+=("$pid")
}

python3 tests/service/upstream_standin.py --lifetime $(( seconds * 6 + 120 )) >"$work/standin.txt" &
pids+=("$!")
upstream=
for _ in $(seq 50); do
    upstream=$(awk '/^port/ { print "http://127.0.0.1:" $2 }' "$work/standin.txt") && [ -n "$upstream" ] && break
    sleep 0.1
done
[ -n "$upstream" ] || { echo "the stand-in did not start" >&2; exit 1; }
start_service demo --demo
demo_port=$port demo_pid=$pid
start_service live --source live --geocoder "$upstream" --forecast-api "$upstream" --places "$work/places.json"
live_port=$port live_pid=$pid

write_page_requests "$work/pages.lua"
# The first request for each city waits for its upstream calls; the rest come from the cache.
for c in "${bench_cities[@]}"; do
    curl -s -m 10 -o /dev/null "http://127.0.0.1:$live_port/s?wd=%CC%EC%C6%F8%D4%A4%B1%A8+$c"
done
# The service's processor time in clock ticks, user and system: unlike the rate, it hardly
# depends on what else the machine is doing.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# One round against a service; sets rate, served (requests) and spent (ticks).
round() {
    local port=$1 pid=$2 before
    before=$(ticks "$pid")
    wrk -t2 -c4 -d"${seconds}s" -s "$work/pages.lua" "http://127.0.0.1:$port/" >"$work/wrk.txt"
    spent=$(( $(ticks "$pid") - before ))
    served=$(awk '/requests in/ { print $1 }' "$work/wrk.txt")
    rate=$(awk '/^Requests\/sec/ { printf "%d", $2 }' "$work/wrk.txt")
}
demo_rates=() live_rates=() demo_total=0 live_total=0 demo_ticks=0 live_ticks=0 demo_served=0 live_served=0
for _ in 1 2 3; do
    round "$demo_port" "$demo_pid"
    demo_rates+=("$rate") demo_total=$(( demo_total + rate ))
    demo_ticks=$(( demo_ticks + spent )) demo_served=$(( demo_served + served ))
    round "$live_port" "$live_pid"
    live_rates+=("$rate") live_total=$(( live_total + rate ))
    live_ticks=$(( live_ticks + spent )) live_served=$(( live_served + served ))
done
hz=$(getconf CLK_TCK)
per_request() {
    local tenths=$(( $1 * 10000000 / hz / ($2 > 0 ? $2 : 1) ))
    echo "$(( tenths / 10 )).$(( tenths % 10 ))"
}
calls=$(curl -s -m 10 "$upstream/calls" | python3 -c 'import json, sys; c = json.load(sys.stdin)
print(c.get("search", 0), "geocoder and", c.get("forecast", 0), "forecast calls")')
marks() { grep -c " GET /s?.* $1\$" "$work/live.log" || true; }
echo "wrk, 2 threads, 4 kept-alive connections, ${#bench_cities[@]} cities, 3 alternating rounds of ${seconds} s each:"
echo "  demo mode: ${demo_rates[*]} requests/s"
echo "  live mode: ${live_rates[*]} requests/s ($(( live_total * 100 / (demo_total > 0 ? demo_total : 1) )) % of demo)"
echo "  processor time per request: demo $(per_request "$demo_ticks" "$demo_served") us, live $(per_request "$live_ticks" "$live_served") us"
echo "  live pages: $(marks cache) from the cache, $(marks fresh) fresh, $(marks none) without a forecast"
echo "  stand-in calls: $calls for ${#bench_cities[@]} cities"
