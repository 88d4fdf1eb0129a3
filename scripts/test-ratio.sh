#!/usr/bin/env bash
# Prints the lines of tests against the lines of the program they test: test C++, Python and
# shell under tests/ and the fuzz targets' code, against the program's C++ and Python. Data,
# fuzz seeds and set-up scripts count on neither side. The project aims at a third or less.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
count() { if [ $# -gt 0 ]; then cat "$@" | wc -l; else echo 0; fi; }
mapfile -t program < <(git ls-files -- app calendar common net weather settings service tools |
    grep -E '\.(cpp|h|py)$')
mapfile -t tests < <(git ls-files -- tests fuzz | grep -E '^(tests/.*\.(cpp|h|py|sh)|fuzz/[^/]*\.(cpp|h))$')
p=$(count "${program[@]}")
t=$(count "${tests[@]}")
echo "program: $p lines in ${#program[@]} files"
echo "tests:   $t lines in ${#tests[@]} files"
echo "ratio:   $((100 * t / p)) % (a third is $((p / 3)) lines)"
