#!/usr/bin/env bash
# Builds the receipt-validation fuzzer (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it for SECONDS seconds (default 60),
# starting from the seed receipts in fuzz/corpus. Findings land in
# build/fuzz/artifacts/; the grown corpus is kept in build/fuzz/corpus/.
# With --build-only it builds and stops. QUILLANE_FUZZ_TESTS=ON builds the C++
# tests in the same sanitizer build (the test command runs them from there).
#   scripts/fuzz.sh [SECONDS | --build-only]
set -euo pipefail

seconds="${1:-60}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUILLANE_FUZZ_BUILD:-$root/build/fuzz}"

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ not found (apt-get install -y clang libclang-rt-14-dev)" >&2
  exit 2
fi
if ! grep -q 'QUILLANE_FUZZ' "$root/CMakeLists.txt"; then
  echo "fuzz.sh: the top-level CMakeLists.txt does not add fuzz/ under QUILLANE_FUZZ" >&2
  exit 2
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLANE_FUZZ=ON -DQUILLANE_SANITIZE=ON \
  -DQUILLANE_MODULE=OFF -DQUILLANE_TESTS="${QUILLANE_FUZZ_TESTS:-OFF}" >/dev/null
if [ "$seconds" = "--build-only" ]; then
  exec cmake --build "$build"
fi
cmake --build "$build" --target validate_fuzzer

mkdir -p "$build/corpus" "$build/artifacts"
exec "$build/fuzz/validate_fuzzer" \
  -max_total_time="$seconds" -print_final_stats=1 \
  -dict="$root/fuzz/receipt.dict" -max_len=65536 -timeout=10 -rss_limit_mb=4096 \
  -artifact_prefix="$build/artifacts/" \
  "$build/corpus" "$root/fuzz/corpus"
