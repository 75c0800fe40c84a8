#!/usr/bin/env bash
# Native side of the tests: the portable code built with clang, AddressSanitizer,
# UndefinedBehaviorSanitizer (and LeakSanitizer with it), its unit tests, then a short
# bounded fuzz run of the INI library. Exits non-zero on any failure.
#   FUZZ_SECONDS=N   length of the fuzz smoke run (default 20)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build-native"
FUZZ_SECONDS="${FUZZ_SECONDS:-20}"

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DVESK_SANITIZE=ON -DVESK_FUZZ=ON
cmake --build "$BUILD" -j "$(nproc)"

# Sanitizer findings end the test that meets them, and leaks are reported at its exit.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
(cd "$BUILD" && ctest --output-on-failure)

# The fuzzer works on a copy of the seed corpus, so the tree is never changed.
SMOKE="$BUILD/fuzz-smoke"
rm -rf "$SMOKE"
mkdir -p "$SMOKE"
cp -r "$ROOT/fuzz/corpus" "$SMOKE/corpus"
if ! (cd "$SMOKE" && "$BUILD/bin/VeskIniFuzz" -max_len=65536 -max_total_time="$FUZZ_SECONDS" \
    -print_final_stats=1 corpus >fuzz.log 2>&1); then
    cat "$SMOKE/fuzz.log"
    echo "fuzz smoke run failed; the input is in $SMOKE" >&2
    exit 1
fi
grep -E '^(#[0-9]+ +DONE|stat::)' "$SMOKE/fuzz.log"
echo "native tests and fuzz smoke run passed"
