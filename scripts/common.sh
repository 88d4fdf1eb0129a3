# Shared by the project's scripts; sourced, not run.

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$repo_root/build"

# Installs what is missing (a no-op once everything is there), then configures and builds.
prepare_build() {
    bash "$repo_root/scripts/setup.sh"
    cmake --preset default -S "$repo_root" >/dev/null
    cmake --build --preset default "$@"
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
    if [ -n "${xvfb_pid:-}" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=
    fi
}

# Keeps one Wine server, and Wine's own service processes, running for the prefix until
# stop_wine. Left to itself the server exits whenever it is idle for a moment, and a
# program that starts just then loses its connection. The service processes start with
# the first program and keep its output open; started here, they hold /dev/null instead
# of the output pipe of whichever test happened to run first.
start_wine() {
    "$repo_root/scripts/wine-run" --prefix "$build_dir/wine" --init
    WINEPREFIX="$build_dir/wine" wineserver -p
    "$repo_root/scripts/wine-run" --prefix "$build_dir/wine" cmd /c exit </dev/null >/dev/null 2>&1
}

# Ends the prefix's Wine server and everything running under it.
stop_wine() {
    WINEPREFIX="$build_dir/wine" wineserver -k 2>/dev/null || true
}
