#!/usr/bin/env bash
# pellumo-fetch against a real HTTP/1.1 server that keeps connections alive: Debian's nginx
# on a loopback port with its own temporary configuration, started and stopped here.
# Its keep-alive time-out is a minute, so a fetcher that waited for the server to close
# would fail on its own silence bound instead of finishing.
# Usage: pellumo_fetch_nginx_test.sh WINE_RUN WINE_PREFIX PELLUMO_FETCH_EXE
# Exit codes: 0 passed, 1 failed, 77 skipped (nginx is not installed).
set -euo pipefail

wine_run=$1
wine_prefix=$2
fetch_exe=$3

nginx=$(command -v nginx || echo /usr/sbin/nginx)
if [ ! -x "$nginx" ]; then
    echo "nginx is not installed (scripts/setup.sh installs it); skipping"
    exit 77
fi

work=$(mktemp -d)
nginx_pid=
cleanup() {
    if [ -n "$nginx_pid" ]; then
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The page carries the forecast marker after 3000 bytes of other text; the icon is binary.
mkdir -p "$work/root/chunked" "$work/out"
marker='<table cellspacing="0" cellpadding="0" class="al_wt">'
{
    head -c 3000 /dev/zero | tr '\0' 'x'
    printf '%s' "$marker"
    for i in $(seq 1 200); do printf '<td>day %03d</td>\n' "$i"; done
} >"$work/root/index.html"
head -c 6000 /dev/urandom >"$work/root/icon.gif"
cp "$work/root/icon.gif" "$work/root/chunked/icon.gif"

start_nginx() {
    local port=$1
    cat >"$work/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 16; }
http {
    access_log $work/access.log;
    client_body_temp_path $work/client_body;
    proxy_temp_path $work/proxy;
    fastcgi_temp_path $work/fastcgi;
    uwsgi_temp_path $work/uwsgi;
    scgi_temp_path $work/scgi;
    default_type application/octet-stream;
    keepalive_timeout 60s;
    server {
        listen 127.0.0.1:$port;
        root $work/root;
        # A filter that may change the length makes nginx send the body chunked.
        location /chunked/ {
            sub_filter 'no-such-text-anywhere' 'x';
            sub_filter_types *;
        }
    }
}
EOF
    "$nginx" -p "$work" -e "$work/error.log" -c "$work/nginx.conf" &
    nginx_pid=$!
    local i
    for i in $(seq 50); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
        if ! kill -0 "$nginx_pid" 2>/dev/null; then break; fi
        sleep 0.1
    done
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=
    return 1
}

port=
for attempt in 1 2 3 4 5; do
    candidate=$((20000 + RANDOM % 20000))
    if start_nginx "$candidate"; then
        port=$candidate
        break
    fi
done
[ -n "$port" ] || { echo "nginx did not start"; cat "$work/error.log" 2>/dev/null; exit 1; }

fetch() {
    "$wine_run" --prefix "$wine_prefix" "$fetch_exe" "$@"
}
windows_path() {
    printf 'Z:%s' "${1//\//\\}"
}
# Half the keep-alive time-out: far above the fetch itself, far below waiting for the close.
prompt=30

# A page, from the marker on.
start=$SECONDS
if fetch --marker "$marker" "http://127.0.0.1:$port/index.html" >"$work/out/page.txt"; then
    tail -c +3001 "$work/root/index.html" | head -c 4999 >"$work/out/expected.txt"
    cmp -s "$work/out/page.txt" "$work/out/expected.txt" || fail "the page text differs from the body from the marker on"
else
    fail "text-mode fetch failed"
fi
[ $((SECONDS - start)) -lt $prompt ] || fail "the page took $((SECONDS - start)) s"

# check_saved WHAT NAME_PREFIX URL_PATH: saves the file under that prefix, checks the path printed and the bytes.
check_saved() {
    local what=$1 name_prefix=$2 url_path=$3 file=${3##*/}
    local prefix saved
    prefix=$(windows_path "$work/out/$name_prefix")
    start=$SECONDS
    if saved=$(fetch --save "$prefix" "http://127.0.0.1:$port$url_path" | tr -d '\r'); then
        [ "$saved" = "$prefix$file" ] || fail "$what: saved path is '$saved'"
        cmp -s "$work/out/$name_prefix$file" "$work/root$url_path" || fail "$what: the saved file differs"
    else
        fail "$what: fetch failed"
    fi
    [ $((SECONDS - start)) -lt $prompt ] || fail "$what took $((SECONDS - start)) s"
}
check_saved "a file sent with a length" day /icon.gif
check_saved "a file sent chunked" chunked- /chunked/icon.gif

# Make sure that location really answers chunked, or the check above proves nothing.
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET /chunked/icon.gif HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' >&3
head -c 300 <&3 | grep -aqi '^transfer-encoding: chunked' || fail "nginx did not send the chunked location chunked"
exec 3<&-

# A cached file is not fetched again: nginx logs no further request for it.
requests_before=$(wc -l <"$work/access.log")
fetch --save "$(windows_path "$work/out/day")" "http://127.0.0.1:$port/icon.gif" >/dev/null || fail "cached fetch failed"
[ "$(wc -l <"$work/access.log")" -eq "$requests_before" ] || fail "a cached file was fetched again"

# Failures: a missing page and bad arguments.
fetch "http://127.0.0.1:$port/missing.html" >/dev/null 2>"$work/out/missing.err" && fail "a 404 fetch succeeded"
grep -q 'status 404' "$work/out/missing.err" || fail "a 404 is reported as: $(cat "$work/out/missing.err")"
code=0
fetch --limit 12 "http://127.0.0.1:$port/index.html" >/dev/null 2>&1 || code=$?
[ "$code" -eq 2 ] || fail "a bad limit exits with $code, not 2"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "pellumo-fetch against nginx on port $port: all checks passed"
