#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

prepare_build
trap 'stop_wine; stop_private_xvfb' EXIT
[ -n "${DISPLAY:-}" ] || start_private_xvfb 1280x1024
start_wine
ctest --preset default "$@"
