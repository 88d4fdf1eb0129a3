#!/usr/bin/env bash
# Measures the forecast service with wrk on loopback: page requests (the program's query, over
# the demo cities in turn) on 4 kept-alive connections, until about a million requests are
# served; prints requests per second, the 99th-percentile latency and the server's resident
# memory after a warm-up and after the million. The access log goes to a file, as in service.
# In the same run, between the service's rounds so that both see the same load on the machine,
# nginx serves one of the pages as a static file to the same requests, with as many workers as
# the service has threads; the rates of both and their ratio are printed.
#
# With --live [SECONDS], the live source against a stand-in upstream instead: see
# bench-service-live.sh.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
if [ "${1:-}" = "--live" ]; then
    shift
    exec bash "$repo_root/scripts/bench-service-live.sh" "$@"
fi
requests=${1:-1000000}

setup_once
build_forecast_service
cd "$repo_root"

work=$(mktemp -d)
nginx_pid=
trap 'stop_forecast_service; [ -z "$nginx_pid" ] || stop_process "$nginx_pid"; rm -rf "$work"' EXIT
launch_forecast_service "$work/access.log" --demo --port 0 || { echo "the service did not start" >&2; exit 1; }
pid=$forecast_pid port=${forecast_host##*:}

write_page_requests "$work/pages.lua"
# nginx with the first city's page as a static file, served for /s whatever the query.
mkdir "$work/www" "$work/nginx"
chmod 755 "$work" "$work/www"
python3 - "$port" "$work/www/page.html" <<'PY'
import http.client, sys
words = "%CC%EC%C6%F8%D4%A4%B1%A8+%B1%B1%BE%A9"
connection = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]), timeout=5)
connection.request("GET", f"/s?bs={words}&f=8&wd={words}")
open(sys.argv[2], "wb").write(connection.getresponse().read())
PY
nginx_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
temps=$(for kind in client_body proxy fastcgi uwsgi scgi; do printf '%s_temp_path %s; ' "$kind" "$work/nginx/$kind"; done)
cat >"$work/nginx/nginx.conf" <<CONF
daemon off; worker_processes 2; pid $work/nginx/nginx.pid; error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
    $temps
    access_log $work/nginx/access.log;
    keepalive_requests 100000000;
    default_type "text/html; charset=gbk";
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/www;
        location = /s { add_header Cache-Control "public, max-age=300"; try_files /page.html =404; }
    }
}
CONF
/usr/sbin/nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $nginx_port), timeout=1)" 2>/dev/null && break
    sleep 0.1
done

rss() { awk '/^VmRSS/ { print $2 }' "/proc/$pid/status"; }
run_wrk() { wrk -t2 -c4 -d"$1" --latency -s "$work/pages.lua" "http://127.0.0.1:${2:-$port}/" >"$work/wrk.txt"; }
count() { awk '/requests in/ { print $1 }' "$work/wrk.txt"; }
p99() { awk '/^ +99%/ { print $2 }' "$work/wrk.txt"; }

# Warm-up of both.
run_wrk 2s
run_wrk 2s "$nginx_port"
grep -q ' 200 ' "$work/nginx/access.log" || { echo "nginx did not serve the page" >&2; exit 1; }
run_wrk 2s
rate=$(awk '/^Requests\/sec/ { printf "%d", $2 }' "$work/wrk.txt")
rss_before=$(rss)
seconds=$(( requests / (rate > 0 ? rate : 1) + 1 ))
[ "$seconds" -le 300 ] || { echo "only $rate requests/s; measuring 300 s instead of $seconds" >&2; seconds=300; }
# Four rounds of a quarter each, so that memory growth shows as a trend; nginx runs as long
# after each (at most 10 s).
round=$(( (seconds + 3) / 4 ))
nginx_round=$(( round < 10 ? round : 10 ))
total=0 nginx_total=0 sizes=() p99s=() nginx_p99s=()
for _ in 1 2 3 4; do
    run_wrk "${round}s"
    total=$(( total + $(count) ))
    sizes+=("$(rss)")
    p99s+=("$(p99)")
    run_wrk "${nginx_round}s" "$nginx_port"
    nginx_total=$(( nginx_total + $(count) ))
    nginx_p99s+=("$(p99)")
done
[ "$(grep -c ' 200 ' "$work/access.log")" -ge "$total" ] || { echo "not every request was answered 200" >&2; exit 1; }
service_rate=$(( total / (4 * round) ))
nginx_rate=$(( nginx_total / (4 * nginx_round) ))
echo "wrk, 2 threads, 4 kept-alive connections, page requests:"
echo "  service: $service_rate requests/s over $total requests; p99 per round: ${p99s[*]}"
echo "  nginx, the same page as a static file: $nginx_rate requests/s; p99 per round: ${nginx_p99s[*]}"
echo "  service/nginx: $(( 100 * service_rate / (nginx_rate > 0 ? nginx_rate : 1) )) %"
echo "  server RSS in kB: ${rss_before} after warm-up, then ${sizes[*]} after each quarter"
