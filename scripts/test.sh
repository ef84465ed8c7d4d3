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

echo "== C++ tests under ASan+UBSan"
cmake -S "$ROOT" -B "$ROOT/build/asan" -G Ninja -DCMAKE_MAKE_PROGRAM="$VENV/bin/ninja" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLANE_SANITIZE=ON -DQUILLANE_TESTS=ON -DQUILLANE_MODULE=OFF >/dev/null
cmake --build "$ROOT/build/asan"
ctest --test-dir "$ROOT/build/asan" --output-on-failure -j2

echo "== Receipt validation fuzzer, 60 seconds"
bash "$ROOT/scripts/fuzz.sh" 60

echo "== Python tests"
cd "$ROOT"
venv_python -m pytest -q tests/python

echo "== type checks (stubtest, mypy --strict)"
bash "$ROOT/scripts/check_types.sh"
