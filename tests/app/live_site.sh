#!/usr/bin/env bash
# The forecast service in live mode before the stand-in upstream, as one site for the
# end-to-end driver, which ends the whole session of this script when it is done.
# Usage: live_site.sh SERVICE PLACES_FILE PORT ICON_HOST
set -euo pipefail
service=$1 places=$2 port=$3 icon_host=$4
rm -f "$places"  # every run asks the stand-in afresh
coproc standin { exec python3 "$(dirname "${BASH_SOURCE[0]}")/../service/upstream_standin.py" --lifetime 600 2>/dev/null; }
read -r -t 30 word upstream <&"${standin[0]}" && [ "$word" = port ] || { echo "the stand-in did not start" >&2; exit 1; }
exec "$service" --source live --port "$port" --icon-host "$icon_host" --places "$places" \
    --geocoder "http://127.0.0.1:$upstream" --forecast-api "http://127.0.0.1:$upstream"
