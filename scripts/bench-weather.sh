#!/usr/bin/env bash
# Times a forced weather refresh with the icons cached against the scripted forecast site
# of the end-to-end test, and sets it against the floor of the refresh's own pauses.
# Usage: bench-weather.sh [ROUNDS]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bits=$(preferred_bits)
build_dir=$(build_dir_for "$bits")
prepare_build "$bits" --target pellumo-weather-time >/dev/null
work=$(mktemp -d)
site_pid=
cleanup() {
    [ -z "$site_pid" ] || kill "$site_pid" 2>/dev/null || true
    stop_wine "$bits"
    rm -rf "$work"
}
trap cleanup EXIT

# The scripted site alone, for ten minutes at most.
python3 -c 'import sys, time; sys.path.insert(0, sys.argv[1]); import pellumo_e2e as site
open(sys.argv[2], "w").write(f"{site.scripted_site()[1]}\n"); time.sleep(600)' "$repo_root/tests/app" "$work/port" &
site_pid=$!
for _ in $(seq 100); do
    [ -s "$work/port" ] && break
    sleep 0.1
done
[ -s "$work/port" ] || { echo "bench-weather: the scripted site did not start" >&2; exit 1; }
# The picture folder goes below the current directory: a fresh one, so the first refresh fetches.
(cd "$work" && timeout 300 "$wine_run" --prefix "$build_dir/wine" "$build_dir/tools/pellumo-weather-time.exe" \
    "127.0.0.1:$(head -n1 "$work/port")" "${1:-10}")
