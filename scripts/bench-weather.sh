#!/usr/bin/env bash
# Times a forced weather refresh with the icons cached against the forecast service in demo
# mode on loopback, and sets it against the floor of the refresh's own pauses.
# Usage: bench-weather.sh [ROUNDS]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bits=$(preferred_bits)
build_dir=$(build_dir_for "$bits")
prepare_build "$bits" --target pellumo-weather-time >/dev/null
work=$(mktemp -d)
cleanup() {
    stop_forecast_service
    stop_wine "$bits"
    rm -rf "$work"
}
trap cleanup EXIT

build_forecast_service
launch_forecast_service "$work/service.log" --demo --port 0 || { echo "bench-weather: the service did not start" >&2; exit 1; }
# The picture folder goes below the current directory: a fresh one, so the first refresh fetches.
(cd "$work" && timeout 300 "$wine_run" --prefix "$build_dir/wine" "$build_dir/tools/pellumo-weather-time.exe" \
    "$forecast_host" "${1:-10}")
