#!/usr/bin/env bash
# Type checks, against the module installed in .venv (scripts/test.sh installs
# it first): stubtest holds the stubs (python/quillane-stubs) to the built
# module; mypy --strict checks the pure-Python tools, the demo, and a typed
# example whose `type: ignore` lines are misuses the stubs must keep refusing.
source "$(dirname "$0")/setup.sh"
cd "$ROOT"
venv_python -c "import mypy" 2>/dev/null || { echo "mypy is missing from .venv (scripts/setup.sh installs it)" >&2; exit 1; }

echo "== stubtest"
venv_python -m mypy.stubtest --mypy-config-file pyproject.toml quillane
echo "== mypy --strict"
venv_python -m mypy --strict python/quillane_tools scripts/demo.py tests/python/typed_example.py
