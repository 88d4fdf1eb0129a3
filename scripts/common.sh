# Shared by the project's scripts; sourced, not run.
#
# Two builds of the same sources: 32-bit Windows (preset `default`, folder build/), the
# product, which runs under 32-bit Wine natively or, on a host that cannot execute 32-bit
# programs, emulated (scripts/wine-run chooses), and 64-bit Windows (preset `win64`,
# folder build-win64/), which runs wherever 64-bit Wine does.

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
wine_run="$repo_root/scripts/wine-run"

preset_for() { if [ "$1" = 32 ]; then echo default; else echo win64; fi; }
build_dir_for() { if [ "$1" = 32 ]; then echo "$repo_root/build"; else echo "$repo_root/build-win64"; fi; }

# Installs what is missing, once per run: the exported marker makes setup.sh a no-op in
# the scripts that this one starts (test-host.sh, fuzz.sh).
setup_once() {
    bash "$repo_root/scripts/setup.sh"
    export PELLUMO_SETUP_DONE=1
}

# Configures and builds one architecture: prepare_build 32|64 [cmake --build options].
prepare_build() {
    local bits=$1
    shift
    setup_once
    cmake --preset "$(preset_for "$bits")" -S "$repo_root" >/dev/null
    cmake --build --preset "$(preset_for "$bits")" "$@"
}

# 32 where this host can start 32-bit Wine, natively or emulated, else 64; says on stderr
# which way, or why it falls back.
preferred_bits() {
    local way
    if way=$("$wine_run" --can-run 32); then
        echo "32-bit Wine runs $way here" >&2
        echo 32
    else
        echo "$way: using the 64-bit build" >&2
        echo 64
    fi
}

# Starts a private X server and points DISPLAY at it; stop_private_xvfb ends it.
# $1 is the screen size as WIDTHxHEIGHT.
start_private_xvfb() {
    local fdfile
    fdfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp 3>"$fdfile" 2>/dev/null &
    xvfb_pid=$!
    local i
    for i in $(seq 100); do
        [ -s "$fdfile" ] && break
        sleep 0.1
    done
    export DISPLAY=":$(head -n1 "$fdfile")"
    rm -f "$fdfile"
    [ "$DISPLAY" != ":" ] || { echo "could not start Xvfb" >&2; return 1; }
}

stop_private_xvfb() {
    [ -z "${xvfb_pid:-}" ] || stop_process "$xvfb_pid"
    xvfb_pid=
}

# Ends a background process of this shell: asks it to stop, gives it 5 seconds, then kills it.
stop_process() {
    local pid=$1 i
    kill "$pid" 2>/dev/null || true
    for i in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

# Keeps one Wine server, and Wine's own service processes, running for the prefix of one
# build (start_wine 32|64) until stop_wine. Left to itself the server exits whenever it is
# idle for a moment, and a program that starts just then loses its connection. The
# service processes start with the first program and keep its output open; started here,
# they hold /dev/null instead of the output pipe of whichever test happened to run first.
start_wine() {
    local prefix
    prefix="$(build_dir_for "$1")/wine"
    # Called as a condition, where set -e does not stop at a failed step: each is checked.
    "$wine_run" --prefix "$prefix" --arch "$1" --init || return 1
    timeout 60 "$wine_run" --prefix "$prefix" --arch "$1" --server -p || return 1
    timeout 60 "$wine_run" --prefix "$prefix" --arch "$1" cmd /c exit </dev/null >/dev/null 2>&1 ||
        { echo "Wine did not run a first program in $prefix within a minute" >&2; return 1; }
}

# Ends the prefix's Wine server and everything running under it.
stop_wine() {
    local prefix
    prefix="$(build_dir_for "$1")/wine"
    [ -d "$prefix" ] || return 0
    timeout 60 "$wine_run" --prefix "$prefix" --arch "$1" --server -k 2>/dev/null || true
}

# The forecast service for the program: built with the 'service' preset and started in demo
# mode on loopback, on port 8642 or, when that is taken, on a free one. Sets forecast_host to
# 127.0.0.1:PORT, the value for PELLUMO_SEARCH_HOST and PELLUMO_ICON_HOST. $1 is the file
# for its output (its access log). stop_forecast_service ends it.
forecast_exe="$repo_root/build-service/service/pellumo-forecast"
# Where its forecasts come from: demo data unless a script sets other options (run.sh does
# for PELLUMO_FORECAST_SOURCE=live).
forecast_source_args=(--demo)
forecast_pid=
forecast_host=

build_forecast_service() {
    (cd "$repo_root" && cmake --preset service >/dev/null && cmake --build --preset service --target pellumo-forecast >/dev/null)
}

start_forecast_service() {
    local log=$1 port
    build_forecast_service
    for port in 8642 0; do
        launch_forecast_service "$log" "${forecast_source_args[@]}" --port "$port" && return 0
    done
    echo "could not start the forecast service:" >&2
    cat "$log" >&2
    return 1
}

# The built service started with the given options on loopback, its output in LOG:
# launch_forecast_service LOG OPTION...; sets forecast_pid and forecast_host once it listens.
# Gives it 5 seconds; fails, with the service stopped, when it does not listen by then.
launch_forecast_service() {
    local log=$1 i
    shift
    "$forecast_exe" "$@" >"$log" 2>&1 &
    forecast_pid=$!
    for i in $(seq 50); do
        # Nothing to find yet is no failure: under pipefail a grep that finds nothing
        # would end the caller's script here.
        forecast_host=$(grep -o -m1 'listening on http://127\.0\.0\.1:[0-9]*' "$log" | sed 's|.*http://||' || true)
        [ -n "$forecast_host" ] && return 0
        kill -0 "$forecast_pid" 2>/dev/null || break
        sleep 0.1
    done
    stop_forecast_service
    return 1
}

stop_forecast_service() {
    [ -z "${forecast_pid:-}" ] || stop_process "$forecast_pid"
    forecast_pid=
}

# For the benchmarks: 天气预报 and the first twelve demo cities, percent-encoded as the
# program sends them, and a wrk script (written to $1) that asks for their pages in turn.
bench_cities=(%B1%B1%BE%A9 %C9%CF%BA%A3 %B9%E3%D6%DD %C9%EE%DB%DA %CC%EC%BD%F2 %D6%D8%C7%EC
    %B3%C9%B6%BC %CE%E4%BA%BA %CE%F7%B0%B2 %C4%CF%BE%A9 %BA%BC%D6%DD %CB%D5%D6%DD)
write_page_requests() {
    cat >"$1" <<LUA
local words = "%CC%EC%C6%F8%D4%A4%B1%A8+"
local cities = {$(printf '"%s", ' "${bench_cities[@]}")}
local i = 0
request = function()
    i = i % #cities + 1
    local c = cities[i]
    return wrk.format("GET", "/s?bs=" .. words .. c .. "&f=8&wd=" .. words .. c)
end
LUA
}
