#!/usr/bin/env bash
# Installs what is missing, builds Pellumo and runs it under Wine, with the forecast service
# on loopback as its search endpoint and icon server: in demo mode, which needs no network,
# or with PELLUMO_FORECAST_SOURCE=live with real forecasts from Open-Meteo (needs the
# internet; the places it finds are kept in pellumo-places.json in the build folder).
# With an X display (DISPLAY set) the window shows there. Without one the program runs on
# a private Xvfb and a screenshot of that screen is written every few seconds to the file
# named below. Ctrl-C ends the program, its Wine server, the service and the Xvfb started here.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

case "${PELLUMO_FORECAST_SOURCE:-demo}" in
    demo) source_name="demo data" ;;
    live) source_name="live data from Open-Meteo" forecast_source_args=(--source live) ;;
    *) echo "PELLUMO_FORECAST_SOURCE wants demo or live" >&2; exit 2 ;;
esac

bits=$(preferred_bits)
build_dir=$(build_dir_for "$bits")
echo "Running the $bits-bit program."
prepare_build "$bits" --target pellumo

# A prefix of the program's own, apart from the tests': its Wine server stays bound to
# the display it was first started on.
prefix="$build_dir/wine-app"
screenshot="$build_dir/pellumo-screen.png"
program_pid=
pause_pid=

cleanup() {
    trap - EXIT INT TERM
    [ -z "$pause_pid" ] || stop_process "$pause_pid"
    [ -z "$program_pid" ] || stop_process "$program_pid"
    [ ! -d "$prefix" ] || timeout 60 "$wine_run" --prefix "$prefix" --server -k 2>/dev/null || true
    stop_forecast_service
    stop_private_xvfb
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The program keeps its settings file and icon folder in its current directory: the build
# folder, so that they stay out of the sources and last from one run to the next.
cd "$build_dir"

start_forecast_service "$build_dir/forecast-service.log"
export PELLUMO_SEARCH_HOST="$forecast_host" PELLUMO_ICON_HOST="$forecast_host"
echo "Forecast service ($source_name) on http://$forecast_host; its log: $build_dir/forecast-service.log"

[ -n "${DISPLAY:-}" ] || start_private_xvfb 1280x1024
"$wine_run" --prefix "$prefix" "$build_dir/app/pellumo.exe" &
program_pid=$!
if [ -n "${xvfb_pid:-}" ]; then
    echo "No DISPLAY: Pellumo runs on a private X server ($DISPLAY)."
    echo "A screenshot of its screen is written every 5 seconds to $screenshot"
    echo "Press Ctrl-C to end it."
    while kill -0 "$program_pid" 2>/dev/null; do
        # Written beside the file and renamed, so a viewer never reads half a picture.
        if timeout 30 import -display "$DISPLAY" -window root "$screenshot.tmp.png" 2>/dev/null; then
            mv -f "$screenshot.tmp.png" "$screenshot"
        fi
        sleep 5 &
        pause_pid=$!
        wait "$pause_pid" || true
        pause_pid=
    done
fi
status=0
wait "$program_pid" || status=$?
program_pid=
exit "$status"
