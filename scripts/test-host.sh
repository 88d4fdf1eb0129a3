#!/usr/bin/env bash
# Installs what is missing, builds the forecast service natively (the 'service' preset) and
# runs its tests. Extra arguments go to ctest.
set -euo pipefail
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

bash "$repo_root/scripts/setup.sh"
cd "$repo_root"
cmake --preset service >/dev/null
cmake --build --preset service
ctest --preset service "$@"
