#!/usr/bin/env bash
# The example nginx caching front, as committed, in front of pellumo-forecast on loopback:
# pages and icons come through unchanged, the second fetch of each is served from nginx's
# cache (so the service sees each once), and nginx ends every connection after its answer.
# Usage: nginx_front_test.sh PELLUMO_FORECAST EXAMPLE_CONF (exit 77: no nginx)
set -uo pipefail
exe=$1 conf=$2 service_pid='' nginx_pid=''
nginx=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$nginx" ] || { echo "nginx is not installed; skipping"; exit 77; }
work=$(mktemp -d)
cleanup() {
    [ -z "$nginx_pid" ] || kill "$nginx_pid" 2>/dev/null
    [ -z "$service_pid" ] || kill "$service_pid" 2>/dev/null
    wait
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# GETs PATH from PORT over a fresh connection into FILE (head and body), asking to keep the
# connection (or CONNECTION); fails unless the server ends it within 5 seconds.
get() {
    local port=$1 path=$2 file=$3 connection=${4:-Keep-Alive}
    exec 3<>"/dev/tcp/127.0.0.1/$port" || return 1
    printf 'GET %s HTTP/1.1\r\nHost:127.0.0.1\r\nAccept:*/*\r\nConnection:%s\r\n\r\n' "$path" "$connection" >&3
    timeout 5 cat <&3 >"$file"
    local status=$?
    exec 3<&-
    return $status
}
body() { sed '1,/^\r$/d' "$1"; }

"$exe" --demo --port 0 --icon-host icons.example.org >"$work/service.log" 2>&1 &
service_pid=$!
for _ in $(seq 50); do
    service_port=$(grep -o 'listening on http://127.0.0.1:[0-9]*' "$work/service.log" | cut -d: -f3)
    [ -n "$service_port" ] && break
    sleep 0.1
done
[ -n "$service_port" ] || fail "the service did not start: $(cat "$work/service.log")"

mkdir -p "$work/cache"
for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 20000))
    sed -e "s|server 127.0.0.1:8642;|server 127.0.0.1:$service_port;|" -e "s|listen 80;|listen 127.0.0.1:$port;|" \
        -e "s|/var/cache/nginx/pellumo-forecast|$work/cache|" "$conf" >"$work/front.conf"
    cat >"$work/nginx.conf" <<CONF
daemon off; master_process off; pid $work/nginx.pid; error_log $work/error.log; events {}
http { access_log off; client_body_temp_path $work/body; proxy_temp_path $work/proxy;
    fastcgi_temp_path $work/fastcgi; uwsgi_temp_path $work/uwsgi; scgi_temp_path $work/scgi;
    include $work/front.conf; }
CONF
    "$nginx" -p "$work" -e "$work/error.log" -c "$work/nginx.conf" &
    nginx_pid=$!
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break 2
        kill -0 "$nginx_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill "$nginx_pid" 2>/dev/null; wait "$nginx_pid"; nginx_pid=''
done
[ -n "$nginx_pid" ] || fail "nginx did not start: $(cat "$work/error.log")"

page='/s?bs=%CC%EC%C6%F8%D4%A4%B1%A8+%C0%AD%C8%F8&f=8&wd=%CC%EC%C6%F8%D4%A4%B1%A8+%C0%AD%C8%F8'
icon='/vip/baidu/imag/night/qing.gif'
get "$service_port" "$page" "$work/direct-page" close || fail "the service did not answer"
for path in "$page" "$icon"; do
    for round in 1 2; do
        get "$port" "$path" "$work/front-$round" || fail "nginx did not end the connection after $path"
        grep -q $'^HTTP/1.1 200' "$work/front-$round" || fail "$path: $(head -1 "$work/front-$round")"
    done
    grep -qi $'^X-Cache-Status: MISS\r$' "$work/front-1" || fail "$path: the first fetch was not a cache miss"
    grep -qi $'^X-Cache-Status: HIT\r$' "$work/front-2" || fail "$path: the second fetch was not a cache hit"
    cmp -s <(body "$work/front-1") <(body "$work/front-2") || fail "$path: the cached copy differs"
done
cmp -s <(body "$work/front-1") <(printf '') && fail "the icon came through empty"
# The page's body through the front equals the service's own (the cache is checked above).
get "$port" "$page" "$work/front-page"
cmp -s <(body "$work/direct-page") <(body "$work/front-page") || fail "the page changed on its way through nginx"
grep -q 'http://icons.example.org/vip/baidu/imag/day/' "$work/front-page" || fail "the page lacks the icon host"
get "$port" '/vip/baidu/imag/day/../../../etc/passwd' "$work/front-bad"
grep -q $'^HTTP/1.1 404' "$work/front-bad" || fail "a traversal got $(head -1 "$work/front-bad")"

sleep 0.2  # the service logs after it answers
pages=$(grep -c " GET /s?" "$work/service.log")
icons=$(grep -c " GET $icon " "$work/service.log")
[ "$pages" -eq 2 ] && [ "$icons" -eq 1 ] ||
    fail "the service saw $pages page requests (want 2: one direct, one through nginx) and $icons icon requests (want 1)"
echo "nginx caching front on port $port over the service on port $service_port: passed"
