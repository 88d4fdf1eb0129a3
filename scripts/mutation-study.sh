#!/usr/bin/env bash
# Applies single-line faults one at a time and says which the tests catch.
#   scripts/mutation-study.sh [--repo DIR] [--only ID,ID...] [MUTANTS]
# MUTANTS (default: mutants.tsv beside this script) has one fault a line, tab-separated:
#   id  file  tests  original line  mutated line
# `tests` names ctest entries, each marked with its build: H:name (host, build-service/) or
# W:name (64-bit Windows under Wine, build-win64/). Only the targets those tests need are
# rebuilt and only those tests run, each bounded in time; the file is put back after each
# fault. A fault that does not build counts apart, neither caught nor missed. The builds are
# left with the last fault's objects: build again before running their tests otherwise.
# CPU is the limit: run it in a worktree of its own (git worktree add --detach).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
mutants=$here/mutants.tsv
only=
while [ $# -gt 0 ]; do
    case $1 in
        --repo) repo=$(cd "$2" && pwd); shift 2 ;;
        --only) only=",$2,"; shift 2 ;;
        *) mutants=$1; shift ;;
    esac
done
source "$repo/scripts/common.sh"   # sets repo_root to the tree under study
log=${MUTATION_LOG:-$repo/build-mutation.log}
export GTEST_FAIL_FAST=1  # a caught fault needs no more of its test's cases
: >"$log"

# The build target behind a test, where it is not the test's own name.
target_of() {
    case $1 in
        service_process_test | service_edge_test | live_process_test) echo pellumo-forecast ;;
        pellumo_cal_cli) echo pellumo-cal ;;
        pellumo_fetch_cli) echo pellumo-fetch ;;
        pellumo_e2e | forecast_live_e2e) echo pellumo ;;
        *) echo "$1" ;;
    esac
}

wine_up=
backup=
restore() { [ -z "$backup" ] || { cp "$backup" "$repo/$current_file"; rm -f "$backup"; backup=; }; }
cleanup() {
    restore
    [ -z "$wine_up" ] || stop_wine 64
    stop_private_xvfb
}
trap cleanup EXIT
trap "exit 1" TERM INT
need_wine() {
    [ -z "$wine_up" ] || return 0
    [ -n "${DISPLAY:-}" ] || start_private_xvfb 1280x1024
    start_wine 64
    wine_up=1
}

# Runs the tests of one build: run_tests DIR NAME... ; 0 when all pass.
run_tests() {
    local dir=$1 targets=() name
    shift
    for name in "$@"; do targets+=("$(target_of "$name")"); done
    timeout 600 cmake --build "$dir" --target "${targets[@]}" >>"$log" 2>&1 || return 2
    local regex
    regex="^($(IFS='|'; echo "$*"))\$"
    local out status=0
    out=$(timeout 300 ctest --test-dir "$dir" -R "$regex" --timeout 150 --stop-on-failure 2>&1) || status=1
    echo "$out" >>"$log"
    [ $status = 0 ] || by+=$(echo "$out" | sed -n 's/.*Test *#[0-9]*: \([^ ]*\) .*\*\*\*.*/\1/p' | head -1)
    return $status
}

caught=0 missed=0 broken=0
missed_ids=()
current_file=
while IFS=$'\t' read -r id file tests original mutated; do
    [ -n "$id" ] && [ "${id:0:1}" != "#" ] || continue
    [ -z "$only" ] || [[ $only == *",$id,"* ]] || continue
    current_file=$file
    count=$(grep -cFx -- "$original" <(sed 's/^[[:space:]]*//;s/[[:space:]]*$//' "$repo/$file") || true)
    if [ "$count" != 1 ]; then
        printf '%-5s %-9s %s (original line found %s times)\n' "$id" "no-line" "$file" "$count"
        broken=$((broken + 1))
        continue
    fi
    backup=$(mktemp)
    cp -p "$repo/$file" "$backup"
    ORIGINAL=$original MUTATED=$mutated python3 - "$repo/$file" <<'PY'
import os, sys
path = sys.argv[1]
lines = open(path, encoding="utf-8").read().split("\n")
for i, line in enumerate(lines):
    if line.strip() == os.environ["ORIGINAL"]:
        lines[i] = line[: len(line) - len(line.lstrip())] + os.environ["MUTATED"]
open(path, "w", encoding="utf-8").write("\n".join(lines))
PY
    echo "=== $id $file: $mutated" >>"$log"
    host=() win=()
    for t in $tests; do
        case $t in H:*) host+=("${t#H:}") ;; W:*) win+=("${t#W:}") ;; esac
    done
    start=$(date +%s)
    verdict=missed
    status=0
    by=
    if [ ${#host[@]} -gt 0 ]; then
        [ -d "$repo/build-service" ] || cmake --preset service -S "$repo" >>"$log" 2>&1
        run_tests "$repo/build-service" "${host[@]}" || status=$?
    fi
    if [ $status = 0 ] && [ ${#win[@]} -gt 0 ]; then
        [ -d "$repo/build-win64" ] || cmake --preset win64 -S "$repo" >>"$log" 2>&1
        need_wine
        run_tests "$repo/build-win64" "${win[@]}" || status=$?
    fi
    case $status in
        0) verdict=missed; missed=$((missed + 1)); missed_ids+=("$id") ;;
        1) verdict=caught; caught=$((caught + 1)) ;;
        *) verdict=no-build; broken=$((broken + 1)) ;;
    esac
    restore
    printf '%-5s %-7s %-26s %4ss  %s: %s\n' "$id" "$verdict" "${by:--}" "$(($(date +%s) - start))" "$file" "$mutated"
done <"$mutants"
total=$((caught + missed))
echo "caught $caught of $total ($((total ? 100 * caught / total : 0)) %), missed: ${missed_ids[*]:-none}; not built: $broken"
