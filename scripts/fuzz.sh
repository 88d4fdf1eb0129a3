#!/usr/bin/env bash
# Fuzzes every parser of outside input for SECONDS each (default 30): builds the 'fuzz'
# preset (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and runs each
# target of fuzz/ in turn from its committed seeds and reproducers, with its dictionary.
# Prints per target the executions, the coverage reached and the findings, and fails when
# there is any. Grown corpora stay in build-fuzz/corpus/ and are never committed; a
# finding is saved in build-fuzz/findings/<target>/, to be fixed in the parser and then
# copied into fuzz/<target>/reproducers/ as a regression case.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

seconds=${1:-30}
case $seconds in '' | *[!0-9]* | 0) echo "usage: fuzz.sh [SECONDS per target, at least 1]" >&2; exit 2 ;; esac

setup_once
cmake --preset fuzz -S "$repo_root" >/dev/null
cmake --build --preset fuzz >/dev/null

build="$repo_root/build-fuzz"
declare -A max_len=([page_scrape]=5000 [http_response]=20000)
summary=()
failed=()
for source in "$repo_root"/fuzz/*_fuzz.cpp; do
    name=$(basename "$source" _fuzz.cpp)
    corpus="$build/corpus/$name"
    findings="$build/findings/$name"
    log="$build/fuzz-$name.log"
    mkdir -p "$corpus" "$findings"
    inputs=("$corpus" "$repo_root/fuzz/$name/seeds")
    [ -d "$repo_root/fuzz/$name/reproducers" ] && inputs+=("$repo_root/fuzz/$name/reproducers")
    before=$(find "$findings" -type f | wc -l)
    echo "fuzz.sh: $name for ${seconds}s (log: $log)"
    # The outer bound covers loading the corpus and a last slow input on top of the run.
    status=0
    timeout --kill-after=10 $((seconds + 120)) "$build/fuzz/fuzz_$name" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="${max_len[$name]:-4096}" \
        -dict="$repo_root/fuzz/$name.dict" -artifact_prefix="$findings/" -print_final_stats=1 \
        "${inputs[@]}" >"$log" 2>&1 || status=$?
    # A run stopped by a finding may print neither line.
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n1 || true)
    corpus_files=$(find "$corpus" -type f | wc -l)
    new_findings=$(($(find "$findings" -type f | wc -l) - before))
    if [ "$status" -ne 0 ] && [ "$new_findings" -eq 0 ]; then
        new_findings=1  # stopped without saving an input, such as a fault outside one
    fi
    summary+=("$(printf '%-15s %12s executions  %-22s %6s corpus files  %s finding(s)' \
        "$name" "${runs:-?}" "${coverage:-cov: ?}" "$corpus_files" "$new_findings")")
    if [ "$new_findings" -ne 0 ]; then
        failed+=("$name")
        grep -E 'ERROR|property does not hold|SUMMARY|Test unit written' "$log" | head -n 8 >&2 || true
    fi
done

echo "fuzz.sh: ${seconds}s per target"
printf '  %s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz.sh: FINDINGS in ${failed[*]}; inputs in $build/findings/, logs in $build/fuzz-*.log" >&2
    exit 1
fi
