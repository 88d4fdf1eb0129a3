#!/usr/bin/env bash
# pellumo-fetch against Debian's nginx on a loopback port. nginx keeps an idle connection for
# a minute, far past the fetcher's silence bound, so a fetcher that read a body until the
# server closed would fail here instead of finishing.
# Usage: pellumo_fetch_nginx_test.sh WINE_RUN WINE_PREFIX PELLUMO_FETCH_EXE (exit 77: no nginx)
set -uo pipefail
wine_run=$1 prefix=$2 exe=$3 pid=''
nginx=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$nginx" ] || { echo "nginx is not installed; skipping"; exit 77; }
work=$(mktemp -d)
trap '[ -z "$pid" ] || kill "$pid"; wait; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
fetch() { "$wine_run" --prefix "$prefix" --capture "$exe" "$@"; }

marker='<table cellspacing="0" cellpadding="0" class="al_wt">'
mkdir -p "$work/root/chunked"
{ head -c 3000 /dev/zero | tr '\0' x; printf '%s' "$marker"; seq -f '<td>day %g</td>' 500; } >"$work/root/index.html"
head -c 6000 /dev/urandom | tee "$work/root/icon.gif" >"$work/root/chunked/icon.gif"

# Temporary paths of its own, as Debian's defaults belong to root; a filter that may change
# the length makes nginx send /chunked/ in the chunked coding.
for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 20000))
    cat >"$work/nginx.conf" <<CONF
daemon off; master_process off; pid $work/nginx.pid; error_log $work/error.log; events {}
http { access_log off; keepalive_timeout 60s; client_body_temp_path $work/body; proxy_temp_path $work/proxy;
    fastcgi_temp_path $work/fastcgi; uwsgi_temp_path $work/uwsgi; scgi_temp_path $work/scgi;
    server { listen 127.0.0.1:$port; root $work/root;
             location /chunked/ { sub_filter 'no-such-text-anywhere' 'x'; sub_filter_types *; } } }
CONF
    "$nginx" -p "$work" -e "$work/error.log" -c "$work/nginx.conf" &
    pid=$!
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break 2
        kill -0 "$pid" 2>/dev/null || break; sleep 0.1
    done
    kill "$pid" 2>/dev/null; wait "$pid"; pid=''
done
[ -n "$pid" ] || { echo "nginx did not start"; cat "$work/error.log"; exit 1; }

fetch --marker "$marker" "http://127.0.0.1:$port/index.html" >"$work/page" || fail "the page was not fetched"
cmp -s "$work/page" <(tail -c +3001 "$work/root/index.html" | head -c 4999) || fail "the page is not its body from the marker on"
windows_work="Z:${work//\//\\}\\"
for path in /icon.gif /chunked/icon.gif; do
    name=${path%icon.gif} name=${name//\//-}
    saved=$(fetch --save "$windows_work$name" "http://127.0.0.1:$port$path" | tr -d '\r')
    { [ "$saved" = "${windows_work}${name}icon.gif" ] && cmp -s "$work/${name}icon.gif" "$work/root$path"; } ||
        fail "$path was not saved as sent"
done
exec 3<>"/dev/tcp/127.0.0.1/$port" && printf 'GET /chunked/icon.gif HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n' >&3
head -c 300 <&3 | grep -aqi '^transfer-encoding: chunked' || fail "nginx sent /chunked/ unchunked, so that case proved nothing"
echo "pellumo-fetch against nginx on port $port: passed"
