#!/usr/bin/env bash
# Installs what is missing, builds Pellumo and runs it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

prepare_build --target pellumo-cal
trap stop_wine EXIT
"$repo_root/scripts/wine-run" "$build_dir/tools/pellumo-cal.exe" "$@"
