#!/usr/bin/env bash
# Builds everything and runs every test: the C++ tests (also under
# AddressSanitizer and UndefinedBehaviorSanitizer), a short fuzzing run, the
# Python tests, and the type checks of the stubs.
source "$(dirname "$0")/setup.sh"
ensure_system_packages clang libclang-rt-14-dev chromium graphviz
ensure_venv

echo "== build (module and C++ tests)"
install_module QUILLANE_TESTS=ON
echo "== C++ tests"
ctest --test-dir "$ROOT/build/wheel" --output-on-failure -j2

# One clang build with AddressSanitizer and UndefinedBehaviorSanitizer serves
# both the C++ tests and the receipt fuzzer.
echo "== C++ tests under ASan+UBSan"
export QUILLANE_FUZZ_TESTS=ON
bash "$ROOT/scripts/fuzz.sh" --build-only
ctest --test-dir "$ROOT/build/fuzz" --output-on-failure -j2

echo "== Receipt validation fuzzer, 60 seconds"
bash "$ROOT/scripts/fuzz.sh" 60

echo "== Python tests"
cd "$ROOT"
venv_python -m pytest -q tests/python

echo "== type checks (stubtest, mypy --strict)"
bash "$ROOT/scripts/check_types.sh"
