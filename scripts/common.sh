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

# Wine keeps a server process per prefix alive for a while; end it with the script.
stop_wine() {
    WINEPREFIX="$build_dir/wine" wineserver -k 2>/dev/null || true
}
